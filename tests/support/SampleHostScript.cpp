#include "support/SampleHostScript.h"

#include "support/TestHelpers.h"

#include <QProcess>

SampleHostScript::SampleHostScript(const QString& buildDir, const QString& hostDir)
    : m_env(QProcessEnvironment::systemEnvironment()) {
    m_env.insert(QStringLiteral("QM_BUILD_DIR"), buildDir);
    m_env.insert(QStringLiteral("QM_SAMPLE_HOST_DIR"), hostDir);
}

SampleHostScript::~SampleHostScript() {
    if (m_running)
        Run(QStringLiteral("stop"));
}

void SampleHostScript::KeepServedFolder() {
    // The script runs its tool on the folder only to fill it.
    m_env.insert(QStringLiteral("QM_SAMPLE_TOOL"), QStringLiteral("/bin/true"));
}

int SampleHostScript::Run(const QString& command) {
    QProcess script;
    script.setProcessEnvironment(m_env);
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(
        QStringLiteral("bash"),
        {qEnvironmentVariable("QM_SOURCE_DIR") + QStringLiteral("/scripts/sample-host"), command});
    if (!script.waitForFinished(60000)) {
        script.kill();
        script.waitForFinished();
        m_output = QStringLiteral("sample-host %1 did not finish in 60 s").arg(command);
        return -1;
    }
    m_output = QString::fromLocal8Bit(script.readAll());
    const int code = script.exitStatus() == QProcess::NormalExit ? script.exitCode() : -1;
    if (code == 0 && command == QLatin1String("stop"))
        m_running = false;
    return code;
}

QString SampleHostScript::Start() {
    Run(QStringLiteral("stop"));
    for (int attempt = 0; attempt < 5; ++attempt) {
        const quint16 port = ClosedPort();
        m_env.insert(QStringLiteral("QM_SAMPLE_PORT"), QString::number(port));
        if (Run(QStringLiteral("start")) == 0) {
            m_port = port;
            m_running = true;
            return {};
        }
        if (!m_output.contains(QLatin1String("Address already in use")))
            return QStringLiteral("sample-host start: ") + m_output;
    }
    return QStringLiteral("no free port for the sample host");
}
