#include "support/ScriptedPeer.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

ScriptedPeer::ScriptedPeer(quint16 port, QObject* parent)
    : ScriptedPeer(QHostAddress(QHostAddress::LocalHost), port, parent) {}

ScriptedPeer::ScriptedPeer(const QHostAddress& address, quint16 port, QObject* parent)
    : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedPeer::accept);
    m_server.listen(address, port);
}

ScriptedPeer::~ScriptedPeer() {
    for (auto& connection : m_connections) {
        if (connection.socket) {
            connection.socket->disconnect(this);
            connection.socket->abort();
        }
    }
}

std::string ScriptedPeer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port()) + path;
}

ScriptedPeer& ScriptedPeer::add(Step step) {
    m_scripts.back().push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::readRequest() {
    return add({Step::ReadRequest, {}, 0});
}

ScriptedPeer& ScriptedPeer::readBody(qint64 bytesPerSecond) {
    return add({Step::ReadBody, {}, bytesPerSecond});
}

ScriptedPeer& ScriptedPeer::sendBodyCount(qint64 delta) {
    return add({Step::SendCount, {}, delta});
}

ScriptedPeer& ScriptedPeer::send(const QByteArray& bytes) {
    return add({Step::Send, bytes, 0});
}

ScriptedPeer& ScriptedPeer::sendInPieces(const QByteArray& bytes, const QList<int>& sizes,
                                         int gapMs) {
    qsizetype at = 0;
    for (int i = 0; at < bytes.size(); ++i) {
        const int size = qMax(1, sizes.at(i % sizes.size()));
        if (at > 0)
            pause(gapMs);
        send(bytes.mid(at, size));
        at += size;
    }
    return *this;
}

ScriptedPeer& ScriptedPeer::stream(qint64 count, const QByteArray& pattern) {
    return add({Step::Stream, pattern.isEmpty() ? QByteArray("x") : pattern, count});
}

ScriptedPeer& ScriptedPeer::pause(int ms) {
    return add({Step::Pause, {}, ms});
}

ScriptedPeer& ScriptedPeer::close() {
    return add({Step::Close, {}, 0});
}

ScriptedPeer& ScriptedPeer::reset() {
    return add({Step::Reset, {}, 0});
}

ScriptedPeer& ScriptedPeer::next() {
    m_scripts.emplace_back();
    return *this;
}

QByteArray ScriptedPeer::received(int connection) const {
    return connection < connectionCount() ? m_connections[connection].received : QByteArray();
}

bool ScriptedPeer::clientClosed(int connection) const {
    return connection < connectionCount() && m_connections[connection].clientClosed;
}

qint64 ScriptedPeer::acceptedAt(int connection) const {
    return connection < connectionCount() ? m_connections[connection].acceptedAt : 0;
}

void ScriptedPeer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        const int index = connectionCount();
        Connection connection;
        connection.socket = socket;
        QElapsedTimer now;
        now.start();
        connection.acceptedAt = now.msecsSinceReference();
        connection.script = qMin(index, static_cast<int>(m_scripts.size()) - 1);
        m_connections.push_back(connection);
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, index] {
            auto& c = m_connections[index];
            if (c.paced)
                return;
            c.received += c.socket->readAll();
            advance(index);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, index] {
            // Our own close emits this too; only a close by the client counts.
            if (!m_connections[index].finished)
                m_connections[index].clientClosed = true;
        });
        // A client closing with a reset shows up as an error instead.
        connect(socket, &QTcpSocket::errorOccurred, this, [this, index] {
            if (!m_connections[index].finished)
                m_connections[index].clientClosed = true;
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, index] { feedStream(index); });
        advance(index);
    }
}

