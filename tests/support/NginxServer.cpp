#include "support/NginxServer.h"

#include "support/ScriptedPeer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace {

// Modules whose temporary directory must be moved out of /var/lib/nginx.
QStringList TempPathModules() {
    QProcess probe;
    probe.start(NginxServer::binary(), {QStringLiteral("-V")});
    probe.waitForFinished(5000);
    const QString build = QString::fromLocal8Bit(probe.readAllStandardError());
    QStringList modules;
    for (const char* name : {"proxy", "fastcgi", "uwsgi", "scgi"}) {
        if (!build.contains(QStringLiteral("--without-http_%1_module").arg(name)))
            modules << name;
    }
    return modules;
}

} // namespace

NginxServer::NginxServer(const QString& root)
    : m_root(QDir(root).absolutePath()) {
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    // nginx must not outlive a test that crashes.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

NginxServer::~NginxServer() {
    stop();
}

QString NginxServer::errorLog() const {
    QFile log(m_dir.filePath(QStringLiteral("error.log")));
    return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
}

QString NginxServer::config() const {
    const QString dir = m_dir.path();
    QString temps = QStringLiteral("        client_body_temp_path %1/client_body;\n").arg(dir);
    for (const QString& module : TempPathModules())
        temps += QStringLiteral("        %1_temp_path %2/%1;\n").arg(module, dir);
    return QStringLiteral("pid %1/nginx.pid;\n"
                          "error_log %1/error.log info;\n"
                          "events { worker_connections 64; }\n"
                          "http {\n"
                          "    access_log off;\n"
                          "%2"
                          "    types { image/jpeg jpg; text/html html; }\n"
                          "    default_type application/octet-stream;\n"
                          "    server {\n"
                          "        listen 127.0.0.1:%3;\n"
                          "        root %4;\n"
                          "    }\n"
                          "}\n")
        .arg(dir, temps, QString::number(m_port), m_root);
}

bool NginxServer::start(QString* why) {
    if (!m_dir.isValid()) {
        if (why)
            *why = QStringLiteral("no temporary directory");
        return false;
    }
    // The free port is only known to be free a moment ago: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOnce(why))
            return true;
    }
    return false;
}

bool NginxServer::startOnce(QString* why) {
    m_port = ClosedPort();
    const QString conf = m_dir.filePath(QStringLiteral("nginx.conf"));
    QFile file(conf);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(config().toUtf8()) < 0) {
        if (why)
            *why = QStringLiteral("cannot write ") + conf;
        return false;
    }
    file.close();
    m_process.start(binary(),
                    {QStringLiteral("-p"), m_dir.path(), QStringLiteral("-c"), conf,
                     QStringLiteral("-e"), m_dir.filePath(QStringLiteral("error.log")),
                     QStringLiteral("-g"), QStringLiteral("daemon off; master_process off;")});
    if (!m_process.waitForStarted(5000)) {
        if (why)
            *why = QStringLiteral("cannot start ") + binary() + ": " + m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200))
            return true;
        QTest::qWait(20);
    }
    if (why)
        *why = QStringLiteral("nginx did not come up: ") + errorLog();
    stop();
    return false;
}

void NginxServer::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}
