#include "core/server/ServerSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>

namespace {
const QString kHost = QStringLiteral("server/host");
const QString kPort = QStringLiteral("server/port");
const QString kFiles = QStringLiteral("server/files");
const QString kFilesKnown = QStringLiteral("server/files_known");
const QString kFamily = QStringLiteral("server/family");
const QString kServerGroup = QStringLiteral("server");
const QString kAlternate = QStringLiteral("timer/alternate_families");
} // namespace

QString ServerSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/quillmet/quillmet.conf");
}

ServerSettingsRead ReadServerSettings(const QString& path) {
    ServerSettingsRead read;
    const QFileInfo info(path);
    if (!info.exists())
        return read;
    const auto fault = [&read](ServerSettingsRead::Fault f) {
        read.server = MeasurementServer::Default();
        read.fault = f;
        return read;
    };
    if (info.size() > kMaxSettingsBytes)
        return fault(ServerSettingsRead::Fault::Oversized);
    // QSettings reads an unreadable file as an empty one; open it first to tell the two apart.
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return fault(ServerSettingsRead::Fault::Unreadable);
    file.close();

    const QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return fault(ServerSettingsRead::Fault::Garbled);
    // The timer's choice alone: no server chosen yet.
    const QStringList keys = settings.allKeys();
    if (!keys.isEmpty() && std::all_of(keys.begin(), keys.end(), [](const QString& key) {
            return key.startsWith(QLatin1String("timer/"));
        }))
        return read;
    const QVariant host = settings.value(kHost);
    const QVariant port = settings.value(kPort);
    if (host.typeId() != QMetaType::QString || port.typeId() != QMetaType::QString ||
        ParseServerFields(host.toString(), port.toString(), &read.server) !=
            ServerAddressError::None)
        return fault(ServerSettingsRead::Fault::Garbled);
    if (settings.value(kFilesKnown).toString() == QStringLiteral("true")) {
        QStringList files;
        const QVariant list = settings.value(kFiles);
        if (list.typeId() == QMetaType::QStringList)
            files = list.toStringList();
        else if (list.typeId() == QMetaType::QString && !list.toString().isEmpty())
            files = QStringList{list.toString()};
        for (const QString& f : files) {
            if (!f.startsWith(QLatin1Char('/')))
                return fault(ServerSettingsRead::Fault::Garbled);
        }
        read.server.files = files;
    }
    // Absent: no family chosen. A value this program does not know is damage, not a choice.
    if (const QVariant family = settings.value(kFamily); family.isValid()) {
        const auto chosen = AddressFamilyFromName(family.toString().toStdString());
        if (family.typeId() != QMetaType::QString || !chosen)
            return fault(ServerSettingsRead::Fault::Garbled);
        read.server.family = chosen;
    }
    return read;
}

bool WriteServerSettings(const MeasurementServer& server, const QString& path) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    // A file that could not be used is replaced whole, not merged into.
    const bool alternate = ReadAlternateFamilies(path);
    if (ReadServerSettings(path).fault != ServerSettingsRead::Fault::None)
        QFile::remove(path);
    QSettings settings(path, QSettings::IniFormat);
    if (alternate)
        settings.setValue(kAlternate, QStringLiteral("true"));
    // The server's keys only: the timer's choice shares the file.
    settings.remove(kServerGroup);
    settings.setValue(kHost, server.host);
    settings.setValue(kPort, QString::number(server.port));
    settings.setValue(kFilesKnown, server.files ? QStringLiteral("true") : QStringLiteral("false"));
    if (server.files)
        settings.setValue(kFiles, *server.files);
    if (server.family)
        settings.setValue(kFamily, QString::fromLatin1(AddressFamilyName(*server.family)));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString ServerSettingsFaultText(ServerSettingsRead::Fault fault, const QString& path) {
    const QString where = QDir::toNativeSeparators(path);
    switch (fault) {
    case ServerSettingsRead::Fault::None:
        break;
    case ServerSettingsRead::Fault::Unreadable:
        return QStringLiteral("設定ファイル %1 を読めないため、既定の測定サーバーを使います")
            .arg(where);
    case ServerSettingsRead::Fault::Oversized:
    case ServerSettingsRead::Fault::Garbled:
        return QStringLiteral("設定ファイル %1 が壊れているため、既定の測定サーバーを使います")
            .arg(where);
    }
    return {};
}

bool ReadAlternateFamilies(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxSettingsBytes)
        return false;
    const QSettings settings(path, QSettings::IniFormat);
    return settings.status() == QSettings::NoError &&
           settings.value(kAlternate).toString() == QStringLiteral("true");
}

bool WriteAlternateFamilies(bool on, const QString& path) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()) || (info.exists() && !info.isFile()) ||
        info.size() > kMaxSettingsBytes)
        return false;
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kAlternate, on ? QStringLiteral("true") : QStringLiteral("false"));
    settings.sync();
    return settings.status() == QSettings::NoError;
}
