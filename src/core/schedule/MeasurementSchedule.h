// When the next run starts: the timer measurement's bursts and the command-line repeat.
#pragma once

#include "core/net/AddressFamily.h"
#include "core/schedule/TimerSchedule.h"

#include <QDateTime>
#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>

class WindowTimer;

class MeasurementSchedule final : public QObject {
    Q_OBJECT

public:
    static constexpr int RepeatPauseMs = 3000;
    // The window's command line repeats 1 to 5 runs.
    static constexpr std::int32_t MaxRepeat = 5;

    enum class EndReason {
        Ended,          // the last burst is over, a run was stopped too big, or OFF
        TickStartsNone, // a tick found a run going on, or its run did not start
    };

    explicit MeasurementSchedule(QObject* parent = nullptr);

    // Starts `bursts` bursts of `perBurst` runs, intervalMs from the end of one burst to the
    // next, gapMs between the runs of a burst; the first run comes one interval from now.
    // With families alternating, each of the perBurst runs is measured twice, with IPv4 and
    // then with IPv6, so that every burst has both.
    void Start(int intervalMs, int gapMs, int perBurst, int bursts);
    // Taken at the next Start(); off unless set.
    void SetAlternateFamilies(bool on) noexcept { m_alternate = on; }
    bool AlternateFamilies() const noexcept { return m_alternate; }
    // Asked while runDue is delivered: the family the run started now measures with; none
    // for a run of the command-line repeat or while families do not alternate.
    std::optional<AddressFamily> DueFamily() const noexcept { return m_dueFamily; }
    // Bursts off: timers, state and the counter; the command-line repeat goes on.
    void Stop();
    void End(EndReason reason = EndReason::Ended);
    // A download run completed: the burst goes on, the next burst is awaited or it is the end.
    // A run that no tick started (by hand, or before the first tick) takes no burst away.
    void RunCompleted();

    bool Active() const noexcept { return m_active; }
    int PerBurst() const noexcept { return m_perBurst; }
    int BurstsLeft() const noexcept { return m_burstsLeft; }
    QDateTime NextBurst() const { return m_nextBurst; } // while a burst is awaited

    // Asked at a tick: a run of either kind is going on (the tick then starts none); and after
    // runDue: the tick's run has started. Only a completed download moves the schedule on, so
    // a tick that starts none ends it rather than leave it waiting for ever.
    std::function<bool()> RunGoingOn;
    std::function<bool()> RunStarted;

    // The command-line repeat: every completed run counts it down, and while it then lies in
    // 1 … max the next run is due RepeatPauseMs later; count runs in all for count in 1 … max.
    void SetRepeatCount(std::int32_t count, std::int32_t max = MaxRepeat);
    std::int32_t RepeatCount() const noexcept { return m_repeatCount; }
    bool RepeatPending() const noexcept {
        return m_repeatCount >= 1 && m_repeatCount <= m_repeatMax;
    }
    bool RepeatAfterRun(); // true when another run follows

    WindowTimer* RepeatTimer = nullptr;   // the pause of the command-line repeat
    WindowTimer* IntervalTimer = nullptr; // up to the next burst
    WindowTimer* GapTimer = nullptr;      // between the runs of a burst

signals:
    void runDue();                // start a run now
    void changed();               // started, stopped, or the next burst awaited
    void ended(EndReason reason); // after the stop that ends it

private:
    void AwaitBurst();
    void StartBurstRun();

    bool m_active = false;
    int m_perBurst = 0;
    int m_runsPerBurst = 0; // twice m_perBurst while families alternate
    int m_runInBurst = 0;   // of the run started last, from 0
    bool m_alternate = false;
    bool m_alternating = false; // the schedule under way alternates
    std::optional<AddressFamily> m_dueFamily;
    int m_burstsLeft = 0;
    // Runs still to start in the burst after the one running; none while no burst is under way.
    std::int32_t m_burstRemaining = TimerSchedule::NoBurst;
    QDateTime m_nextBurst;
    std::int32_t m_repeatCount = 0;
    std::int32_t m_repeatMax = MaxRepeat;
};
