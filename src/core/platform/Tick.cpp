#include "core/platform/Tick.h"

#include <ctime>

namespace {
std::uint32_t g_tickOffset = 0;

std::int64_t monotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}
} // namespace

std::uint32_t Tick() {
    return static_cast<std::uint32_t>(monotonicMicros() / 1000) + g_tickOffset;
}

std::int64_t TickMicros() {
    return monotonicMicros();
}

void SetTickOffsetForTest(std::uint32_t offset) {
    g_tickOffset = offset;
}
