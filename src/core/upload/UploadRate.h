// The send rate of an upload.
#pragma once

#include <cstdint>

// Bytes per second: bytes ÷ µs × 1,000,000 in extended precision, the division first. A
// transfer the clock could not see (under 1 µs) counts as 1 µs, so the rate stays finite
// and reads as a lower bound.
long double UploadBytesPerSecond(std::int32_t bytes, std::int64_t transferMicros);