bool ScriptedPeer::bodyRead(int index, qint64 bytesPerSecond) {
    auto& c = m_connections[index];
    if (c.bodyEnd < c.requestScan) {
        const QByteArray head = c.received.left(c.requestScan).toLower();
        const qsizetype at = head.lastIndexOf("content-length:");
        const qsizetype eol = head.indexOf("\r\n", at);
        const qint64 length = at < 0 ? 0 : head.mid(at + 15, eol - at - 15).trimmed().toLongLong();
        c.bodyEnd = c.requestScan + length;
        if (bytesPerSecond > 0) {
            // Qt stops taking bytes from the kernel while its small buffer is full.
            c.paced = true;
            c.socket->setReadBufferSize(16 * 1024);
            auto* tick = new QTimer(this);
            connect(tick, &QTimer::timeout, this, [this, index, tick, bytesPerSecond] {
                auto& paced = m_connections[index];
                paced.received += paced.socket->read(qMax<qint64>(1, bytesPerSecond / 100));
                if (paced.received.size() >= paced.bodyEnd || paced.finished ||
                    paced.clientClosed) {
                    paced.paced = false;
                    paced.socket->setReadBufferSize(0);
                    tick->deleteLater();
                    tick->stop();
                    paced.received += paced.socket->readAll();
                }
                advance(index);
            });
            tick->start(10);
        }
    }
    return !c.paced && c.received.size() >= c.bodyEnd;
}

void ScriptedPeer::feedStream(int index) {
    auto& c = m_connections[index];
    if (c.streamLeft < 0 || c.finished)
        return;
    // Whole patterns per block, so the stream stays the pattern repeated.
    const QByteArray& pattern = m_scripts[c.script][c.step].bytes;
    const QByteArray block = pattern.repeated(qMax<qsizetype>(1, 64 * 1024 / pattern.size()));
    while (c.streamLeft > 0 && c.socket->bytesToWrite() < 256 * 1024) {
        const qint64 piece = qMin<qint64>(c.streamLeft, block.size());
        c.socket->write(block.left(piece));
        c.streamLeft -= piece;
    }
    if (c.streamLeft == 0) {
        c.streamLeft = -1;
        ++c.step;
        advance(index);
    }
}

void ScriptedPeer::advance(int index) {
    auto& c = m_connections[index];
    const auto& script = m_scripts[c.script];
    while (!c.finished && c.streamLeft < 0 && c.step < static_cast<int>(script.size())) {
        const Step& step = script[c.step];
        switch (step.kind) {
        case Step::ReadRequest: {
            const auto end = c.received.indexOf("\r\n\r\n", c.requestScan);
            if (end < 0)
                return;
            c.requestScan = end + 4;
            ++c.step;
            break;
        }
        case Step::ReadBody:
            if (!bodyRead(index, step.count))
                return;
            ++c.step;
            break;
        case Step::SendCount: {
            const qint64 read = qMin(c.received.size(), c.bodyEnd) - c.requestScan;
            const QByteArray json = "{\"bytes\":" + QByteArray::number(read + step.count) + "}";
            c.socket->write(
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                QByteArray::number(json.size()) + "\r\nConnection: close\r\n\r\n" + json);
            c.socket->flush();
            ++c.step;
            break;
        }
        case Step::Send:
            c.socket->write(step.bytes);
            c.socket->flush();
            ++c.step;
            break;
        case Step::Stream:
            c.streamLeft = step.count;
            feedStream(index);
            return;
        case Step::Pause:
            ++c.step;
            QTimer::singleShot(static_cast<int>(step.count), this,
                               [this, index] { advance(index); });
            return;
        case Step::Close:
            c.finished = true;
            c.socket->disconnectFromHost();
            return;
        case Step::Reset: {
            c.finished = true;
            const linger option{1, 0};
            ::setsockopt(static_cast<int>(c.socket->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                         &option, sizeof option);
            c.socket->abort();
            return;
        }
        }
    }
}

StalledListener::StalledListener() {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(m_listener, 0) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return;
    m_port = ntohs(address.sin_port);
    // A backlog of 0 holds one connection; this one fills it, so later SYNs are dropped.
    m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::connect(m_filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    pollfd wait{m_filler, POLLOUT, 0};
    int error = 0;
    socklen_t errorSize = sizeof error;
    m_ready = ::poll(&wait, 1, 2000) == 1 &&
              ::getsockopt(m_filler, SOL_SOCKET, SO_ERROR, &error, &errorSize) == 0 && error == 0;
}

StalledListener::~StalledListener() {
    if (m_filler >= 0)
        ::close(m_filler);
    if (m_listener >= 0)
        ::close(m_listener);
}
