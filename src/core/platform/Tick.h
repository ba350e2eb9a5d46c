// The millisecond tick counter and a finer monotonic clock.
#pragma once

#include <cstdint>

// Milliseconds of a monotonic clock as a wrapping 32-bit counter.
std::uint32_t Tick();

// Microseconds of the same monotonic clock, not wrapping.
std::int64_t TickMicros();

// Elapsed milliseconds between two ticks: the 32-bit difference read as signed.
inline std::int32_t TickDiff(std::uint32_t later, std::uint32_t earlier) {
    return static_cast<std::int32_t>(later - earlier);
}

// Tests move the counter to check behaviour across the 32-bit wrap.
void SetTickOffsetForTest(std::uint32_t offset);
