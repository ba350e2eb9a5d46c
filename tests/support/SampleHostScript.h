// scripts/sample-host driven from a test: nginx on 127.0.0.1 with a folder of its own and a
// free port, stopped at the latest when the object goes.
#pragma once

#include <QProcessEnvironment>
#include <QString>

class SampleHostScript final {
public:
    static QString NginxBinary() { return QStringLiteral("/usr/sbin/nginx"); }

    // hostDir becomes QM_SAMPLE_HOST_DIR; make-samples is taken from buildDir.
    SampleHostScript(const QString& buildDir, const QString& hostDir);
    ~SampleHostScript();
    SampleHostScript(const SampleHostScript&) = delete;
    SampleHostScript& operator=(const SampleHostScript&) = delete;

    // Serves hostDir/www as the test wrote it: make-samples is not run.
    void KeepServedFolder();
    // Stops a host left running by a test that was killed, then starts on a free port. A free
    // port now may be taken a moment later, so a few are tried. Empty on success, else why not.
    QString Start();
    // The script's exit code for the command (-1 when it did not finish in 60 s).
    int Run(const QString& command);

    quint16 Port() const noexcept { return m_port; }
    // What the script printed for the last command.
    const QString& Output() const noexcept { return m_output; }

private:
    QProcessEnvironment m_env;
    quint16 m_port = 0;
    bool m_running = false;
    QString m_output;
};
