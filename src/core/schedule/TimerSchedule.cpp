#include "core/schedule/TimerSchedule.h"

namespace TimerSchedule {

int IntervalMs(int minutes, int msPerMinute) {
    return minutes * msPerMinute;
}

std::int32_t BurstStarted(int perBurst) {
    return perBurst - 1;
}

GapTick GapElapsed(std::int32_t counter) {
    if (counter <= NoBurst)
        return {counter, false};
    --counter;
    return {counter, counter >= 0};
}

AfterRun RunCompleted(std::int32_t counter, int burstsLeft) {
    if (counter > 0)
        return {Next::NextRun, counter, burstsLeft};
    if (counter < 0)
        return {Next::Nothing, counter, burstsLeft};
    --burstsLeft;
    return {burstsLeft > 0 ? Next::NextBurst : Next::End, NoBurst, burstsLeft};
}

} // namespace TimerSchedule
