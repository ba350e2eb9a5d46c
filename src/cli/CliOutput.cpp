#include "cli/CliOutput.h"

#include "measure/NumberFormat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kCsvRounds = 5;

double rounded(long double value, int decimals) {
    const long double scale = std::pow(10.0L, decimals);
    return static_cast<double>(std::round(value * scale) / scale);
}

// A speed text as the window shows it, as a number ("8192.0" → 8192).
double shownNumber(const QString& text) {
    return text.toDouble();
}

QString kindName(CliRecord::Kind kind) {
    return kind == CliRecord::Kind::Download ? QStringLiteral("download")
                                             : QStringLiteral("upload");
}

QString number(double value) {
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

} // namespace

QString IsoLocalTime(const QDateTime& when) {
    // Always a numeric offset, +00:00 included, so every record has the same layout.
    const QDateTime local = when.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString MegabitsPerSecondText(const QString& kbpsText) {
    return FormatFixed(static_cast<long double>(kbpsText.toDouble()) * 1024.0L / 1000000.0L, 3);
}

QJsonObject RecordJson(const CliRecord& r) {
    QJsonObject o;
    o.insert(QStringLiteral("kind"), kindName(r.kind));
    o.insert(r.kind == CliRecord::Kind::Download ? QStringLiteral("url") : QStringLiteral("smtp"),
             r.target);
    o.insert(QStringLiteral("host"), r.host);
    o.insert(QStringLiteral("started"), IsoLocalTime(r.started));
    o.insert(QStringLiteral("connect_ms"), r.connectMs);
    o.insert(QStringLiteral("bytes"), r.bytes);
    if (r.kind == CliRecord::Kind::Download) {
        QJsonArray rounds;
        for (const CliRound& round : r.rounds) {
            rounds.append(QJsonObject{
                {QStringLiteral("bytes_per_s"), rounded(round.bytesPerSecond, 3)},
                {QStringLiteral("kbps"), shownNumber(round.kbpsText)},
                {QStringLiteral("mbps"), shownNumber(round.mbpsText)},
            });
        }
        o.insert(QStringLiteral("rounds"), rounds);
    }
    o.insert(QStringLiteral("kbps"), shownNumber(r.kbpsText));
    o.insert(QStringLiteral("mbps"), shownNumber(r.mbpsText));
    o.insert(QStringLiteral("mbit_s"), MegabitsPerSecondText(r.kbpsText).toDouble());
    o.insert(QStringLiteral("mark"), r.mark);
    o.insert(QStringLiteral("mark_reasons"), QJsonArray::fromStringList(r.markReasons));
    o.insert(QStringLiteral("history_line"), r.historyLine);
    return o;
}

QByteArray RecordJsonLine(const CliRecord& record) {
    return QJsonDocument(RecordJson(record)).toJson(QJsonDocument::Compact) + '\n';
}

QString CsvField(const QString& text) {
    static const QString special = QStringLiteral(",\"\r\n");
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return special.contains(c); }))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray CsvHeaderLine() {
    QStringList names{
        QStringLiteral("kind"),       QStringLiteral("host"),   QStringLiteral("started"),
        QStringLiteral("connect_ms"), QStringLiteral("bytes"),  QStringLiteral("kbps"),
        QStringLiteral("mbps"),       QStringLiteral("mbit_s"), QStringLiteral("mark"),
        QStringLiteral("url"),        QStringLiteral("smtp")};
    for (int i = 1; i <= kCsvRounds; ++i) {
        names << QStringLiteral("round%1_bytes_per_s").arg(i)
              << QStringLiteral("round%1_kbps").arg(i) << QStringLiteral("round%1_mbps").arg(i);
    }
    names << QStringLiteral("mark_reasons") << QStringLiteral("history_line");
    return names.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QByteArray RecordCsvLine(const CliRecord& r) {
    const bool download = r.kind == CliRecord::Kind::Download;
    QStringList fields{kindName(r.kind),
                       r.host,
                       IsoLocalTime(r.started),
                       QString::number(r.connectMs),
                       QString::number(r.bytes),
                       r.kbpsText,
                       r.mbpsText,
                       MegabitsPerSecondText(r.kbpsText),
                       QString::number(r.mark),
                       download ? r.target : QString(),
                       download ? QString() : r.target};
    for (int i = 0; i < kCsvRounds; ++i) {
        if (i < int(r.rounds.size())) {
            const CliRound& round = r.rounds[std::size_t(i)];
            fields << number(rounded(round.bytesPerSecond, 3)) << round.kbpsText << round.mbpsText;
        } else {
            fields << QString() << QString() << QString();
        }
    }
    fields << r.markReasons.join(QLatin1Char(';')) << r.historyLine;
    for (QString& field : fields)
        field = CsvField(field);
    return fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
}
