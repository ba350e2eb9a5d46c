#include "support/SockPeer.h"

#include <sys/socket.h>

SockPeer::SockPeer(QObject* parent)
    : QObject(parent) {
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &SockPeer::accept);
}

void SockPeer::setGreeting(const QByteArray& greeting, bool closeAfter) {
    m_greeting = greeting;
    m_closeAfterGreeting = closeAfter;
}

void SockPeer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++m_connections;
        m_client = socket;
        m_clientGone = false;
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket]() { m_received += socket->readAll(); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket]() {
            if (socket->isOpen())
                m_received += socket->readAll();
            m_clientGone = true;
        });
        m_received += socket->readAll();
        if (!m_greeting.isEmpty())
            socket->write(m_greeting);
        if (m_closeAfterGreeting)
            socket->disconnectFromHost();
    }
}

void SockPeer::send(const QByteArray& data) {
    if (m_client)
        m_client->write(data);
}

void SockPeer::close() {
    if (m_client)
        m_client->disconnectFromHost();
}

void SockPeer::reset() {
    if (!m_client)
        return;
    const linger hard{1, 0};
    ::setsockopt(static_cast<int>(m_client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                 sizeof hard);
    m_client->abort();
}
