// One history line read into its fields, and the line it was read from formatted back.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

enum class HistoryKind { Download, Upload, UploadHttp };

// An upload line's first field. Its "*" belongs to the text, not to a mark: an upload
// record has mark 0 and an empty host (the line does not name the mail server).
inline const QString kUploadFirstField = QStringLiteral("*upload(310KB)");

// An HTTP upload's first field: "*upload-http(HOST)", HOST the sink's server as "host[:port]".
// The leading "*" keeps it from the fastest record; a mark stands before it ("**", "***").
QString HttpUploadFirstField(int mark, const QString& host);

struct HistoryRecord {
    HistoryKind kind = HistoryKind::Download;
    int mark = 0;      // 0 clean, 1 "*", 2 "**"
    QString host;      // the URL's host part, port and user name included; may be empty; for an
                       // HTTP upload the server
    QDateTime started; // the line's date and time, read as local time
    qint64 connectMs = 0;
    qint64 bytes = 0;
    QString kbpsText; // the speeds as the line shows them: 1 and 3 decimals
    QString mbpsText;
    double kbps = 0; // 1 kbps = 1,024 bits per second
    double mbps = 0; // 1 Mbps = 1,048,576 bits per second

    // The history line again, byte for byte the one it was parsed from.
    QString Line() const;
    bool operator==(const HistoryRecord&) const = default;
};

// The line's fields, or nothing for a line that is not in the layout (an older or damaged
// line, a weekday that does not fit its date, a speed shown as "INF").
std::optional<HistoryRecord> ParseHistoryLine(const QString& line);

struct ParsedHistory {
    QList<HistoryRecord> records; // in list order
    int skipped = 0;              // lines that did not parse
};
ParsedHistory ParseHistory(const QStringList& lines);

// "download", "upload" or "upload-http".
QString HistoryKindName(HistoryKind kind);

// 2026-12-08T14:35:00+09:00: the local UTC offset always written out, never "Z".
QString IsoLocalTime(const QDateTime& when);

// Megabits (10^6 bits) per second from the kbps figure, 3 decimals.
QString MbitPerSecondText(const HistoryRecord& record);
