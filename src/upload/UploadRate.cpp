#include "upload/UploadRate.h"

long double UploadBytesPerSecond(std::int32_t bytes, std::int32_t transferMs) {
    const long double ms = transferMs < 1 ? 1.0L : static_cast<long double>(transferMs);
    return static_cast<long double>(bytes) / ms * 1000;
}
