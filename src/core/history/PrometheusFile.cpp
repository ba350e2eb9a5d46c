#include "core/history/PrometheusFile.h"

#include "core/state/StateFileLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

// An earlier file bigger than this is no file of ours: it is not read back.
constexpr qint64 kMaxReadBytes = 4 * 1024 * 1024;

enum class Metric {
    Up,
    LastRun,
    LastGood,
    DownloadSpeed,
    UploadSpeed,
    Connect,
    LatencyIdle,
    LatencyDown,
    LatencyUp,
    Rpm,
};

struct MetricName {
    Metric metric;
    const char* name;
    const char* state; // the latency's state label; null for the others
    const char* help;
};

// In the file's order; the three latencies share one name and its HELP and TYPE.
constexpr MetricName kMetrics[] = {
    {Metric::Up, "quillmet_up", nullptr, "最後の測定が測れたら 1、失敗したら 0"},
    {Metric::LastRun, "quillmet_last_run_timestamp_seconds", nullptr,
     "最後の測定を始めた時刻（成否を問わず、UNIX 時間の秒）"},
    {Metric::LastGood, "quillmet_last_success_timestamp_seconds", nullptr,
     "ここにある測定値を測った測定を始めた時刻（UNIX 時間の秒）"},
    {Metric::DownloadSpeed, "quillmet_download_bytes_per_second", nullptr,
     "最後に測れた下りの速度（バイト毎秒）"},
    {Metric::UploadSpeed, "quillmet_upload_bytes_per_second", nullptr,
     "最後に測れた上りの速度（バイト毎秒）"},
    {Metric::Connect, "quillmet_connect_seconds", nullptr, "最後に測れた接続時間（秒）"},
    {Metric::LatencyIdle, "quillmet_latency_seconds", "idle",
     "回線品質測定の遅延の中央値（秒）。待機時、下りの負荷時、上りの負荷時"},
    {Metric::LatencyDown, "quillmet_latency_seconds", "loaded_down", nullptr},
    {Metric::LatencyUp, "quillmet_latency_seconds", "loaded_up", nullptr},
    {Metric::Rpm, "quillmet_rpm", nullptr, "回線品質測定の RPM（負荷時の一分あたりの往復回数）"},
};

std::optional<double>* figure(PrometheusSeries& s, Metric metric) {
    PrometheusRun& f = s.figures;
    switch (metric) {
    case Metric::LastRun:
        return &s.lastRun;
    case Metric::LastGood:
        return &s.lastGood;
    case Metric::DownloadSpeed:
        return &f.downloadBytesPerSecond;
    case Metric::UploadSpeed:
        return &f.uploadBytesPerSecond;
    case Metric::Connect:
        return &f.connectSeconds;
    case Metric::LatencyIdle:
        return &f.idleLatencySeconds;
    case Metric::LatencyDown:
        return &f.loadedDownLatencySeconds;
    case Metric::LatencyUp:
        return &f.loadedUpLatencySeconds;
    case Metric::Rpm:
        return &f.rpm;
    case Metric::Up:
        break;
    }
    return nullptr;
}

// A user name (and a password with it) in a URL's host part stays out of the monitoring.
QString serverLabel(const QString& server) {
    return server.mid(server.lastIndexOf(QLatin1Char('@')) + 1);
}

bool sameKey(const PrometheusRun& a, const PrometheusRun& b) {
    return a.kind == b.kind && a.server == b.server && a.family == b.family;
}

QString escapedLabel(const QString& value) {
    QString out;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('"'))
            out += QStringLiteral("\\\"");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else
            out += c;
    }
    return out;
}

// 15 significant digits: what the records hold (23.1 ms) comes out as written (0.0231 s,
// not 0.023100000000000002), and a timestamp keeps its milliseconds without an exponent.
QString number(double value) {
    return QString::number(value, 'g', 15);
}

// divisor: 1000 for milliseconds.
std::optional<double> jsonNumber(const QJsonObject& o, const char* name, double divisor = 1.0) {
    const QJsonValue v = o.value(QLatin1String(name));
    if (!v.isDouble() || !std::isfinite(v.toDouble()))
        return std::nullopt;
    return v.toDouble() / divisor;
}

struct Sample {
    QString name;
    QString kind, server, family, state;
    double value = 0;
};

