// quillmet-cli --line in process: its JSON record from a real test against the sample host
// (phases shortened), and the exit codes of a server it cannot use.
#include "cli/CliLineTest.h"
#include "core/linetest/LineTestRun.h"
#include "support/SampleHostScript.h"
#include "support/ScriptedPeer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {
QString binaryDir() {
    return qEnvironmentVariable("QM_BINARY_DIR");
}

struct Captured {
    QByteArray out;
    QStringList err;
};

int measure(CliOptions options, Captured* c) {
    options.line = true;
    CliLineTest test(options);
    test.Out = [c](const QByteArray& bytes) { c->out += bytes; };
    test.Err = [c](const QString& text) { c->err << text; };
    test.Run()->Timings.phaseMaxMs = 1500;
    test.Run()->Timings.idleProbes = 3;
    return test.Measure();
}
} // namespace

class CliLineTestTest final : public QObject {
    Q_OBJECT

private slots:
    void jsonRecordOfARealTest() {
        SampleHostScript host(binaryDir(), binaryDir() + QStringLiteral("/cli-line-sample-host"));
        const QString failure = host.Start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        CliOptions options;
        options.format = CliOptions::Format::Json;
        options.server = QStringLiteral("127.0.0.1:%1").arg(host.Port());
        Captured c;
        const int code = measure(options, &c);
        QCOMPARE(host.Run(QStringLiteral("stop")), 0);
        QVERIFY2(code == ExitMeasured, qPrintable(c.err.join(u'\n')));
        QVERIFY(c.out.endsWith('\n'));
        QCOMPARE(c.out.count('\n'), 1);
        qInfo("%s", c.out.constData());
        const QJsonObject o = QJsonDocument::fromJson(c.out).object();
        QCOMPARE(o.value("kind").toString(), QStringLiteral("line"));
        QCOMPARE(o.value("version").toInt(), 1);
        QCOMPARE(o.value("server").toString(), options.server);
        QVERIFY(QDateTime::fromString(o.value("started").toString(), Qt::ISODateWithMs).isValid());
        for (const char* direction : {"download", "upload"}) {
            const QJsonObject d = o.value(direction).toObject();
            QVERIFY2(d.value("bytes_per_s").toDouble() > 0, direction);
            QVERIFY(d.value("bytes").toDouble() > 0);
            // The reading is the window's bytes over its seconds.
            QVERIFY(qAbs(d.value("bytes").toDouble() / d.value("seconds").toDouble() -
                         d.value("bytes_per_s").toDouble()) <
                    0.01 * d.value("bytes_per_s").toDouble());
            QVERIFY(d.value("latency").toObject().contains("jitter_ms"));
            QVERIFY(o.value("connections").toObject().value(direction).toInt() >= 1);
        }
        QVERIFY(o.value("idle_latency").toObject().value("median_ms").toDouble() >= 0);
        QVERIFY(o.value("rpm").toInt() > 0);
        QVERIFY(QStringList({"Poor", "Fair", "Good", "Excellent"})
                    .contains(o.value("rpm_band").toString()));
        QVERIFY(QStringList({"A+", "A", "B", "C", "D", "F"}).contains(o.value("grade").toString()));
        // The sample host closes every connection after its reply: said so.
        QVERIFY(o.value("notes").toArray().size() >= 1);
    }

    void aServerWithoutADescriptorIsTheServersFault() {
        ScriptedPeer peer;
        peer.readRequest().send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n").close();
        CliOptions options;
        options.server = QStringLiteral("127.0.0.1:%1").arg(peer.port());
        Captured c;
        QCOMPARE(measure(options, &c), int(ExitStopped));
        QVERIFY(c.out.isEmpty());
        QVERIFY2(c.err.join(u'\n').contains(QStringLiteral("Quillmet の測定サーバーではない")),
                 qPrintable(c.err.join(u'\n')));
    }

    void aServerTextItCannotUseIsRefused() {
        CliOptions options;
        options.server = QStringLiteral("[::1:80");
        Captured c;
        QCOMPARE(measure(options, &c), int(ExitRefused));
        QVERIFY(c.err.join(u'\n').startsWith(QStringLiteral("--server: ")));
    }

    void aClosedPortIsTheNetworksFault() {
        quint16 port = 0;
        {
            ScriptedPeer gone;
            port = gone.port();
        }
        CliOptions options;
        options.server = QStringLiteral("127.0.0.1:%1").arg(port);
        Captured c;
        QCOMPARE(measure(options, &c), int(ExitNetwork));
    }
};

QTEST_GUILESS_MAIN(CliLineTestTest)
#include "linetest_test.moc"
