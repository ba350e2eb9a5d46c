#include "core/upload/UploadRate.h"

long double UploadBytesPerSecond(std::int32_t bytes, std::int64_t transferMicros) {
    const long double micros = transferMicros < 1 ? 1.0L : static_cast<long double>(transferMicros);
    return static_cast<long double>(bytes) / micros * 1000000;
}
