// The HTTP upload run without a window, against a scripted sink on 127.0.0.1.
#include "core/history/HistoryRecord.h"
#include "core/platform/WindowTimer.h"
#include "core/upload/HttpUploadRun.h"
#include "support/ScriptedPeer.h"

#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(RunOutcome)
Q_DECLARE_METATYPE(HttpUploadResult)
Q_DECLARE_METATYPE(RunEnd)

namespace {
constexpr qint64 kMiB = 1024 * 1024;

QByteArray reply(const QByteArray& status, const QByteArray& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The first connection serves the descriptor; the ones after it are the script's.
ScriptedPeer& describe(ScriptedPeer& peer, qint64 maxBytes = 8 * kMiB) {
    const QByteArray json = R"({"name":"t","version":"1","files":[],"upload":{"path":"/qm/up",)"
                            R"("max_bytes":)" +
                            QByteArray::number(maxBytes) + "}}";
    peer.readRequest().send(reply("200 OK", json)).close().next();
    return peer;
}

MeasurementServer serverOf(const ScriptedPeer& peer) {
    MeasurementServer s;
    ParseServerAddress(QStringLiteral("127.0.0.1:%1").arg(peer.port()), &s);
    return s;
}

struct Spies {
    explicit Spies(HttpUploadRun& run)
        : rounds(&run, &HttpUploadRun::roundMeasured)
        , completed(&run, &HttpUploadRun::completed)
        , failed(&run, &HttpUploadRun::failed) {}
    QSignalSpy rounds;
    QSignalSpy completed;
    QSignalSpy failed;
    RunEnd failure() const { return failed.front().at(0).value<RunOutcome>().end; }
};

void fastRounds(HttpUploadRun& run) {
    run.RoundTimer->setInterval(20);
}
} // namespace

class HttpUploadRunTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qRegisterMetaType<RunOutcome>();
        qRegisterMetaType<HttpUploadResult>();
    }

    void laterRoundsLastThreeSecondsAtRoundOnesSpeed() {
        QCOMPARE(HttpUploadRoundBytes(kMiB, 500000, 256 * kMiB), 6 * kMiB + 1);
        // A slow first round is not made shorter; a fast one stops at the limit.
        QCOMPARE(HttpUploadRoundBytes(kMiB, 4000000, 256 * kMiB), kMiB);
        QCOMPARE(HttpUploadRoundBytes(kMiB, 1000, 256 * kMiB), 256 * kMiB);
    }

    void fiveRoundsPostTheRandomBodyAndGiveTheHistoryLine() {
        ScriptedPeer peer;
        describe(peer, 3 * kMiB);
        peer.readRequest().readBody().sendBodyCount().close();
        HttpUploadRun run;
        fastRounds(run);
        Spies spies(run);
        run.Start(serverOf(peer), QStringLiteral("2026-05-01(金) 10:00:00"));
        QVERIFY(spies.completed.wait(30000));
        QCOMPARE(spies.failed.size(), 0);
        QCOMPARE(spies.rounds.size(), 5);
        QCOMPARE(peer.connectionCount(), 6);

        const QByteArray first = peer.received(1);
        const QByteArray head =
            "POST /qm/up HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(peer.port()) +
            "\r\nContent-Type: application/octet-stream\r\nContent-Length: 1048576\r\n"
            "Connection: close\r\n\r\n";
        QVERIFY(first.startsWith(head));
        QCOMPARE(first.size(), head.size() + kMiB);
        // Random: neither zeros nor a short pattern a compressor would fold.
        const QByteArray body = first.mid(head.size());
        QVERIFY(qCompress(body).size() > body.size() * 99 / 100);

        // Round 1 over loopback lasts far less than a third of a second: the later rounds
        // are cut to the sink's 3 MiB.
        const auto result = spies.completed.front().at(0).value<HttpUploadResult>();
        QCOMPARE(result.rounds[0].bytes, kMiB);
        for (int i = 1; i < 5; ++i) {
            QCOMPARE(result.rounds[i].bytes, 3 * kMiB);
            QCOMPARE(spies.rounds.at(i).at(3).toLongLong(), 3 * kMiB);
            // One body per run: the later rounds send round 1's bytes and more.
            const QByteArray later = peer.received(i + 1);
            QVERIFY(later.mid(later.indexOf("\r\n\r\n") + 4).startsWith(body));
        }
        QCOMPARE(result.bytesText, QStringLiteral("3145728"));
        const std::optional<HistoryRecord> record = ParseHistoryLine(result.historyLine);
        QVERIFY(record);
        QCOMPARE(record->kind, HistoryKind::UploadHttp);
        QCOMPARE(record->host, QStringLiteral("127.0.0.1:%1").arg(peer.port()));
        // Loopback rounds under load may be marked unsteady: the mark's stars come first.
        QVERIFY(result.historyLine.startsWith(
            QString(result.mark, QLatin1Char('*')) +
            QStringLiteral("*upload-http(127.0.0.1:%1),2026-05-01(金) 10:00:00,")
                .arg(peer.port())));
        QCOMPARE(HistoryKindName(record->kind), QStringLiteral("upload-http"));
    }

    void roundsAreSizedFromAPacedRoundOne() {
        ScriptedPeer peer;
        describe(peer, 16 * kMiB);
        peer.readRequest().readBody(2 * kMiB).sendBodyCount().close().next();
        peer.readRequest().readBody().sendBodyCount().close();
        HttpUploadRun run;
        fastRounds(run);
        Spies spies(run);
        run.Start(serverOf(peer), QString());
        QVERIFY(spies.rounds.wait(10000));
        QVERIFY(spies.rounds.wait(10000));
        run.Stop();
        const qint64 later = run.RoundBytes()[1];
        // About 6 MiB for three seconds at round 1's speed (a little under: slow start, ticks).
        QVERIFY2(later > kMiB * 9 / 2 && later < kMiB * 15 / 2, QByteArray::number(later));
        // Round 2 went at loopback speed: rounds 3 to 5 are sized from it, up to the limit.
        QCOMPARE(run.RoundBytes()[2], 16 * kMiB);
        QCOMPARE(run.RoundBytes()[4], 16 * kMiB);
    }

    void aReplyBeforeTheBodyIsAnEarlyReply() {
        ScriptedPeer peer;
        describe(peer);
        peer.readRequest().send(reply("200 OK", R"({"bytes":1048576})")).close();
        HttpUploadRun run;
        Spies spies(run);
        run.Start(serverOf(peer), QString());
        QVERIFY(spies.failed.wait(10000));
        QCOMPARE(spies.failure(), RunEnd::EarlyReply);
        QCOMPARE(spies.rounds.size(), 0);
        QCOMPARE(spies.completed.size(), 0);
    }

    void endsWithoutAResult_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<qint64>("delta");
        QTest::addColumn<RunEnd>("end");
        QTest::newRow("413") << reply("413 Payload Too Large", "{}") << qint64(0)
                             << RunEnd::BodyTooLarge;
        QTest::newRow("redirect") << reply("307 Temporary Redirect", "") << qint64(0)
                                  << RunEnd::Redirected;
        QTest::newRow("500") << reply("500 Internal Server Error", "") << qint64(0)
                             << RunEnd::ErrorReply;
        QTest::newRow("short count") << QByteArray() << qint64(-1) << RunEnd::CountMismatch;
        QTest::newRow("count above sent") << QByteArray() << qint64(5) << RunEnd::CountMismatch;
    }

    void endsWithoutAResult() {
        QFETCH(QByteArray, answer);
        QFETCH(qint64, delta);
        QFETCH(RunEnd, end);
        ScriptedPeer peer;
        describe(peer);
        peer.readRequest().readBody();
        if (answer.isEmpty())
            peer.sendBodyCount(delta);
        else
            peer.send(answer);
        peer.close();
        HttpUploadRun run;
        Spies spies(run);
        run.Start(serverOf(peer), QString());
        QVERIFY(spies.failed.wait(10000));
        QCOMPARE(spies.failure(), end);
        QCOMPARE(spies.rounds.size(), 0);
        const auto outcome = spies.failed.front().at(0).value<RunOutcome>();
        if (end == RunEnd::CountMismatch) {
            QCOMPARE(outcome.sentBytes, kMiB);
            QCOMPARE(outcome.countedBytes, kMiB + delta);
        }
        QVERIFY(!HttpUploadFailureText(outcome, QStringLiteral("h")).isEmpty());
    }

    void aServerWithoutASinkIsRefusedBeforeAnyBody() {
        ScriptedPeer peer;
        peer.readRequest().send(reply("404 Not Found", "")).close();
        HttpUploadRun run;
        Spies spies(run);
        run.Start(serverOf(peer), QString());
        QVERIFY(spies.failed.wait(10000));
        QCOMPARE(spies.failure(), RunEnd::NoUploadSink);
        QCOMPARE(peer.connectionCount(), 1);
    }

    void aServerThatStopsReadingTimesOut() {
        ScriptedPeer peer;
        describe(peer, 256 * kMiB);
        peer.readRequest().readBody(1).sendBodyCount().close();
        HttpUploadRun run;
        run.SilenceTimeoutMs = 300;
        Spies spies(run);
        run.Start(serverOf(peer), QString());
        QVERIFY(spies.failed.wait(10000));
        QCOMPARE(spies.failure(), RunEnd::TimedOut);
    }

    void aSilentDescriptorEndsAtTheRunsSilenceBound() {
        ScriptedPeer peer;
        peer.readRequest();
        HttpUploadRun run;
        run.SilenceTimeoutMs = 300;
        Spies spies(run);
        run.Start(serverOf(peer), QString());
        // Far sooner than the descriptor's own 10 s.
        QVERIFY(spies.failed.wait(5000));
        QCOMPARE(spies.failure(), RunEnd::TimedOut);
    }
};

QTEST_GUILESS_MAIN(HttpUploadRunTest)
#include "httpuploadrun_test.moc"
