// /.well-known/quillmet.json: what a measurement server offers, for clients to choose from.
#pragma once

#include <QByteArray>
#include <QString>

// The served folder's /qm/*.jpg with their sizes, smallest first, beside the upload sink and
// the latency probe. Names are JSON-escaped here, never by the shell that starts the server.
QByteArray ServerDescriptor(const QString& name, const QString& version, const QString& wwwDir);
