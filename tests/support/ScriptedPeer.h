// A server on 127.0.0.1 that plays a script of exact bytes, pauses and closes per connection.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <vector>

class QTcpSocket;

class ScriptedPeer final : public QObject {
    Q_OBJECT

public:
    // Listens on the given port (0: any free one).
    explicit ScriptedPeer(quint16 port = 0, QObject* parent = nullptr);
    // Listens on another address, e.g. QHostAddress::LocalHostIPv6.
    explicit ScriptedPeer(const QHostAddress& address, quint16 port = 0, QObject* parent = nullptr);
    ~ScriptedPeer() override;

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    // "http://127.0.0.1:<port>" followed by the path.
    std::string url(const std::string& path = "/") const;

    // Steps for the current connection's script. A script that ends without close()
    // keeps its connection open and silent.
    ScriptedPeer& readRequest(); // until the client has sent an empty line
    ScriptedPeer& send(const QByteArray& bytes);
    // After readRequest: until the body its Content-Length announced has arrived, read at
    // bytesPerSecond (0: as fast as it comes).
    ScriptedPeer& readBody(qint64 bytesPerSecond = 0);
    // A sink's 200 reply {"bytes":N}, N the body bytes read plus delta.
    ScriptedPeer& sendBodyCount(qint64 delta = 0);
    // The bytes in pieces of the given sizes (repeated as needed), a pause between pieces.
    ScriptedPeer& sendInPieces(const QByteArray& bytes, const QList<int>& sizes, int gapMs);
    // Sends count bytes, the pattern repeated, as fast as the client takes them.
    ScriptedPeer& stream(qint64 count, const QByteArray& pattern = "x");
    ScriptedPeer& pause(int ms);
    ScriptedPeer& close(); // orderly close after everything queued has gone out
    ScriptedPeer& reset(); // closes with a reset
    // Starts the script of the next connection; later connections replay the last script.
    ScriptedPeer& next();

    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    // Everything the client sent on a connection.
    QByteArray received(int connection = 0) const;
    // Whether the client has closed the connection.
    bool clientClosed(int connection = 0) const;
    // When a connection was accepted, on QElapsedTimer's monotonic clock
    // (msecsSinceReference), so tests can compare it with their own readings.
    qint64 acceptedAt(int connection) const;

private:
    struct Step {
        enum Kind { ReadRequest, ReadBody, SendCount, Send, Stream, Pause, Close, Reset } kind;
        QByteArray bytes;
        qint64 count = 0;
    };
    struct Connection {
        QTcpSocket* socket = nullptr;
        qint64 acceptedAt = 0;
        int script = 0;
        int step = 0;
        qsizetype requestScan = 0;
        qsizetype bodyEnd = -1;
        bool paced = false;
        qint64 streamLeft = -1;
        QByteArray received;
        bool clientClosed = false;
        bool finished = false;
    };

    ScriptedPeer& add(Step step);
    void accept();
    void advance(int index);
    void feedStream(int index);
    // Whether the body announced by the last request has arrived; starts a paced read.
    bool bodyRead(int index, qint64 bytesPerSecond);

    QTcpServer m_server;
    std::vector<std::vector<Step>> m_scripts{1};
    std::vector<Connection> m_connections;
};

// A listener whose backlog is full: a connect to it stays unanswered (no SYN-ACK).
class StalledListener final {
public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;

    bool isReady() const { return m_ready; }
    quint16 port() const { return m_port; }

private:
    int m_listener = -1;
    int m_filler = -1;
    quint16 m_port = 0;
    bool m_ready = false;
};
