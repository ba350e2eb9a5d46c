#include "core/platform/WindowTimer.h"

#include "core/platform/EventErrors.h"

WindowTimer::WindowTimer(QObject* parent, int interval)
    : QObject(parent)
    , m_interval(interval) {
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this]() {
        if (OnTimer)
            Guarded(OnTimer);
    });
}

void WindowTimer::setEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    update();
}

void WindowTimer::setInterval(int interval) {
    if (interval == m_interval)
        return;
    m_interval = interval;
    update();
}

void WindowTimer::update() {
    m_timer.stop();
    if (m_enabled && m_interval > 0)
        m_timer.start(m_interval);
}
