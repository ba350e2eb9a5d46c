// The timer measurement's arithmetic: the interval, and the runs and bursts of a schedule.
#pragma once

#include <cstdint>

namespace TimerSchedule {

inline constexpr int MsPerMinute = 60000;
// The pause between the runs of one burst.
inline constexpr int GapMs = 3000;
// The remaining-in-burst counter while no burst is under way: a run that completes then
// (one the user or the command line started) leaves the schedule as it is.
inline constexpr std::int32_t NoBurst = -1;

// The interval between bursts for the chosen minutes; a minute lasts msPerMinute.
int IntervalMs(int minutes, int msPerMinute = MsPerMinute);

// The interval timer fired and the first run of a burst of perBurst runs starts now:
// the counter of runs still to start after it.
std::int32_t BurstStarted(int perBurst);

// The gap timer fired.
struct GapTick {
    std::int32_t counter = NoBurst;
    bool startRun = false;
};
GapTick GapElapsed(std::int32_t counter);

// What a completed download run leads to.
enum class Next {
    NextRun,   // the burst goes on: arm the gap timer
    NextBurst, // the burst is over, others are left: arm the interval timer
    End,       // the last burst is over: end the schedule
    Nothing,   // the run was not one of a burst
};
struct AfterRun {
    Next next = Next::Nothing;
    std::int32_t counter = NoBurst;
    int burstsLeft = 0;
};
AfterRun RunCompleted(std::int32_t counter, int burstsLeft);

} // namespace TimerSchedule
