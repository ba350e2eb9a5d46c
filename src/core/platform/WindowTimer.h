// A window timer: Enabled, Interval and an OnTimer handler over QTimer.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class WindowTimer final : public QObject {
    Q_OBJECT

public:
    explicit WindowTimer(QObject* parent = nullptr, int interval = 1000);

    bool Enabled() const noexcept { return m_enabled; }
    // Enabling starts a full interval; enabling an enabled timer changes nothing.
    void setEnabled(bool enabled);
    int Interval() const noexcept { return m_interval; }
    // A new interval restarts a running timer; interval 0 never fires.
    void setInterval(int interval);

    // Runs inside the handler guard on every tick while enabled.
    std::function<void()> OnTimer;

private:
    void update();

    QTimer m_timer;
    bool m_enabled = false;
    int m_interval = 1000;
};
