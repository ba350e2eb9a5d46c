// quillmet-cli --prometheus: a good download from the sample host, then the same URL once the
// host has stopped.
#include "cli/CliOptions.h"
#include "cli/CliProcess.h"
#include "support/PromText.h"
#include "support/SampleHostScript.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QString binaryDir() {
    return qEnvironmentVariable("QM_BINARY_DIR");
}

} // namespace

class CliPrometheusTest final : public QObject {
    Q_OBJECT

private slots:
    void aRefusedRunIsDownWithTheGoodFiguresKept() {
        QTemporaryDir dir;
        const QString prom = dir.filePath(QStringLiteral("quillmet.prom"));
        SampleHostScript host(binaryDir(), binaryDir() + QStringLiteral("/cli-prom-sample-host"));
        const QString failure = host.Start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        const QString server = QStringLiteral("127.0.0.1:%1").arg(host.Port());
        const QString url = QStringLiteral("http://%1/qm/qm4M.jpg").arg(server);
        const CliResult good = RunCli(
            dir.path(), {QStringLiteral("--json"), QStringLiteral("--prometheus"), prom, url});
        QCOMPARE(host.Run(QStringLiteral("stop")), 0);
        QVERIFY2(good.exitCode == ExitMeasured, qPrintable(Describe(good)));
        const QString goodText = ReadPromFile(prom);
        qInfo("after a good run:\n%s", qPrintable(goodText));
        const PromText p = ParsePromText(goodText);
        QVERIFY2(p.problems.isEmpty(), qPrintable(p.problems.join(u'\n')));

        const QJsonObject record = QJsonDocument::fromJson(good.out.toUtf8()).object();
        const QHash<QString, QString> key{{"kind", "download"}, {"server", server}};
        QCOMPARE(p.value("quillmet_up", key), QStringLiteral("1"));
        // The record's kbps (1,024 bits a second) in bytes.
        QCOMPARE(p.value("quillmet_download_bytes_per_second", key).toDouble(),
                 record.value("kbps").toDouble() * 128);
        QCOMPARE(p.value("quillmet_connect_seconds", key).toDouble(),
                 record.value("connect_ms").toDouble() / 1000);

        const CliResult refused = RunCli(
            dir.path(), {QStringLiteral("--prometheus"), prom, QStringLiteral("--timeout=5"), url});
        QVERIFY2(refused.exitCode == ExitNetwork, qPrintable(Describe(refused)));
        const QString refusedText = ReadPromFile(prom);
        qInfo("after a refused run:\n%s", qPrintable(refusedText));
        const PromText q = ParsePromText(refusedText);
        QCOMPARE(q.value("quillmet_up", key), QStringLiteral("0"));
        for (const char* kept : {"quillmet_download_bytes_per_second", "quillmet_connect_seconds",
                                 "quillmet_last_success_timestamp_seconds"})
            QCOMPARE(q.value(kept, key), p.value(kept, key));
        QVERIFY(q.value("quillmet_last_run_timestamp_seconds", key).toDouble() >
                p.value("quillmet_last_run_timestamp_seconds", key).toDouble());
        QCOMPARE(q.samples.size(), p.samples.size());
    }
};

QTEST_GUILESS_MAIN(CliPrometheusTest)
#include "prometheus_test.moc"
