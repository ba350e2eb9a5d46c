#include "support/SmtpPeer.h"

#include <sys/socket.h>

namespace {
void abortHard(QTcpSocket* socket) {
    const linger hard{1, 0};
    ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                 sizeof hard);
    socket->abort();
}
} // namespace

QList<SmtpPeer::Turn> SmtpPeer::normalScript() {
    return {
        reply("220 peer.test ESMTP ready\r\n"),
        reply("250 peer.test\r\n"),
        reply("250 2.1.0 Ok\r\n"),
        reply("250 2.1.5 Ok\r\n"),
        reply("354 End data with <CR><LF>.<CR><LF>\r\n"),
        reply("250 2.0.0 Ok: queued as 1234\r\n"),
        replyThenClose("221 2.0.0 Bye\r\n"),
    };
}

SmtpPeer::SmtpPeer(QObject* parent)
    : QObject(parent) {
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &SmtpPeer::accept);
    connect(&m_slowTimer, &QTimer::timeout, this, &SmtpPeer::readSome);
}

SmtpPeer::~SmtpPeer() {
    // The server's sockets go with it, after our other members: they must not call back.
    m_slowTimer.stop();
    for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>())
        socket->disconnect(this);
}

void SmtpPeer::setSlowReader(int bytes, int intervalMs) {
    m_slowBytes = bytes;
    m_slowTimer.setInterval(intervalMs);
    // Accepted sockets take their buffer sizes from the listening one.
    const int size = bytes;
    ::setsockopt(static_cast<int>(m_server.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &size,
                 sizeof size);
}

void SmtpPeer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++m_connections;
        m_client = socket;
        m_clientPort = socket->peerPort();
        m_clientClosed = false;
        if (m_slowBytes > 0) {
            socket->setReadBufferSize(m_slowBytes);
            m_slowTimer.start();
        } else {
            connect(socket, &QTcpSocket::readyRead, this, &SmtpPeer::readSome);
        }
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (socket == m_client && socket->isOpen())
                consume(socket->readAll());
            m_clientClosed = true;
            m_slowTimer.stop();
        });
        play(0);
    }
}

void SmtpPeer::readSome() {
    if (!m_client || !m_client->isOpen())
        return;
    consume(m_slowBytes > 0 ? m_client->read(m_slowBytes) : m_client->readAll());
}

void SmtpPeer::consume(const QByteArray& bytes) {
    m_received += bytes;
    m_pending += bytes;
    for (;;) {
        if (m_inData) {
            const qsizetype end = m_pending.indexOf("\r\n.\r\n");
            if (end < 0)
                return;
            m_data = m_pending.left(end + 5);
            m_commands << m_data;
            m_pending.remove(0, end + 5);
            m_inData = false;
            play(++m_nextTurn);
            continue;
        }
        // A line ends at LF, so that a command without its CR still shows as one.
        const qsizetype end = m_pending.indexOf('\n');
        if (end < 0)
            return;
        const QByteArray line = m_pending.left(end + 1);
        m_commands << line;
        m_pending.remove(0, end + 1);
        ++m_nextTurn;
        if (line.toUpper().startsWith("DATA") && m_nextTurn < m_turns.size() &&
            !m_turns[m_nextTurn].chunks.isEmpty() &&
            m_turns[m_nextTurn].chunks.first().startsWith("354"))
            m_inData = true;
        play(m_nextTurn);
    }
}

void SmtpPeer::play(int index) {
    if (index < 0 || index >= m_turns.size() || !m_client)
        return;
    const Turn turn = m_turns[index];
    QPointer<QTcpSocket> client = m_client;
    auto finish = [client, end = turn.end] {
        if (!client)
            return;
        if (end == Turn::End::Close)
            client->disconnectFromHost();
        else if (end == Turn::End::Reset)
            abortHard(client);
    };
    if (turn.chunks.isEmpty()) {
        finish();
        return;
    }
    // The first chunk goes at once; the others follow, each after the delay.
    for (qsizetype i = 0; i < turn.chunks.size(); ++i) {
        const QByteArray chunk = turn.chunks[i];
        const bool last = i == turn.chunks.size() - 1;
        auto write = [client, chunk, last, finish] {
            if (!client)
                return;
            client->write(chunk);
            client->flush();
            if (last)
                finish();
        };
        if (i == 0)
            write();
        else
            QTimer::singleShot(int(i) * turn.chunkDelayMs, this, write);
    }
}

void SmtpPeer::resetNow() {
    if (m_client)
        abortHard(m_client);
}