// name{label="value",...} value; false for anything else.
bool parseSample(const QString& line, Sample* sample) {
    qsizetype i = 0;
    while (i < line.size() && (line[i].isLetterOrNumber() || line[i] == QLatin1Char('_')))
        ++i;
    sample->name = line.left(i);
    if (sample->name.isEmpty())
        return false;
    if (i < line.size() && line[i] == QLatin1Char('{')) {
        ++i;
        while (i < line.size() && line[i] != QLatin1Char('}')) {
            const qsizetype eq = line.indexOf(QLatin1Char('='), i);
            if (eq < 0 || eq + 1 >= line.size() || line[eq + 1] != QLatin1Char('"'))
                return false;
            const QString label = line.mid(i, eq - i).trimmed();
            QString value;
            i = eq + 2;
            for (; i < line.size() && line[i] != QLatin1Char('"'); ++i) {
                if (line[i] != QLatin1Char('\\')) {
                    value += line[i];
                    continue;
                }
                if (++i >= line.size())
                    return false;
                value += line[i] == QLatin1Char('n') ? QChar(QLatin1Char('\n')) : line[i];
            }
            if (i >= line.size())
                return false;
            ++i; // the closing quote
            if (i < line.size() && line[i] == QLatin1Char(','))
                ++i;
            if (label == QLatin1String("kind"))
                sample->kind = value;
            else if (label == QLatin1String("server"))
                sample->server = value;
            else if (label == QLatin1String("family"))
                sample->family = value;
            else if (label == QLatin1String("state"))
                sample->state = value;
        }
        if (i >= line.size())
            return false;
        ++i;
    }
    const QStringList rest = line.mid(i).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (rest.isEmpty())
        return false;
    bool ok = false;
    sample->value = rest.front().toDouble(&ok);
    return ok && std::isfinite(sample->value);
}

} // namespace

PrometheusRun PrometheusRunFromRecord(const QJsonObject& record) {
    PrometheusRun run;
    run.kind = record.value(QLatin1String("kind")).toString();
    run.server = record.value(QLatin1String("server")).toString();
    if (run.server.isEmpty())
        run.server = record.value(QLatin1String("host")).toString();
    run.family = record.value(QLatin1String("family")).toString();
    const QString started = record.value(QLatin1String("started")).toString();
    run.started = QDateTime::fromString(started, Qt::ISODateWithMs);
    if (!run.started.isValid())
        run.started = QDateTime::fromString(started, Qt::ISODate);
    run.measured = !run.kind.isEmpty() && run.started.isValid();
    if (run.kind == QLatin1String("line")) {
        const QJsonObject down = record.value(QLatin1String("download")).toObject();
        const QJsonObject up = record.value(QLatin1String("upload")).toObject();
        run.downloadBytesPerSecond = jsonNumber(down, "bytes_per_s");
        run.uploadBytesPerSecond = jsonNumber(up, "bytes_per_s");
        run.idleLatencySeconds =
            jsonNumber(record.value(QLatin1String("idle_latency")).toObject(), "median_ms", 1000.0);
        run.loadedDownLatencySeconds =
            jsonNumber(down.value(QLatin1String("latency")).toObject(), "median_ms", 1000.0);
        run.loadedUpLatencySeconds =
            jsonNumber(up.value(QLatin1String("latency")).toObject(), "median_ms", 1000.0);
        run.rpm = jsonNumber(record, "rpm");
        return run;
    }
    const std::optional<double> speed = jsonNumber(record, "bytes_per_s");
    if (run.kind == QLatin1String("download"))
        run.downloadBytesPerSecond = speed;
    else
        run.uploadBytesPerSecond = speed;
    run.connectSeconds = jsonNumber(record, "connect_ms", 1000.0);
    return run;
}

void ApplyPrometheusRun(QList<PrometheusSeries>* series, const PrometheusRun& given) {
    // A record without its kind or start names no series and no time.
    if (given.kind.isEmpty() || !given.started.isValid())
        return;
    PrometheusRun run = given;
    run.server = serverLabel(run.server);
    const double when = double(run.started.toMSecsSinceEpoch()) / 1000.0;
    const auto findOrAdd = [series](const PrometheusRun& key) -> PrometheusSeries& {
        for (PrometheusSeries& s : *series) {
            if (sameKey(s.figures, key))
                return s;
        }
        PrometheusSeries added;
        added.figures.kind = key.kind;
        added.figures.server = key.server;
        added.figures.family = key.family;
        series->append(added);
        return series->back();
    };
    const auto ofRun = [&run](const PrometheusSeries& s) {
        return s.figures.kind == run.kind && s.figures.server == run.server;
    };

    if (run.measured) {
        if (!run.family.isEmpty()) {
            series->removeIf(
                [&](const PrometheusSeries& s) { return ofRun(s) && s.figures.family.isEmpty(); });
        }
        PrometheusSeries& s = findOrAdd(run);
        s.figures = run;
        s.lastRun = when;
        s.lastGood = when;
        s.up = true;
        return;
    }
    bool marked = false;
    for (PrometheusSeries& s : *series) {
        if (ofRun(s) && (run.family.isEmpty() || s.figures.family == run.family)) {
            s.lastRun = when;
            s.up = false;
            marked = true;
        }
    }
    if (!marked) {
        PrometheusSeries& s = findOrAdd(run);
        s.lastRun = when;
        s.up = false;
    }
}

