#include "core/history/HistoryRecord.h"

#include "core/measure/NumberFormat.h"
#include "core/measure/RunResult.h"

#include <QRegularExpression>

namespace {
// Counted from the right: a host may hold a comma of its own, the other nine fields cannot.
constexpr qsizetype kFixedFields = 9;
constexpr char kHttpUploadOpen[] = "upload-http(";

bool parseInteger(const QString& text, qint64& value) {
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok;
}

bool parseSpeed(const QString& text, const QRegularExpression& shape, double& value) {
    if (!shape.match(text).hasMatch())
        return false;
    bool ok = false;
    value = text.toDouble(&ok);
    return ok;
}
} // namespace

QString HttpUploadFirstField(int mark, const QString& host) {
    return QLatin1Char('*') + MarkPrefix(mark) + QLatin1String(kHttpUploadOpen) + host +
           QLatin1Char(')');
}

QString HistoryRecord::Line() const {
    const QString first = kind == HistoryKind::Upload       ? kUploadFirstField
                          : kind == HistoryKind::UploadHttp ? HttpUploadFirstField(mark, host)
                                                            : MarkPrefix(mark) + host;
    return HistoryLine(first, FormatRunDate(started), QString::number(connectMs),
                       QString::number(bytes), kbpsText, mbpsText);
}

std::optional<HistoryRecord> ParseHistoryLine(const QString& line) {
    static const QRegularExpression date(
        QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})\\((?:日|月|火|水|木|金|土)\\) "
                       "([0-9]{2}):([0-9]{2}):([0-9]{2})$"));
    static const QRegularExpression kbpsShape(QStringLiteral("^-?[0-9]+\\.[0-9]$"));
    static const QRegularExpression mbpsShape(QStringLiteral("^-?[0-9]+\\.[0-9]{3}$"));

    const QStringList fields = line.split(QLatin1Char(','));
    const qsizetype n = fields.size();
    if (n < kFixedFields + 1)
        return std::nullopt;
    const QStringList fixed = fields.mid(n - kFixedFields);
    if (fixed[2] != QLatin1String("msec") || fixed[4] != QLatin1String("byte") ||
        fixed[6] != QLatin1String("kbps") || fixed[8] != QLatin1String("Mbps"))
        return std::nullopt;

    HistoryRecord r;
    const QString first = fields.mid(0, n - kFixedFields).join(QLatin1Char(','));
    qsizetype stars = 0;
    while (stars < 3 && stars < first.size() && first[stars] == QLatin1Char('*'))
        ++stars;
    const QString afterStars = first.mid(stars);
    if (first == kUploadFirstField) {
        r.kind = HistoryKind::Upload;
    } else if (stars > 0 && afterStars.startsWith(QLatin1String(kHttpUploadOpen)) &&
               afterStars.endsWith(QLatin1Char(')'))) {
        r.kind = HistoryKind::UploadHttp;
        r.mark = static_cast<int>(stars) - 1;
        r.host = afterStars.mid(qsizetype(sizeof kHttpUploadOpen) - 1).chopped(1);
    } else if (first.startsWith(QLatin1String("**"))) {
        r.mark = 2;
        r.host = first.mid(2);
    } else if (first.startsWith(QLatin1Char('*'))) {
        r.mark = 1;
        r.host = first.mid(1);
    } else {
        r.host = first;
    }

    const QRegularExpressionMatch m = date.match(fixed[0]);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    r.started = QDateTime(day, time, Qt::LocalTime);

    if (!parseInteger(fixed[1], r.connectMs) || !parseInteger(fixed[3], r.bytes) ||
        !parseSpeed(fixed[5], kbpsShape, r.kbps) || !parseSpeed(fixed[7], mbpsShape, r.mbps))
        return std::nullopt;
    r.kbpsText = fixed[5];
    r.mbpsText = fixed[7];

    // Whatever the record cannot give back exactly (a weekday that does not fit the date,
    // "007" for 7, a time the clock skipped) makes the line one that did not parse.
    if (r.Line() != line)
        return std::nullopt;
    return r;
}

ParsedHistory ParseHistory(const QStringList& lines) {
    ParsedHistory parsed;
    parsed.records.reserve(lines.size());
    for (const QString& line : lines) {
        if (std::optional<HistoryRecord> r = ParseHistoryLine(line))
            parsed.records.append(std::move(*r));
        else
            ++parsed.skipped;
    }
    return parsed;
}

QString HistoryKindName(HistoryKind kind) {
    switch (kind) {
    case HistoryKind::Upload:
        return QStringLiteral("upload");
    case HistoryKind::UploadHttp:
        return QStringLiteral("upload-http");
    case HistoryKind::Download:
        break;
    }
    return QStringLiteral("download");
}

QString IsoLocalTime(const QDateTime& when) {
    const int offset = when.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    return when.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) +
           QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString MbitPerSecondText(const HistoryRecord& record) {
    return FormatFixed(static_cast<long double>(record.kbps) * 1024.0L / 1000000.0L, 3);
}
