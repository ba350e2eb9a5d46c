// A real nginx serving a directory on a free 127.0.0.1 port, for the length of a test.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class NginxServer final {
public:
    static QString binary() { return QStringLiteral("/usr/sbin/nginx"); }

    // Serves the files under root; nothing runs until start().
    explicit NginxServer(const QString& root);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Starts nginx and waits until it accepts connections; on failure says why.
    bool start(QString* why = nullptr);
    void stop();
    quint16 port() const { return m_port; }
    QString errorLog() const;

private:
    bool startOnce(QString* why);
    QString config() const;

    QString m_root;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
