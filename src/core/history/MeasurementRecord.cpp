#include "core/history/MeasurementRecord.h"

#include "core/measure/RunResult.h"

#include <QUrl>
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

namespace {

const QString kKind = QStringLiteral("kind");
const QString kStarted = QStringLiteral("started");
const QString kFamily = QStringLiteral("family");
const QString kAddress = QStringLiteral("address");
const QString kServer = QStringLiteral("server");
const QString kBytesPerSecond = QStringLiteral("bytes_per_s");

std::optional<MeasurementKind> kindOf(const QString& name) {
    for (MeasurementKind kind : {MeasurementKind::Download, MeasurementKind::UploadHttp,
                                 MeasurementKind::Upload, MeasurementKind::Line}) {
        if (MeasurementKindName(kind) == name)
            return kind;
    }
    return std::nullopt;
}

// Only the two families a connection can have; "auto" is a choice, not a measurement.
std::optional<AddressFamily> familyOf(const QJsonValue& value) {
    const auto family = AddressFamilyFromName(value.toString().toStdString());
    if (!family || *family == AddressFamily::Auto)
        return std::nullopt;
    return family;
}

} // namespace

QString MeasurementKindName(MeasurementKind kind) {
    switch (kind) {
    case MeasurementKind::Download:
        return QStringLiteral("download");
    case MeasurementKind::UploadHttp:
        return QStringLiteral("upload-http");
    case MeasurementKind::Upload:
        return QStringLiteral("upload");
    case MeasurementKind::Line:
        return QStringLiteral("line");
    }
    return {};
}

MeasuredPeer PeerOf(const SocketAddress& address) {
    return {address.Family(), QString::fromStdString(address.Text())};
}

QString JournalServerOfUrl(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return {};
    QString host = parsed.host(QUrl::FullyEncoded);
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    if (parsed.port() >= 0)
        host += QLatin1Char(':') + QString::number(parsed.port());
    return host;
}

QJsonObject MeasurementRecord(MeasurementKind kind, const QDateTime& started, const QString& server,
                              const MeasuredPeer& peer, double bytesPerSecond, int mark) {
    // A fixed offset: a local time is written without one.
    const QDateTime at = started.toOffsetFromUtc(started.offsetFromUtc());
    return QJsonObject{{kKind, MeasurementKindName(kind)},
                       {QStringLiteral("version"), 1},
                       {kStarted, at.toString(Qt::ISODateWithMs)},
                       {kServer, server},
                       {kFamily, QString::fromLatin1(AddressFamilyName(peer.family))},
                       {kAddress, peer.address},
                       {kBytesPerSecond, bytesPerSecond},
                       {QStringLiteral("mark"), mark}};
}

QList<FamilyReading> ReadFamilyReadings(const QList<QJsonObject>& records) {
    QList<FamilyReading> readings;
    for (const QJsonObject& record : records) {
        const auto kind = kindOf(record.value(kKind).toString());
        const auto family = familyOf(record.value(kFamily));
        if (!kind || !family)
            continue;
        const QDateTime started =
            QDateTime::fromString(record.value(kStarted).toString(), Qt::ISODateWithMs);
        const QJsonValue speedValue =
            *kind == MeasurementKind::Line
                ? record.value(QStringLiteral("download")).toObject().value(kBytesPerSecond)
                : record.value(kBytesPerSecond);
        const auto speed = JournalSpeed(speedValue);
        if (!started.isValid() || !speed)
            continue;
        FamilyReading reading;
        reading.kind = *kind;
        reading.started = started.toLocalTime();
        reading.mbps = static_cast<double>(*speed * 8 * kPerMbps);
        reading.family = *family;
        reading.address = record.value(kAddress).toString();
        reading.server = record.value(kServer).toString();
        readings << reading;
    }
    return readings;
}

bool BothFamilies(const QList<FamilyReading>& readings) {
    const auto has = [&readings](AddressFamily family) {
        return std::any_of(readings.begin(), readings.end(),
                           [family](const FamilyReading& r) { return r.family == family; });
    };
    return has(AddressFamily::Ipv4) && has(AddressFamily::Ipv6);
}

QList<HourBucket> HourOfDayBuckets(const QList<FamilyReading>& readings, const QDateTime& now,
                                   int days) {
    const QDateTime since = now.addDays(-days);
    std::map<std::pair<int, int>, HourBucket> buckets;
    std::map<std::pair<int, int>, double> sums;
    for (const FamilyReading& r : readings) {
        if (r.kind != MeasurementKind::Download && r.kind != MeasurementKind::Line)
            continue;
        if (days > 0 && (r.started < since || r.started > now))
            continue;
        const int hour = r.started.toLocalTime().time().hour();
        const std::pair key{hour, static_cast<int>(r.family)};
        HourBucket& b = buckets[key];
        if (b.count == 0) {
            b.hour = hour;
            b.family = r.family;
            b.minMbps = b.maxMbps = r.mbps;
        }
        ++b.count;
        sums[key] += r.mbps;
        b.minMbps = std::min(b.minMbps, r.mbps);
        b.maxMbps = std::max(b.maxMbps, r.mbps);
    }
    QList<HourBucket> list;
    for (auto& [key, bucket] : buckets) {
        bucket.meanMbps = sums[key] / bucket.count;
        list << bucket;
    }
    return list;
}

QString FamilyCaption(AddressFamily family) {
    return family == AddressFamily::Ipv6 ? QStringLiteral("IPv6") : QStringLiteral("IPv4");
}

std::optional<double> JournalSpeed(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double bytes = value.toDouble();
    if (!std::isfinite(bytes) || bytes < 0)
        return std::nullopt;
    return bytes;
}
