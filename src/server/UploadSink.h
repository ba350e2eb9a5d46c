// The upload sink behind quillmet-server's nginx: reads a POST body to its last byte, keeps
// none of it, and only then answers {"bytes":N}.
#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <chrono>

// nginx alone cannot do this: its `return` answers as soon as the header is read and drops
// the body afterwards, and without a scripting module it has no way to report a body's length
// once read. So nginx forwards the body unbuffered (proxy_request_buffering off) to this unix
// socket; the reply leaves after the Content-Length-th byte arrived, which nginx can only send
// after it read that byte from the client. An upload timed up to the reply is then true.
class UploadSink final : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 MaxBodyBytes = 256LL * 1024 * 1024;
    static constexpr qsizetype MaxHeaderBytes = 8 * 1024;

    // How one connection ended.
    enum class Outcome {
        Counted,     // the whole body was read and its size answered
        ClosedEarly, // the peer left before the last byte; nothing answered
        Refused,     // a 4xx answer: not POST, no or bad Content-Length, too large, header too long
        TimedOut,    // no byte for the idle time; closed
    };
    Q_ENUM(Outcome)

    explicit UploadSink(QObject* parent = nullptr);

    // Listens on a unix socket, replacing a stale one left at that path.
    bool listen(const QString& socketPath);
    QString errorString() const { return m_server.errorString(); }
    void setIdleTimeout(std::chrono::milliseconds timeout) { m_idleTimeout = timeout; }

signals:
    // bytes: the body bytes read on that connection.
    void connectionEnded(UploadSink::Outcome outcome, qint64 bytes);

private:
    void accept();

    QLocalServer m_server;
    std::chrono::milliseconds m_idleTimeout{std::chrono::seconds(60)};
};
