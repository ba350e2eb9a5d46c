// build/quillmet-cli as a child process with no display at all, waited for with the event
// loop running (so that in-process peers keep serving).
#pragma once

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <sys/prctl.h>

struct CliResult {
    int exitCode = -1;
    bool normalExit = false; // ended by itself: no crash, no signal
    bool finished = false;   // within the time given
    QString out;
    QString err;
    qint64 ms = 0;
};

class CliProcess final {
public:
    // outFile: standard output appends to that file instead of a pipe.
    CliProcess(const QString& workDir, const QStringList& arguments, const QString& outFile = {}) {
        auto env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(workDir);
        if (!outFile.isEmpty())
            m_process.setStandardOutputFile(outFile, QIODevice::Append);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_clock.start();
        m_process.start(qEnvironmentVariable("QM_BINARY_DIR") + QStringLiteral("/quillmet-cli"),
                        arguments);
    }
    ~CliProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }

    CliResult finish(int timeoutMs = 60000) {
        const QDeadlineTimer deadline(timeoutMs);
        while (m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(10);
        CliResult r;
        r.ms = m_clock.elapsed();
        r.finished = m_process.state() == QProcess::NotRunning;
        r.normalExit = r.finished && m_process.exitStatus() == QProcess::NormalExit;
        r.exitCode = r.finished ? m_process.exitCode() : -1;
        r.out = QString::fromUtf8(m_process.readAllStandardOutput());
        r.err = QString::fromUtf8(m_process.readAllStandardError());
        return r;
    }

private:
    QProcess m_process;
    QElapsedTimer m_clock;
};

inline CliResult RunCli(const QString& workDir, const QStringList& arguments, int timeoutMs = 60000,
                        const QString& outFile = {}) {
    CliProcess process(workDir, arguments, outFile);
    return process.finish(timeoutMs);
}

inline QString Describe(const CliResult& r) {
    return QStringLiteral("exit %1%2 after %3 ms\nstdout: %4\nstderr: %5")
        .arg(r.exitCode)
        .arg(r.normalExit ? QString() : QStringLiteral(" (crashed, killed or still running)"))
        .arg(r.ms)
        .arg(r.out, r.err);
}
