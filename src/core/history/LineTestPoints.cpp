#include "core/history/LineTestPoints.h"

#include "core/history/MeasurementRecord.h"

#include "core/measure/NumberFormat.h"
#include "core/measure/RunResult.h"

#include <cmath>
#include <optional>

namespace {

std::optional<double> speedOf(const QJsonObject& record, const QString& phase) {
    return JournalSpeed(record.value(phase).toObject().value(QStringLiteral("bytes_per_s")));
}

} // namespace

QString LineTestSideName(LineTestSide direction) {
    return direction == LineTestSide::Download ? QStringLiteral("回線品質(下り)")
                                               : QStringLiteral("回線品質(上り)");
}

QString LineTestPoint::Tip(LineTestSide direction) const {
    QStringList lines{LineTestSideName(direction), FormatRunDate(started),
                      QStringLiteral("%1 Mbps（%2 Mbit/s）")
                          .arg(FormatFixed(mbps, 3), FormatFixed(bytesPerSecond * 8 / 1e6, 3))};
    if (!grade.isEmpty())
        lines << QStringLiteral("評価 %1").arg(grade);
    if (!server.isEmpty())
        lines << QStringLiteral("サーバー %1").arg(server);
    if (!family.isEmpty())
        lines << QStringLiteral("%1 %2").arg(family, address).trimmed();
    return lines.join(QLatin1Char('\n'));
}

LineTestPoints ReadLineTestPoints(const QList<QJsonObject>& records) {
    LineTestPoints points;
    for (const QJsonObject& record : records) {
        if (record.value(QStringLiteral("kind")).toString() != QLatin1String("line"))
            continue;
        const QDateTime started = QDateTime::fromString(
            record.value(QStringLiteral("started")).toString(), Qt::ISODateWithMs);
        const auto download = speedOf(record, QStringLiteral("download"));
        const auto upload = speedOf(record, QStringLiteral("upload"));
        if (!started.isValid() || (!download && !upload)) {
            ++points.unusable;
            continue;
        }
        ++points.tests;
        LineTestPoint point;
        point.started = started.toLocalTime();
        point.grade = record.value(QStringLiteral("grade")).toString();
        point.server = record.value(QStringLiteral("server")).toString();
        const QString family = record.value(QStringLiteral("family")).toString();
        if (family == QLatin1String("ipv4") || family == QLatin1String("ipv6")) {
            point.family =
                family == QLatin1String("ipv4") ? QStringLiteral("IPv4") : QStringLiteral("IPv6");
            point.address = record.value(QStringLiteral("address")).toString();
        }
        for (auto [speed, list] :
             {std::pair{download, &points.download}, std::pair{upload, &points.upload}}) {
            if (!speed)
                continue;
            point.bytesPerSecond = *speed;
            point.mbps = static_cast<double>(*speed * 8 * kPerMbps);
            *list << point;
        }
    }
    return points;
}