QByteArray PrometheusText(const QList<PrometheusSeries>& given) {
    QList<PrometheusSeries> series = given;
    std::sort(series.begin(), series.end(), [](const auto& a, const auto& b) {
        return std::tie(a.figures.kind, a.figures.server, a.figures.family) <
               std::tie(b.figures.kind, b.figures.server, b.figures.family);
    });
    // One group per name: the latency's three states share theirs.
    QStringList names;
    QStringList helps;
    QList<QString> groups;
    for (const MetricName& m : kMetrics) {
        const QString name = QLatin1String(m.name);
        if (m.help) {
            names << name;
            helps << QString::fromUtf8(m.help);
            groups << QString();
        }
        QString& group = groups[names.indexOf(name)];
        for (PrometheusSeries& s : series) {
            const std::optional<double>* value = figure(s, m.metric);
            if (value && (!value->has_value() || !std::isfinite(**value)))
                continue;
            QString labels = QStringLiteral("kind=\"%1\",server=\"%2\",family=\"%3\"")
                                 .arg(escapedLabel(s.figures.kind), escapedLabel(s.figures.server),
                                      escapedLabel(s.figures.family));
            if (m.state)
                labels += QStringLiteral(",state=\"%1\"").arg(QLatin1String(m.state));
            group +=
                QStringLiteral("%1{%2} %3\n")
                    .arg(name, labels, value ? number(**value) : QString::number(s.up ? 1 : 0));
        }
    }
    QString text;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!groups[i].isEmpty())
            text += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n%3")
                        .arg(names[i], helps[i], groups[i]);
    }
    return text.toUtf8();
}

QList<PrometheusSeries> ReadPrometheusText(const QByteArray& bytes) {
    QList<PrometheusSeries> series;
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        Sample sample;
        if (line.startsWith(QLatin1Char('#')) || !parseSample(line, &sample) ||
            sample.kind.isEmpty())
            continue;
        const auto known =
            std::find_if(std::begin(kMetrics), std::end(kMetrics), [&](const auto& m) {
                return sample.name == QLatin1String(m.name) &&
                       (!m.state || sample.state == QLatin1String(m.state));
            });
        if (known == std::end(kMetrics))
            continue;
        PrometheusRun key;
        key.kind = sample.kind;
        key.server = sample.server;
        key.family = sample.family;
        auto s = std::find_if(series.begin(), series.end(), [&](const PrometheusSeries& one) {
            return sameKey(one.figures, key);
        });
        if (s == series.end()) {
            PrometheusSeries added;
            added.figures = key;
            series.append(added);
            s = series.end() - 1;
        }
        if (std::optional<double>* value = figure(*s, known->metric))
            *value = sample.value;
        else
            s->up = sample.value == 1;
    }
    for (PrometheusSeries& s : series) {
        s.figures.measured = s.lastGood.has_value();
        if (s.lastGood)
            s.figures.started = QDateTime::fromMSecsSinceEpoch(qint64(*s.lastGood * 1000.0));
    }
    return series;
}

QString PrometheusPathProblem(const QString& path) {
    if (path.isEmpty())
        return QStringLiteral("--prometheus には書き出すファイルを指定してください");
    const QFileInfo file(path);
    if (file.isDir())
        return QStringLiteral("%1 はフォルダーです。ファイルの名前を指定してください").arg(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists())
        return QStringLiteral("フォルダー %1 がありません").arg(folder.filePath());
    if (!folder.isDir())
        return QStringLiteral("%1 はフォルダーではありません").arg(folder.filePath());
    if (!folder.isWritable())
        return QStringLiteral("フォルダー %1 に書き込めません").arg(folder.filePath());
    return QString();
}

QString WritePrometheusFile(const QString& path, const PrometheusRun& run) {
    if (const QString problem = PrometheusPathProblem(path); !problem.isEmpty())
        return QStringLiteral("%1 を書き出せません（%2）").arg(path, problem);
    // Two runs at once would each write back what they read and lose the other's series.
    StateFileLock lock(path);
    if (lock.LockForJournal() != StateFileLock::Outcome::Acquired)
        return QStringLiteral("%1 をロックできないため書き出しません（%2）")
            .arg(path, lock.Reason());

    QList<PrometheusSeries> series;
    QFile earlier(path);
    if (earlier.exists()) {
        // The earlier figures live only in this file: one that cannot be read is kept as it is.
        if (!earlier.open(QIODevice::ReadOnly))
            return QStringLiteral("%1 を読み込めないため書き出しません（%2）")
                .arg(path, earlier.errorString());
        if (earlier.size() <= kMaxReadBytes)
            series = ReadPrometheusText(earlier.read(kMaxReadBytes));
        earlier.close();
    }
    ApplyPrometheusRun(&series, run);

    QSaveFile file(path);
    const QByteArray text = PrometheusText(series);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return QStringLiteral("%1 に書き出せませんでした（%2）").arg(path, file.errorString());
    return QString();
}
