// The node_exporter textfile: what a known record becomes, what a failed run keeps, and a
// reader that never catches the file half written.
#include "core/history/PrometheusFile.h"
#include "support/PromText.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>

namespace {
QString read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QJsonObject json(const char* text) {
    return QJsonDocument::fromJson(text).object();
}

// A URL's host part as typed may carry a user name, and quotes or a backslash.
const QString kOddServer = QStringLiteral("me@odd\"ho\\st:80");

QJsonObject oddDownload(const char* text) {
    QJsonObject o = json(text);
    o.insert(QStringLiteral("server"), kOddServer);
    return o;
}

const char* const kLineRecord =
    R"({"kind":"line","version":1,"started":"2026-12-09T18:00:00.123+09:00",
        "server":"speed.example.jp:8080","family":"ipv6","address":"2001:db8::1",
        "download":{"bytes_per_s":117000000.0,"bytes":900000000,"seconds":7.7,
                    "latency":{"median_ms":23.1,"low_ms":20.4,"high_ms":40.2,"jitter_ms":1.3}},
        "upload":{"bytes_per_s":42500000.5,"bytes":300000000,"seconds":7.1,
                  "latency":{"median_ms":61.5,"low_ms":30.0,"high_ms":90.0,"jitter_ms":4.0}},
        "idle_latency":{"median_ms":20.5,"low_ms":20.3,"high_ms":21.0,"jitter_ms":0.2},
        "rpm":2600,"rpm_band":"Good","grade":"A","notes":[]})";

const char* const kDownloadRecord =
    R"({"kind":"download","version":1,"started":"2026-12-09T19:00:00.500+09:00",
        "server":"me@speed.example.jp:80","family":"ipv4","bytes_per_s":1250000,"connect_ms":12})";
} // namespace

