// The measurements as a node_exporter textfile: one gauge per figure, labelled by kind,
// server and address family, rewritten whole after every run.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// What one run leaves for the file: its series and, when it measured, its figures.
struct PrometheusRun {
    QString kind;   // "download", "upload", "upload-http" or "line"
    QString server; // "host[:port]"; a user name before "@" is left out of the label
    QString family; // "ipv4" or "ipv6"; empty when nobody knows (a failed run on 自動)
    QDateTime started;
    bool measured = false;
    // Base units: bytes per second and seconds.
    std::optional<double> downloadBytesPerSecond;
    std::optional<double> uploadBytesPerSecond;
    std::optional<double> connectSeconds;
    std::optional<double> idleLatencySeconds;
    std::optional<double> loadedDownLatencySeconds;
    std::optional<double> loadedUpLatencySeconds;
    std::optional<double> rpm;
};

// A measured run from its record as the results journal keeps it: kind, server, family,
// started, and bytes_per_s and connect_ms, or a line test's download, upload, idle_latency
// and rpm. measured stays false for a record that names no kind or start.
PrometheusRun PrometheusRunFromRecord(const QJsonObject& record);

// One (kind, server, family): the last run and the figures of the last one that measured.
struct PrometheusSeries {
    PrometheusRun figures;          // of the last good run; kind, server and family are the key
    std::optional<double> lastRun;  // seconds since the epoch, good or failed
    std::optional<double> lastGood; // the figures' run
    bool up = false;
};

// The series after run: a good run replaces its series' figures; a failed one keeps them and
// only marks the series down. A failed run whose family is not known marks every family of
// its kind and server (the one 自動 chose is among them), and a good run replaces such a
// placeholder of unknown family. A run without kind or start changes nothing.
void ApplyPrometheusRun(QList<PrometheusSeries>* series, const PrometheusRun& run);

// The exposition text: # HELP and # TYPE once per metric, its samples after, ordered by
// kind, server and family; LF line ends and a final LF, as the textfile collector wants.
QByteArray PrometheusText(const QList<PrometheusSeries>& series);
// The series read back from such a text. Lines that are not this program's samples are
// left out, so that a damaged file costs its damaged lines only.
QList<PrometheusSeries> ReadPrometheusText(const QByteArray& text);

// Why path cannot take the file (no such folder, a folder that cannot be written, a folder
// of that name); empty when it can.
QString PrometheusPathProblem(const QString& path);

// Reads the earlier file, applies run and replaces the file whole: a reader sees the old
// text or the new one, never a part. Writers take turns on "<path>.lock". Empty on success,
// else the message for the user.
QString WritePrometheusFile(const QString& path, const PrometheusRun& run);
