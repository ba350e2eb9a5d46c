#include "support/TestHelpers.h"

#include "core/state/StateFile.h"
#include "support/ScriptedPeer.h"

#include <QTcpServer>
#include <QTemporaryDir>

quint16 ClosedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

QString urlOf(const ScriptedPeer& peer, const char* path) {
    return QString::fromStdString(peer.url(path));
}

QByteArray okHeader(qint64 contentLength) {
    return "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
           QByteArray::number(contentLength) + "\r\n\r\n";
}

QString statePath(const QTemporaryDir& dir) {
    return dir.filePath(QString::fromLatin1(StateFileName));
}

QString writeScript(const QTemporaryDir& dir, const QString& name, const QByteArray& body,
                    QFile::Permissions permissions) {
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write("#!/bin/sh\n" + body);
    f.close();
    f.setPermissions(permissions);
    return path;
}