class PrometheusTest final : public QObject {
    Q_OBJECT

private slots:
    void namesLabelsAndBaseUnitsOfKnownRecords() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("quillmet.prom"));
        QCOMPARE(WritePrometheusFile(path, PrometheusRunFromRecord(json(kLineRecord))), QString());
        QCOMPARE(WritePrometheusFile(path, PrometheusRunFromRecord(oddDownload(kDownloadRecord))),
                 QString());
        const QString text = read(path);
        qInfo("%s", qPrintable(text));
        const PromText p = ParsePromText(text);
        QVERIFY2(p.problems.isEmpty(), qPrintable(p.problems.join(u'\n')));

        const QHash<QString, QString> line{
            {"kind", "line"}, {"server", "speed.example.jp:8080"}, {"family", "ipv6"}};
        QCOMPARE(p.value("quillmet_download_bytes_per_second", line), QStringLiteral("117000000"));
        QCOMPARE(p.value("quillmet_upload_bytes_per_second", line), QStringLiteral("42500000.5"));
        auto state = [&line](const char* s) {
            auto labels = line;
            labels.insert(QStringLiteral("state"), QString::fromLatin1(s));
            return labels;
        };
        QCOMPARE(p.value("quillmet_latency_seconds", state("idle")).toDouble(), 0.0205);
        QCOMPARE(p.value("quillmet_latency_seconds", state("loaded_down")).toDouble(), 0.0231);
        QCOMPARE(p.value("quillmet_latency_seconds", state("loaded_up")).toDouble(), 0.0615);
        QCOMPARE(p.value("quillmet_rpm", line), QStringLiteral("2600"));
        QCOMPARE(p.value("quillmet_up", line), QStringLiteral("1"));
        // 18:00:00.123 at +09:00.
        QCOMPARE(p.value("quillmet_last_run_timestamp_seconds", line),
                 QStringLiteral("1796806800.123"));
        QCOMPARE(p.value("quillmet_last_success_timestamp_seconds", line),
                 QStringLiteral("1796806800.123"));
        QVERIFY(p.value("quillmet_connect_seconds", line).isEmpty());

        // The user name stays out; the quote and the backslash come back as they were.
        const QHash<QString, QString> download{
            {"kind", "download"}, {"server", "odd\"ho\\st:80"}, {"family", "ipv4"}};
        QCOMPARE(p.value("quillmet_download_bytes_per_second", download),
                 QStringLiteral("1250000"));
        QCOMPARE(p.value("quillmet_connect_seconds", download).toDouble(), 0.012);
        QVERIFY(p.value("quillmet_upload_bytes_per_second", download).isEmpty());
        QVERIFY(!text.contains(QStringLiteral("me@")));
        QCOMPARE(text.count(QStringLiteral("# TYPE quillmet_latency_seconds gauge\n")), 1);
    }

    void aFailedRunKeepsTheFiguresAndMarksItsFamiliesDown() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("quillmet.prom"));
        QJsonObject v4 = oddDownload(kDownloadRecord);
        QJsonObject v6 = v4;
        v6.insert(QStringLiteral("family"), QStringLiteral("ipv6"));
        v6.insert(QStringLiteral("bytes_per_s"), 2500000);
        QCOMPARE(WritePrometheusFile(path, PrometheusRunFromRecord(v4)), QString());
        QCOMPARE(WritePrometheusFile(path, PrometheusRunFromRecord(v6)), QString());
        const QString before = read(path);

        // 自動 failed before a family was known: both of that server's series are down.
        PrometheusRun failed;
        failed.kind = QStringLiteral("download");
        failed.server = QStringLiteral("odd\"ho\\st:80");
        failed.started = QDateTime::fromString("2026-12-09T20:00:00+09:00", Qt::ISODate);
        QCOMPARE(WritePrometheusFile(path, failed), QString());
        const PromText p = ParsePromText(read(path));
        QVERIFY2(p.problems.isEmpty(), qPrintable(p.problems.join(u'\n')));
        for (const char* family : {"ipv4", "ipv6"}) {
            const QHash<QString, QString> key{
                {"kind", "download"}, {"server", failed.server}, {"family", family}};
            QCOMPARE(p.value("quillmet_up", key), QStringLiteral("0"));
            QCOMPARE(p.value("quillmet_last_run_timestamp_seconds", key),
                     QStringLiteral("1796814000"));
            QCOMPARE(p.value("quillmet_last_success_timestamp_seconds", key),
                     ParsePromText(before).value("quillmet_last_success_timestamp_seconds", key));
        }
        QCOMPARE(p.value("quillmet_download_bytes_per_second", {{"family", "ipv6"}}),
                 QStringLiteral("2500000"));
        QCOMPARE(p.samples.size(), ParsePromText(before).samples.size());

        // A good run afterwards brings its own family back up and leaves the other down.
        QCOMPARE(WritePrometheusFile(path, PrometheusRunFromRecord(v4)), QString());
        const PromText again = ParsePromText(read(path));
        QCOMPARE(again.value("quillmet_up", {{"family", "ipv4"}}), QStringLiteral("1"));
        QCOMPARE(again.value("quillmet_up", {{"family", "ipv6"}}), QStringLiteral("0"));
    }

    void aDamagedEarlierFileCostsOnlyItsDamagedLines() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("quillmet.prom"));
        QCOMPARE(WritePrometheusFile(path, PrometheusRunFromRecord(json(kLineRecord))), QString());
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write("quillmet_rpm{kind=\"line\",server=\"x\n\xff\xfe garbage {{{\n");
        file.close();
        QCOMPARE(WritePrometheusFile(path, PrometheusRunFromRecord(oddDownload(kDownloadRecord))),
                 QString());
        const PromText p = ParsePromText(read(path));
        QVERIFY2(p.problems.isEmpty(), qPrintable(p.problems.join(u'\n')));
        QCOMPARE(p.value("quillmet_rpm", {{"kind", "line"}}), QStringLiteral("2600"));
        QCOMPARE(p.value("quillmet_up", {{"kind", "download"}}), QStringLiteral("1"));
    }

    void aReaderNeverSeesAPartialFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("quillmet.prom"));
        QCOMPARE(WritePrometheusFile(path, PrometheusRunFromRecord(json(kLineRecord))), QString());
        const qsizetype whole = ParsePromText(read(path)).samples.size();
        std::atomic<bool> done{false};
        std::atomic<int> reads{0};
        QStringList torn;
        std::thread reader([&] {
            while (!done) {
                const QString text = read(path);
                const PromText p = ParsePromText(text);
                if (!p.problems.isEmpty() || p.samples.size() != whole)
                    torn << text;
                ++reads;
            }
        });
        // Alternately good and failed: the text changes length with every write.
        QString failure;
        for (int i = 0; i < 300 && failure.isEmpty(); ++i) {
            PrometheusRun run = PrometheusRunFromRecord(json(kLineRecord));
            run.measured = i % 2 == 1;
            run.started = run.started.addMSecs(i * 1001);
            failure = WritePrometheusFile(path, run);
        }
        done = true;
        reader.join();
        QCOMPARE(failure, QString());
        QVERIFY(reads > 0);
        QVERIFY2(torn.isEmpty(), qPrintable(torn.value(0)));
    }
};

QTEST_GUILESS_MAIN(PrometheusTest)
#include "prometheus_test.moc"
