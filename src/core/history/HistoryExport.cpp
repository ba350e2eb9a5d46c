#include "core/history/HistoryExport.h"

#include "core/history/ResultsJournal.h"
#include "core/state/AtomicFile.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

QStringList HistoryCsvHeader() {
    return {QStringLiteral("kind"),       QStringLiteral("host"),   QStringLiteral("started"),
            QStringLiteral("connect_ms"), QStringLiteral("bytes"),  QStringLiteral("kbps"),
            QStringLiteral("mbps"),       QStringLiteral("mbit_s"), QStringLiteral("mark")};
}

QStringList HistoryCsvRow(const HistoryRecord& r) {
    return {HistoryKindName(r.kind),
            r.host,
            IsoLocalTime(r.started),
            QString::number(r.connectMs),
            QString::number(r.bytes),
            r.kbpsText,
            r.mbpsText,
            MbitPerSecondText(r),
            QString::number(r.mark)};
}

QJsonObject HistoryJsonObject(const HistoryRecord& r) {
    return {{QStringLiteral("kind"), HistoryKindName(r.kind)},
            {QStringLiteral("host"), r.host},
            {QStringLiteral("started"), IsoLocalTime(r.started)},
            {QStringLiteral("connect_ms"), r.connectMs},
            {QStringLiteral("bytes"), r.bytes},
            {QStringLiteral("kbps"), r.kbps},
            {QStringLiteral("mbps"), r.mbps},
            {QStringLiteral("mbit_s"), MbitPerSecondText(r).toDouble()},
            {QStringLiteral("mark"), r.mark}};
}

namespace {
// A spreadsheet opens a cell beginning with one of these as a formula; a "'" before it keeps
// it text. A plain number ("-1") stays a number.
QString NotAFormula(const QString& field) {
    static const QRegularExpression number(QStringLiteral("^[-+]?[0-9]+(\\.[0-9]+)?$"));
    if (field.isEmpty() || !QStringLiteral("=+-@\t\r").contains(field.front()) ||
        number.match(field).hasMatch())
        return field;
    return QLatin1Char('\'') + field;
}
} // namespace

QString CsvLine(const QStringList& fields) {
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += QLatin1Char(',');
        const QString f = NotAFormula(fields[i]);
        if (f.contains(QLatin1Char(',')) || f.contains(QLatin1Char('"')) ||
            f.contains(QLatin1Char('\r')) || f.contains(QLatin1Char('\n'))) {
            QString quoted = f;
            quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
            line += QLatin1Char('"') + quoted + QLatin1Char('"');
        } else {
            line += f;
        }
    }
    return line + QStringLiteral("\r\n");
}

QByteArray HistoryCsv(const QList<HistoryRecord>& records) {
    QString text = CsvLine(HistoryCsvHeader());
    for (const HistoryRecord& r : records)
        text += CsvLine(HistoryCsvRow(r));
    return text.toUtf8();
}

QByteArray HistoryJson(const QList<HistoryRecord>& records) {
    QJsonArray array;
    for (const HistoryRecord& r : records)
        array.append(HistoryJsonObject(r));
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

namespace {
// A measurement's key in both lists: its kind and its start to the second, as the history
// line has it.
QString MeasurementKey(const QString& kind, const QDateTime& started) {
    return kind + QLatin1Char(' ') +
           started.toLocalTime().toString(QStringLiteral("yyyyMMddHHmmss"));
}

// The family and address the journal holds for each measurement it recorded.
QHash<QString, QJsonObject> JournalFamilies(const QString& journalPath) {
    QHash<QString, QJsonObject> found;
    for (const QJsonObject& o : ResultsJournal(journalPath).Read().records) {
        const QString family = o.value(QStringLiteral("family")).toString();
        const QDateTime started =
            QDateTime::fromString(o.value(QStringLiteral("started")).toString(), Qt::ISODateWithMs);
        if (family.isEmpty() || !started.isValid())
            continue;
        found.insert(MeasurementKey(o.value(QStringLiteral("kind")).toString(), started),
                     {{QStringLiteral("family"), family},
                      {QStringLiteral("address"), o.value(QStringLiteral("address")).toString()}});
    }
    return found;
}

QByteArray HistoryJsonWithFamilies(const QList<HistoryRecord>& records,
                                   const QString& journalPath) {
    const QHash<QString, QJsonObject> families = JournalFamilies(journalPath);
    QJsonArray array;
    for (const HistoryRecord& r : records) {
        QJsonObject o = HistoryJsonObject(r);
        const auto match = families.constFind(MeasurementKey(HistoryKindName(r.kind), r.started));
        if (match != families.constEnd()) {
            for (auto field = match->begin(); field != match->end(); ++field)
                o.insert(field.key(), field.value());
        }
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}
} // namespace

HistoryExportResult ExportHistory(const QString& path, const QStringList& lines) {
    return ExportHistory(path, lines, ResultsJournal::DefaultPath());
}

HistoryExportResult ExportHistory(const QString& path, const QStringList& lines,
                                  const QString& journalPath) {
    HistoryExportResult result;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("csv") && suffix != QLatin1String("json")) {
        result.reason = path + QStringLiteral(": 拡張子が .csv でも .json でもありません");
        return result;
    }
    const ParsedHistory parsed = ParseHistory(lines);
    result.skipped = parsed.skipped;
    const QByteArray data = suffix == QLatin1String("csv")
                                ? HistoryCsv(parsed.records)
                                : HistoryJsonWithFamilies(parsed.records, journalPath);
    result.reason = WriteFileAtomically(path, std::string_view(data.constData(), data.size()));
    result.ok = result.reason.isEmpty();
    if (result.ok)
        result.written = static_cast<int>(parsed.records.size());
    return result;
}
