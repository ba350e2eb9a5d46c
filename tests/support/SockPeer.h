// A loopback TCP peer for socket tests: accepts on 127.0.0.1, greets, records what
// it receives, and closes or resets the connection on request.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

class SockPeer final : public QObject {
    Q_OBJECT

public:
    explicit SockPeer(QObject* parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }

    // Sent as soon as a connection is accepted; optionally closed right after it.
    void setGreeting(const QByteArray& greeting, bool closeAfter = false);
    // While paused the kernel still completes connections, but nobody reads them.
    void pauseAccepting() { m_server.pauseAccepting(); }
    void resumeAccepting() { m_server.resumeAccepting(); }

    QTcpSocket* client() const { return m_client; }
    int connections() const { return m_connections; }
    const QByteArray& received() const { return m_received; }
    bool clientGone() const { return m_clientGone; }

    void send(const QByteArray& data);
    void close();
    // Closes with a reset (linger 0) instead of a graceful end.
    void reset();

private:
    void accept();

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_greeting;
    bool m_closeAfterGreeting = false;
    int m_connections = 0;
    QByteArray m_received;
    bool m_clientGone = false;
};
