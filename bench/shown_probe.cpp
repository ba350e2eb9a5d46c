// Preloaded into the real program: writes, to the file named by QM_BENCH_SHOWN_FILE, the
// milliseconds from QM_BENCH_EXEC_T0 (wall clock, seconds, taken just before exec) to the
// main window's show, its first expose, and the end of the events that expose started.
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdlib>
#include <ctime>

namespace {

double NowSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class ShownProbe final : public QObject {
public:
    explicit ShownProbe(double t0)
        : m_t0(t0) {}

    bool eventFilter(QObject* object, QEvent* event) override {
        if (m_done)
            return false;
        if (event->type() == QEvent::Show && m_showMs < 0) {
            auto* widget = qobject_cast<QWidget*>(object);
            if (widget && widget->isWindow() && widget->objectName() == QLatin1String("Form1"))
                m_showMs = Elapsed();
        } else if (event->type() == QEvent::Expose && m_showMs >= 0 && m_exposeMs < 0) {
            auto* window = qobject_cast<QWindow*>(object);
            if (window && window->isExposed()) {
                m_exposeMs = Elapsed();
                // Runs once the expose (and the painting it starts) has been handled.
                QTimer::singleShot(0, this, [this] { Report(Elapsed()); });
            }
        }
        return false;
    }

private:
    double Elapsed() const { return (NowSeconds() - m_t0) * 1000.0; }

    void Report(double paintedMs) {
        m_done = true;
        QFile out(qEnvironmentVariable("QM_BENCH_SHOWN_FILE"));
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(QStringLiteral("%1 %2 %3\n")
                          .arg(m_showMs, 0, 'f', 1)
                          .arg(m_exposeMs, 0, 'f', 1)
                          .arg(paintedMs, 0, 'f', 1)
                          .toLatin1());
    }

    double m_t0;
    double m_showMs = -1;
    double m_exposeMs = -1;
    bool m_done = false;
};

void InstallProbe() {
    const QByteArray t0 = qgetenv("QM_BENCH_EXEC_T0");
    if (t0.isEmpty() || qEnvironmentVariableIsEmpty("QM_BENCH_SHOWN_FILE"))
        return;
    auto* probe = new ShownProbe(std::strtod(t0.constData(), nullptr));
    probe->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(probe);
}

// Runs when the library is loaded, before main: the probe is installed by the application
// object's constructor.
[[maybe_unused]] const bool registered = [] {
    qAddPreRoutine(InstallProbe);
    return true;
}();

} // namespace
