#include "server/ServerDescriptor.h"

#include "server/UploadSink.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

// A JSON string literal, quotes included. Written by hand around it, as QJsonObject would sort
// the keys and the descriptor keeps its documented order.
QByteArray Quoted(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

QByteArray ServerDescriptor(const QString& name, const QString& version, const QString& wwwDir) {
    QByteArrayList files;
    const QFileInfoList samples =
        QDir(wwwDir + QStringLiteral("/qm"))
            .entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Size | QDir::Reversed);
    for (const QFileInfo& sample : samples)
        files += "{\"path\":" + Quoted(QStringLiteral("/qm/") + sample.fileName()) +
                 ",\"bytes\":" + QByteArray::number(sample.size()) + '}';
    return "{\"name\":" + Quoted(name) + ",\"version\":" + Quoted(version) + ",\"files\":[" +
           files.join(',') + "],\"upload\":{\"path\":\"/qm/up\",\"max_bytes\":" +
           QByteArray::number(UploadSink::MaxBodyBytes) + "},\"empty\":\"/qm/empty\"}";
}
