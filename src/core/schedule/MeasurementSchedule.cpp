#include "core/schedule/MeasurementSchedule.h"

#include "core/platform/WindowTimer.h"

MeasurementSchedule::MeasurementSchedule(QObject* parent)
    : QObject(parent)
    , RepeatTimer(new WindowTimer(this, RepeatPauseMs))
    , IntervalTimer(new WindowTimer(this, 0))
    , GapTimer(new WindowTimer(this, 0)) {
    // Named as the main window's components.
    RepeatTimer->setObjectName(QStringLiteral("Timer2"));
    IntervalTimer->setObjectName(QStringLiteral("Timer3"));
    GapTimer->setObjectName(QStringLiteral("Timer4"));
    RepeatTimer->OnTimer = [this] {
        RepeatTimer->setEnabled(false);
        emit runDue();
    };
    IntervalTimer->OnTimer = [this] {
        IntervalTimer->setEnabled(false);
        m_burstRemaining = TimerSchedule::BurstStarted(m_runsPerBurst);
        m_runInBurst = 0;
        StartBurstRun();
    };
    GapTimer->OnTimer = [this] {
        GapTimer->setEnabled(false);
        const TimerSchedule::GapTick tick = TimerSchedule::GapElapsed(m_burstRemaining);
        m_burstRemaining = tick.counter;
        if (tick.startRun) {
            ++m_runInBurst;
            StartBurstRun();
        }
    };
}

void MeasurementSchedule::Start(int intervalMs, int gapMs, int perBurst, int bursts) {
    m_active = true;
    IntervalTimer->setInterval(intervalMs);
    GapTimer->setInterval(gapMs);
    m_perBurst = perBurst;
    m_alternating = m_alternate;
    m_runsPerBurst = m_alternating ? 2 * perBurst : perBurst;
    m_burstsLeft = bursts;
    // A run already going on when the schedule starts is not one of its bursts.
    m_burstRemaining = TimerSchedule::NoBurst;
    AwaitBurst();
}

void MeasurementSchedule::AwaitBurst() {
    IntervalTimer->setEnabled(true);
    m_nextBurst = QDateTime::currentDateTime().addMSecs(IntervalTimer->Interval());
    emit changed();
}

void MeasurementSchedule::Stop() {
    IntervalTimer->setEnabled(false);
    GapTimer->setEnabled(false);
    IntervalTimer->setInterval(0);
    GapTimer->setInterval(0);
    m_active = false;
    m_perBurst = m_runsPerBurst = m_burstsLeft = 0;
    m_alternating = false;
    m_burstRemaining = TimerSchedule::NoBurst;
    emit changed();
}

void MeasurementSchedule::End(EndReason reason) {
    Stop();
    emit ended(reason);
}

void MeasurementSchedule::StartBurstRun() {
    if (RunGoingOn && RunGoingOn()) {
        End(EndReason::TickStartsNone);
        return;
    }
    const auto endUnlessStarted = [this] {
        // An error reply, a too-big file or the window closing has ended it already.
        if (m_active && !(RunStarted && RunStarted()))
            End(EndReason::TickStartsNone);
    };
    if (m_alternating)
        m_dueFamily = m_runInBurst % 2 == 0 ? AddressFamily::Ipv4 : AddressFamily::Ipv6;
    try {
        emit runDue();
    } catch (...) {
        m_dueFamily.reset();
        endUnlessStarted();
        throw;
    }
    m_dueFamily.reset();
    endUnlessStarted();
}

void MeasurementSchedule::RunCompleted() {
    if (!m_active)
        return;
    const TimerSchedule::AfterRun after =
        TimerSchedule::RunCompleted(m_burstRemaining, m_burstsLeft);
    m_burstRemaining = after.counter;
    m_burstsLeft = after.burstsLeft;
    if (after.next == TimerSchedule::Next::NextRun)
        GapTimer->setEnabled(true);
    else if (after.next == TimerSchedule::Next::NextBurst)
        AwaitBurst();
    else if (after.next == TimerSchedule::Next::End)
        End();
}

void MeasurementSchedule::SetRepeatCount(std::int32_t count, std::int32_t max) {
    m_repeatCount = count;
    m_repeatMax = max;
}

bool MeasurementSchedule::RepeatAfterRun() {
    --m_repeatCount;
    if (!RepeatPending())
        return false;
    RepeatTimer->setEnabled(true);
    return true;
}
