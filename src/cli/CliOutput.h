// One measurement as quillmet-cli prints it: the history line, a JSON object or a CSV row.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <vector>

struct CliRound {
    long double bytesPerSecond = 0;
    QString kbpsText; // as the window shows it, 1 decimal
    QString mbpsText; // 3 decimals
};

struct CliRecord {
    enum class Kind { Download, Upload };
    Kind kind = Kind::Download;
    QString target; // the URL, or the SMTP server
    QString host;   // the URL's host part; empty for an upload, as in its history line
    QDateTime started;
    qint64 connectMs = 0;
    qint64 bytes = 0;
    std::vector<CliRound> rounds; // five for a download, none for an upload
    QString kbpsText;
    QString mbpsText;
    int mark = 0;
    QStringList markReasons; // "unsteady", "too_small", "connect_time"
    QString historyLine;
};

// ISO 8601 with the local offset, to the second: 2013-05-19T07:15:05+09:00.
QString IsoLocalTime(const QDateTime& when);

// The shown kbps figure as megabits (10^6 bits) per second, 3 decimals: what an export of
// the history line gives too.
QString MegabitsPerSecondText(const QString& kbpsText);

QJsonObject RecordJson(const CliRecord& record);
// One JSON Lines line, ending in LF.
QByteArray RecordJsonLine(const CliRecord& record);

// RFC 4180: a field holding a comma, a quote, CR or LF is quoted, quotes doubled.
QString CsvField(const QString& text);
// The header line and one row per record, each ending in CR LF. The history export's
// columns come first (kind, host, started, connect_ms, bytes, kbps, mbps, mbit_s, mark),
// then the command line's own.
QByteArray CsvHeaderLine();
QByteArray RecordCsvLine(const CliRecord& record);
