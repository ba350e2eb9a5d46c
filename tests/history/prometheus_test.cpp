// The node_exporter textfile: what known records become, and a reader that never catches the
// file half written.
#include "core/history/PrometheusFile.h"
#include "support/PromText.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>

namespace {
PrometheusRun run(const char* json, const QString& server = {}) {
    QJsonObject o = QJsonDocument::fromJson(json).object();
    if (!server.isEmpty())
        o.insert(QStringLiteral("server"), server);
    return PrometheusRunFromRecord(o);
}

const char* const kLine =
    R"({"kind":"line","started":"2026-12-09T18:00:00.123+09:00","server":"s.example:8080",
        "family":"ipv6","download":{"bytes_per_s":117000000.0,"latency":{"median_ms":23.1}},
        "upload":{"bytes_per_s":42500000.5,"latency":{"median_ms":61.5}},
        "idle_latency":{"median_ms":20.5},"rpm":2600})";
const char* const kDownload = R"({"kind":"download","started":"2026-12-09T19:00:00.500+09:00",
        "family":"ipv4","bytes_per_s":1250000,"connect_ms":12})";
// A URL's host part as typed: a user name, a quote and a backslash.
const QString kOdd = QStringLiteral("me@odd\"ho\\st:80");
} // namespace

class PrometheusTest final : public QObject {
    Q_OBJECT

private slots:
    void namesLabelsAndBaseUnits() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("q.prom"));
        QCOMPARE(WritePrometheusFile(path, run(kLine)), QString());
        QCOMPARE(WritePrometheusFile(path, run(kDownload, kOdd)), QString());
        const QString text = ReadPromFile(path);
        const PromText p = ParsePromText(text);
        QVERIFY2(p.problems.isEmpty(), qPrintable(p.problems.join(u'\n')));
        const QHash<QString, QString> line{
            {"kind", "line"}, {"server", "s.example:8080"}, {"family", "ipv6"}};
        QCOMPARE(p.value("quillmet_download_bytes_per_second", line), QStringLiteral("117000000"));
        QCOMPARE(p.value("quillmet_upload_bytes_per_second", line), QStringLiteral("42500000.5"));
        QCOMPARE(p.value("quillmet_latency_seconds", {{"state", "idle"}}),
                 QStringLiteral("0.0205"));
        QCOMPARE(p.value("quillmet_latency_seconds", {{"state", "loaded_down"}}),
                 QStringLiteral("0.0231"));
        QCOMPARE(p.value("quillmet_latency_seconds", {{"state", "loaded_up"}}),
                 QStringLiteral("0.0615"));
        QCOMPARE(p.value("quillmet_rpm", line), QStringLiteral("2600"));
        QCOMPARE(p.value("quillmet_up", line), QStringLiteral("1"));
        QCOMPARE(p.value("quillmet_last_run_timestamp_seconds", line),
                 QStringLiteral("1796806800.123"));
        QCOMPARE(text.count(QStringLiteral("# TYPE quillmet_latency_seconds gauge\n")), 1);

        const QHash<QString, QString> download{
            {"kind", "download"}, {"server", "odd\"ho\\st:80"}, {"family", "ipv4"}};
        QCOMPARE(p.value("quillmet_download_bytes_per_second", download),
                 QStringLiteral("1250000"));
        QCOMPARE(p.value("quillmet_connect_seconds", download), QStringLiteral("0.012"));
        QVERIFY(!text.contains(QStringLiteral("me@")));
    }

    void aReaderNeverSeesAPartialFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("q.prom"));
        QCOMPARE(WritePrometheusFile(path, run(kLine)), QString());
        const qsizetype whole = ParsePromText(ReadPromFile(path)).samples.size();
        std::atomic<bool> done{false};
        std::atomic<int> reads{0}, torn{0};
        std::thread reader([&] {
            for (; !done; ++reads) {
                const PromText p = ParsePromText(ReadPromFile(path));
                torn += !p.problems.isEmpty() || p.samples.size() != whole;
            }
        });
        // Good and failed by turns: the text changes length with every write.
        QString failure;
        for (int i = 0; i < 300 && failure.isEmpty(); ++i) {
            PrometheusRun r = run(kLine);
            r.measured = i % 2 == 1;
            r.started = r.started.addMSecs(i * 1001);
            failure = WritePrometheusFile(path, r);
        }
        done = true;
        reader.join();
        QCOMPARE(failure, QString());
        QVERIFY(reads > 10);
        QCOMPARE(torn.load(), 0);
    }
};

QTEST_GUILESS_MAIN(PrometheusTest)
#include "prometheus_test.moc"
