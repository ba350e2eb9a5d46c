// Small helpers that many tests share: loopback ports and URLs, a reply header, files.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

class QTemporaryDir;
class ScriptedPeer;

// A port on 127.0.0.1 where nothing listens (taken, then released).
quint16 ClosedPort();

// The peer's "http://127.0.0.1:<port>" followed by the path.
QString urlOf(const ScriptedPeer& peer, const char* path);

// The header of a 200 reply with a JPEG of that many bytes.
QByteArray okHeader(qint64 contentLength);

// The state file "qm1.dat" in the folder.
QString statePath(const QTemporaryDir& dir);

// Writes a shell script ("#!/bin/sh" and the body) into the folder; returns its path.
QString writeScript(const QTemporaryDir& dir, const QString& name, const QByteArray& body,
                    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ExeOwner);
