// The send rate of an upload.
#pragma once

#include <cstdint>

// Bytes per second: bytes ÷ ms × 1000 in extended precision, the division first. A
// transfer the tick counter could not see (under 1 ms) counts as 1 ms, so the rate
// stays finite and reads as a lower bound.
long double UploadBytesPerSecond(std::int32_t bytes, std::int32_t transferMs);
