#include "server/UploadSink.h"

#include <QLocalSocket>
#include <QTimer>
#include <optional>

namespace {

// One request from nginx: the header, then the body counted as it comes.
class SinkConnection final : public QObject {
public:
    SinkConnection(QLocalSocket* socket, std::chrono::milliseconds idleTimeout, UploadSink* sink)
        : QObject(sink)
        , m_socket(socket)
        , m_sink(sink) {
        m_socket->setParent(this);
        // Bounds what Qt buffers for us; the rest waits in the kernel until we drained it.
        m_socket->setReadBufferSize(1 << 20);
        m_idle.setSingleShot(true);
        m_idle.setInterval(idleTimeout);
        connect(&m_idle, &QTimer::timeout, this, [this] { end(UploadSink::Outcome::TimedOut); });
        connect(m_socket, &QLocalSocket::readyRead, this, &SinkConnection::read);
        connect(m_socket, &QLocalSocket::disconnected, this,
                [this] { end(UploadSink::Outcome::ClosedEarly); });
        m_idle.start();
        read();
    }

private:
    void read() {
        if (m_ended)
            return;
        m_idle.start();
        if (m_length < 0 && !readHeader())
            return;
        // The body is skipped, never stored.
        m_received += m_socket->skip(m_socket->bytesAvailable());
        if (m_received >= m_length)
            answer(200, "OK", QByteArrayLiteral("{\"bytes\":") + QByteArray::number(m_length) + '}',
                   UploadSink::Outcome::Counted);
    }

    // True once the header is complete and acceptable; the bytes after it are body.
    bool readHeader() {
        m_header += m_socket->read(UploadSink::MaxHeaderBytes + 4 - m_header.size());
        const qsizetype end = m_header.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_header.size() > UploadSink::MaxHeaderBytes)
                refuse(431, "Request Header Fields Too Large");
            return false;
        }
        m_received = m_header.size() - end - 4;
        const QList<QByteArray> lines = m_header.left(end).split('\n');
        if (!lines.first().startsWith("POST ")) {
            refuse(405, "Method Not Allowed");
            return false;
        }
        std::optional<qint64> length;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray& line = lines.at(i);
            const qsizetype colon = line.indexOf(':');
            if (colon < 0 || line.left(colon).trimmed().toLower() != "content-length")
                continue;
            bool ok = false;
            const QByteArray value = line.mid(colon + 1).trimmed();
            const qint64 n = value.toLongLong(&ok);
            if (!ok || n < 0 || value.startsWith('+') || (length && *length != n)) {
                refuse(400, "Bad Request");
                return false;
            }
            length = n;
        }
        if (!length) {
            refuse(411, "Length Required");
            return false;
        }
        if (*length > UploadSink::MaxBodyBytes) {
            refuse(413, "Content Too Large");
            return false;
        }
        m_length = *length;
        m_header.clear();
        return true;
    }

    void refuse(int code, const char* reason) {
        answer(code, reason, QByteArray(), UploadSink::Outcome::Refused);
    }

    void answer(int code, const char* reason, const QByteArray& body, UploadSink::Outcome outcome) {
        QByteArray reply = "HTTP/1.0 " + QByteArray::number(code) + ' ' + reason + "\r\n";
        if (!body.isEmpty())
            reply += "Content-Type: application/json\r\nCache-Control: no-store\r\n";
        reply +=
            "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
        m_socket->write(reply + body);
        end(outcome, outcome == UploadSink::Outcome::Counted ? m_length : m_received);
    }

    void end(UploadSink::Outcome outcome, std::optional<qint64> received = {}) {
        if (m_ended)
            return;
        m_ended = true;
        m_idle.stop();
        disconnect(m_socket, nullptr, this, nullptr);
        emit m_sink->connectionEnded(outcome, received.value_or(m_received));
        // disconnectFromServer sends what is still buffered before it closes: the connection
        // goes once the socket is closed, not before.
        connect(m_socket, &QLocalSocket::disconnected, this, &QObject::deleteLater);
        m_socket->disconnectFromServer();
        if (m_socket->state() == QLocalSocket::UnconnectedState)
            deleteLater();
    }

    QLocalSocket* m_socket = nullptr;
    UploadSink* m_sink = nullptr;
    QTimer m_idle;
    QByteArray m_header;
    qint64 m_length = -1; // -1 while the header is read
    qint64 m_received = 0;
    bool m_ended = false;
};

} // namespace

UploadSink::UploadSink(QObject* parent)
    : QObject(parent) {
    connect(&m_server, &QLocalServer::newConnection, this, &UploadSink::accept);
}

bool UploadSink::listen(const QString& socketPath) {
    QLocalServer::removeServer(socketPath);
    // The socket's folder is the server's own; nginx runs as the same user.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    return m_server.listen(socketPath);
}

void UploadSink::accept() {
    while (QLocalSocket* socket = m_server.nextPendingConnection())
        new SinkConnection(socket, m_idleTimeout, this);
}
