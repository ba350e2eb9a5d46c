#include "cli/CliOutput.h"

#include "core/history/HistoryExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <cmath>

namespace {

constexpr int kCsvRounds = 5;

double rounded(long double value, int decimals) {
    const long double scale = std::pow(10.0L, decimals);
    return static_cast<double>(std::round(value * scale) / scale);
}

bool isDownload(const CliRecord& r) {
    return r.record.kind == HistoryKind::Download;
}

} // namespace

QJsonObject RecordJson(const CliRecord& r) {
    QJsonObject o = HistoryJsonObject(r.record);
    o.insert(isDownload(r) ? QStringLiteral("url") : QStringLiteral("smtp"), r.target);
    if (isDownload(r)) {
        QJsonArray rounds;
        for (const CliRound& round : r.rounds) {
            rounds.append(QJsonObject{
                {QStringLiteral("bytes_per_s"), rounded(round.bytesPerSecond, 3)},
                {QStringLiteral("kbps"), round.kbpsText.toDouble()},
                {QStringLiteral("mbps"), round.mbpsText.toDouble()},
            });
        }
        o.insert(QStringLiteral("rounds"), rounds);
    }
    o.insert(QStringLiteral("mark_reasons"), QJsonArray::fromStringList(r.markReasons));
    o.insert(QStringLiteral("history_line"), r.historyLine);
    return o;
}

QByteArray RecordJsonLine(const CliRecord& record) {
    return QJsonDocument(RecordJson(record)).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray CsvHeaderLine() {
    QStringList names = HistoryCsvHeader();
    names << QStringLiteral("url") << QStringLiteral("smtp");
    for (int i = 1; i <= kCsvRounds; ++i) {
        names << QStringLiteral("round%1_bytes_per_s").arg(i)
              << QStringLiteral("round%1_kbps").arg(i) << QStringLiteral("round%1_mbps").arg(i);
    }
    names << QStringLiteral("mark_reasons") << QStringLiteral("history_line");
    return CsvLine(names).toUtf8();
}

QByteArray RecordCsvLine(const CliRecord& r) {
    QStringList fields = HistoryCsvRow(r.record);
    fields << (isDownload(r) ? r.target : QString()) << (isDownload(r) ? QString() : r.target);
    for (int i = 0; i < kCsvRounds; ++i) {
        if (i < int(r.rounds.size())) {
            const CliRound& round = r.rounds[std::size_t(i)];
            fields << QString::number(rounded(round.bytesPerSecond, 3), 'f',
                                      QLocale::FloatingPointShortest)
                   << round.kbpsText << round.mbpsText;
        } else {
            fields << QString() << QString() << QString();
        }
    }
    fields << r.markReasons.join(QLatin1Char(';')) << r.historyLine;
    return CsvLine(fields).toUtf8();
}
