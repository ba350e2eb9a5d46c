// One measurement as quillmet-cli prints it: the history line, a JSON object or a CSV row.
#pragma once

#include "core/history/HistoryRecord.h"
#include "core/net/AddressFamily.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <vector>

struct CliRound {
    long double bytesPerSecond = 0;
    QString kbpsText;  // as the window shows it, 1 decimal
    QString mbpsText;  // 3 decimals
    qint64 bytes = -1; // an HTTP upload's body length; -1 for a download's
};

struct CliRecord {
    // What the history export makes of the run's line: kind, host, started, connect_ms,
    // bytes, kbps, mbps, mark (and mbit_s from them).
    HistoryRecord record;
    // The command line's own fields, after those.
    QString target;               // the URL, the SMTP server, or the HTTP upload's server
    std::vector<CliRound> rounds; // five for a download and an HTTP upload, none for a mail
    QStringList markReasons;      // "unsteady", "too_small", "connect_time"
    QString historyLine;
    // Where the run connected: the family and the peer's address (no brackets).
    AddressFamily family = AddressFamily::Ipv4;
    QString address;
    double bytesPerSecond = 0; // the reading, for the results journal
};

// A run of a series that failed: its record in place of a measurement's.
struct CliFailure {
    QDateTime started;
    QString target; // the URL, the SMTP server, or the HTTP upload's server
    bool upload = false;
    bool uploadHttp = false;
    int exitCode = 0;
    QString message; // as standard error had it
    QString family;  // the family the run was to use ("ipv4", "ipv6"); empty for auto
};

// The export's object with "url", "smtp" or "server" (an HTTP upload's), "rounds" (with each
// body's "bytes" for an HTTP upload), "mark_reasons", "family", "address" and "history_line".
QJsonObject RecordJson(const CliRecord& record);
// One JSON Lines line, ending in LF.
QByteArray RecordJsonLine(const CliRecord& record);

// {"kind":"error","started":...,"exit_code":...,"message":...} and "url", "smtp" or "server";
// "family" when the run was to use one.
QByteArray FailureJsonLine(const CliFailure& failure);

// The export's columns first, then url, smtp, the five rounds' bytes_per_s, kbps and mbps,
// mark_reasons (joined by ";"), exit_code and message (a failed run's), family and address,
// and history_line.
// RFC 4180, each line ending in CR LF.
QByteArray CsvHeaderLine();
QByteArray RecordCsvLine(const CliRecord& record);
// kind "error", started, url or smtp (an HTTP upload's server in host), exit_code and
// message; the other fields empty.
QByteArray FailureCsvLine(const CliFailure& failure);

// Writes all of bytes to fd; empty on success, else the system's reason. A regular file
// that took only part of them (a full disk) is cut back to where they began, so that it
// never ends in half a record.
QString WriteWhole(int fd, const QByteArray& bytes);
// Closes fd, which may report a write the system deferred; empty on success.
QString CloseOutput(int fd);
