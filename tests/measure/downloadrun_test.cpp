// DownloadRun with no window at all: a core application and a scripted peer on 127.0.0.1.
#include "core/measure/DownloadRun.h"
#include "core/measure/StartChecks.h"
#include "core/net/AddressFamily.h"
#include "core/net/Nmhttp.h"
#include "core/platform/WindowTimer.h"
#include "support/EventErrorRecorder.h"
#include "support/ScriptedPeer.h"
#include "support/TestHelpers.h"

#include <QtTest>
#include <stdexcept>

namespace {
constexpr int kRunTimeoutMs = 20000;

// Everything the run reported, in order, one line per signal.
struct Journal {
    explicit Journal(DownloadRun& run) {
        QObject::connect(&run, &DownloadRun::statusChanged,
                         [this](const QString& text) { lines << "status " + text; });
        QObject::connect(&run, &DownloadRun::roundMeasured,
                         [this](int index, const QString& kbps, const QString& mbps) {
                             lines << QStringLiteral("round %1 %2 %3").arg(index).arg(kbps, mbps);
                         });
        QObject::connect(&run, &DownloadRun::completed, [this](const DownloadResult& r) {
            lines << QStringLiteral("completed");
            result = r;
        });
        QObject::connect(&run, &DownloadRun::failed, [this](const RunOutcome& o) {
            if (o.end == RunEnd::TooBig)
                lines << QStringLiteral("too big");
            else if (o.end == RunEnd::ErrorReply)
                lines << QStringLiteral("error reply %1").arg(o.replyCode);
            else
                lines << QStringLiteral("error ") + o.message;
        });
    }
    bool ended() const {
        return !lines.isEmpty() && !lines.last().startsWith(QLatin1String("status")) &&
               !lines.last().startsWith(QLatin1String("round"));
    }
    QStringList lines;
    std::optional<DownloadResult> result;
};
} // namespace

class DownloadRunTest final : public QObject {
    Q_OBJECT

private slots:
    void fullRunReportsEveryRoundThenTheResult() {
        ScriptedPeer peer;
        peer.readRequest().send(okHeader(4000)).stream(4000).close();
        DownloadRun run;
        run.Timer1->setInterval(10);
        QString url = urlOf(peer, "/a.jpg");
        run.UrlSource = [&] { return url; };
        Journal journal(run);
        run.Start(QStringLiteral("2026-12-08(火) 09:00:00"));
        QTRY_VERIFY_WITH_TIMEOUT(journal.ended(), kRunTimeoutMs);

        QCOMPARE(journal.lines.size(), 16);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(journal.lines[3 * i], QStringLiteral("status コネクト中"));
            QCOMPARE(journal.lines[3 * i + 1], QStringLiteral("status %1回目測定中").arg(i + 1));
            QVERIFY(journal.lines[3 * i + 2].startsWith(QStringLiteral("round %1 ").arg(i)));
        }
        QCOMPARE(journal.lines.last(), QStringLiteral("completed"));
        QVERIFY(!run.Running());
        QCOMPARE(peer.connectionCount(), 5);

        const DownloadResult& r = *journal.result;
        const QString host = QStringLiteral("127.0.0.1:%1").arg(peer.port());
        QCOMPARE(r.host, host);
        QCOMPARE(r.bytes, 4000);
        QCOMPARE(r.bytesText, QStringLiteral("4000"));
        // The rounds stay in round order and carry what each round reported.
        for (int i = 0; i < 5; ++i) {
            const DownloadRound& round = r.rounds[static_cast<std::size_t>(i)];
            QCOMPARE(journal.lines[3 * i + 2],
                     QStringLiteral("round %1 %2 %3").arg(i).arg(round.kbpsText, round.mbpsText));
            QVERIFY(round.bytesPerSecond > 0);
            QVERIFY(round.connectMs >= 0);
        }
        const QString prefix = r.mark == 1 ? QStringLiteral("*") : QString();
        QCOMPARE(r.historyLine, QStringLiteral("%1%2,2026-12-08(火) 09:00:00,%3,msec,4000,byte,%4,"
                                               "kbps,%5,Mbps")
                                    .arg(prefix, host, r.connectText, r.kbpsText, r.mbpsText));
        // The mean of the middle three lies between the slowest and the fastest round.
        const auto [slowest, fastest] = std::minmax_element(
            r.rounds.begin(), r.rounds.end(), [](const DownloadRound& a, const DownloadRound& b) {
                return a.bytesPerSecond < b.bytesPerSecond;
            });
        QVERIFY(r.meanBytesPerSecond >= slowest->bytesPerSecond);
        QVERIFY(r.meanBytesPerSecond <= fastest->bytesPerSecond);
    }

    void laterRoundsFetchWhatTheUrlSourceHoldsThen() {
        ScriptedPeer first;
        ScriptedPeer second;
        first.readRequest().send(okHeader(100)).stream(100).close();
        second.readRequest().send(okHeader(100)).stream(100).close();
        DownloadRun run;
        run.Timer1->setInterval(10);
        QString url = urlOf(first, "/a.jpg");
        run.UrlSource = [&] { return url; };
        Journal journal(run);
        QObject::connect(&run, &DownloadRun::roundMeasured, [&](int index) {
            if (index == 1)
                url = urlOf(second, "/b.jpg");
        });
        run.Start(QString());
        QTRY_VERIFY_WITH_TIMEOUT(journal.ended(), kRunTimeoutMs);
        QCOMPARE(first.connectionCount(), 2);
        QCOMPARE(second.connectionCount(), 3);
        QVERIFY(second.received(0).startsWith("GET /b.jpg HTTP/1.0"));
        QCOMPARE(journal.result->host, QStringLiteral("127.0.0.1:%1").arg(second.port()));
    }

    void aFileTooBigStopsAfterItsRound() {
        ScriptedPeer peer;
        peer.readRequest().send(okHeader(26300001)).stream(26300001).close();
        DownloadRun run;
        run.UrlSource = [&] { return urlOf(peer, "/big.jpg"); };
        Journal journal(run);
        run.Start(QString());
        QTRY_VERIFY_WITH_TIMEOUT(journal.ended(), kRunTimeoutMs);
        QCOMPARE(journal.lines.size(), 4);
        QVERIFY(journal.lines[2].startsWith(QStringLiteral("round 0 ")));
        QCOMPARE(journal.lines[3], QStringLiteral("too big"));
        QVERIFY(!run.Running());
        QVERIFY(!run.Timer1->Enabled());
        QCOMPARE(run.RoundBytes(), 26300001);
    }

    // A round measures the body bytes that arrived; a reply with none is no measurement, and
    // a length announced above the limit is too big however its transfer ends.
    void roundsCountTheBytesThatArrived_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("sent");
        QTest::addColumn<QString>("last");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("bytes");
        const QByteArray ok = "HTTP/1.0 200 OK\r\n";
        QTest::newRow("no length") << ok + "\r\n"
                                   << 5000 << "completed" << int(RunEnd::Completed) << 5000;
        QTest::newRow("204") << QByteArray("HTTP/1.0 204 No Content\r\n\r\n") << 0
                             << "error 受信データがありません" << int(RunEnd::NoBody) << 0;
        QTest::newRow("negative length")
            << ok + "Content-Length: -5\r\n\r\n"
            << 4000 << "error Content-Length が正しくありません (-5)" << int(RunEnd::Failed) << 0;
        QTest::newRow("2 GB announced")
            << okHeader(2147483648LL) << 1000 << "too big" << int(RunEnd::TooBig) << 0;
    }
    void roundsCountTheBytesThatArrived() {
        QFETCH(QByteArray, header);
        QFETCH(int, sent);
        QFETCH(QString, last);
        QFETCH(int, end);
        QFETCH(int, bytes);
        ScriptedPeer peer;
        peer.readRequest().send(header).stream(sent).close();
        DownloadRun run;
        run.Timer1->setInterval(10);
        run.UrlSource = [&] { return urlOf(peer, "/a.jpg"); };
        Journal journal(run);
        run.Start(QString());
        QTRY_VERIFY_WITH_TIMEOUT(journal.ended(), kRunTimeoutMs);
        QCOMPARE(journal.lines.last(), last);
        QCOMPARE(int(run.Outcome().end), end);
        if (journal.result)
            QCOMPARE(journal.result->bytes, bytes);
        if (end != int(RunEnd::Completed))
            QCOMPARE(peer.connectionCount(), 1);
    }

    void anErrorReplyStopsWithItsCode() {
        ScriptedPeer peer;
        peer.readRequest()
            .send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")
            .close();
        DownloadRun run;
        run.UrlSource = [&] { return urlOf(peer, "/gone.jpg"); };
        Journal journal(run);
        run.Start(QString());
        QTRY_VERIFY_WITH_TIMEOUT(journal.ended(), kRunTimeoutMs);
        QCOMPARE(journal.lines,
                 (QStringList{"status コネクト中", "status 1回目測定中", "error reply 404"}));
        QVERIFY(!run.Running());
    }

    void aRaisedErrorStopsTheRunWithItsMessage() {
        EventErrorRecorder errors;
        DownloadRun run;
        run.UrlSource = [] {
            return QStringLiteral("http://127.0.0.1:%1/x.jpg").arg(ClosedPort());
        };
        Journal journal(run);
        run.Start(QString());
        QCOMPARE(journal.lines, (QStringList{"status コネクト中", "error Connection Failed"}));
        QVERIFY(!run.Running());
        QVERIFY(errors.texts().isEmpty()); // the run's owner reports it
    }

    void anErrorRaisedAfterTheRoundWasAnsweredReachesTheSink() {
        EventErrorRecorder errors;
        ScriptedPeer peer;
        peer.readRequest().send(okHeader(26300001)).stream(26300001).close();
        DownloadRun run;
        run.UrlSource = [&] { return urlOf(peer, "/big.jpg"); };
        QObject::connect(&run, &DownloadRun::failed,
                         [] { throw std::runtime_error("handler failed"); });
        run.Start(QString());
        QTRY_COMPARE_WITH_TIMEOUT(errors.texts(), QStringList{"handler failed"}, kRunTimeoutMs);
        QVERIFY(!run.Running());
    }

    void deactivationDuringARunMarksItsResult() {
        ScriptedPeer peer;
        peer.readRequest().send(okHeader(100)).stream(100).close();
        DownloadRun run;
        run.Timer1->setInterval(10);
        run.UrlSource = [&] { return urlOf(peer, "/a.jpg"); };
        Journal journal(run);
        QObject::connect(&run, &DownloadRun::roundMeasured, [&](int index) {
            if (index == 2)
                run.MarkDisturbed();
        });
        run.Start(QString());
        QTRY_VERIFY_WITH_TIMEOUT(journal.ended(), kRunTimeoutMs);
        QCOMPARE(journal.result->mark, 1);
        QVERIFY(journal.result->reasons.disturbed);
        QVERIFY(journal.result->historyLine.startsWith(QLatin1Char('*')));
    }

    // The literal names its family: IPv4, the default, is not what connects.
    void anIpv6UrlIsMeasuredOverIpv6WithTheBracketedHost() {
        ScriptedPeer peer(QHostAddress(QHostAddress::LocalHostIPv6));
        if (!peer.isListening())
            QSKIP("no ::1 here");
        peer.readRequest().send(okHeader(3000)).stream(3000).close();
        DownloadRun run;
        run.Timer1->setInterval(10);
        const QString authority = QStringLiteral("[::1]:%1").arg(peer.port());
        run.UrlSource = [&] { return QStringLiteral("http://%1/qm/a.jpg").arg(authority); };
        Journal journal(run);
        run.Start(QStringLiteral("2026-12-08(火) 09:00:00"));
        QTRY_VERIFY_WITH_TIMEOUT(journal.ended(), kRunTimeoutMs);
        QVERIFY2(journal.result, qPrintable(journal.lines.join(u'\n')));

        const QByteArray request = peer.received(0);
        QVERIFY2(request.startsWith("GET /qm/a.jpg HTTP/1.0\r\n"), request.constData());
        QVERIFY2(request.contains("\r\nHost: " + authority.toLatin1() + "\r\n"),
                 request.constData());
        QCOMPARE(journal.result->host, authority);
        // The first field is the host as typed, after the mark's "*" if any.
        QString field = journal.result->historyLine.section(u',', 0, 0);
        while (field.startsWith(u'*'))
            field.remove(0, 1);
        QCOMPARE(field, authority);
        QCOMPARE(journal.result->family, AddressFamily::Ipv6);
        QCOMPARE(journal.result->address, QStringLiteral("::1"));
    }

    void startChecksRefuseWithTheWindowsTexts_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");
        using R = DownloadStartCheck::Refusal;
        QTest::newRow("empty") << QString() << int(R::Empty)
                               << QStringLiteral("エラー：URLを入れてください")
                               << QStringLiteral("URLを入力し、測定開始を押してください。\n"
                                                 "「簡易測定」メニューを使うと簡単です。");
        QTest::newRow("upper-case scheme")
            << QStringLiteral("HTTP://h/a.jpg") << int(R::NotHttp)
            << QStringLiteral("エラー：http://から始まるURLを入れてください") << QString();
        QTest::newRow("upper-case JPG")
            << QStringLiteral("http://h/a.JPG") << int(R::NotJpeg) << QString()
            << QStringLiteral("JPEGファイルで測定してください。");
        QTest::newRow("line break")
            << QStringLiteral("http://h/a.jpg\r\nX: y.jpg") << int(R::ControlCharacter) << QString()
            << QString::fromUtf8(kUrlCharacterRefused);
        QTest::newRow("png passes")
            << QStringLiteral("http://h/a.png") << int(R::None) << QString() << QString();
        const auto shape = [](const char* name, const char* url, R refusal, const char* text) {
            QTest::newRow(name) << QString::fromUtf8(url) << int(refusal) << QString()
                                << QString::fromUtf8(text);
        };
        const char* const badPort = "ポート番号は1から65535までの数字で入れてください。";
        shape("user and password", "http://u:p@127.0.0.1:9/x.jpg", R::UserInfo,
              "URLにユーザー名やパスワードは入れられません。");
        shape("no host", "http:///x.jpg", R::NoHost, "URLにホスト名がありません。");
        shape("bracketed IPv6 passes", "http://[::1]:8080/x.jpg", R::None, "");
        shape("unclosed bracket", "http://[::1:8080/x.jpg", R::BadIpv6Literal, kUrlIpv6Refused);
        shape("a name in brackets", "http://[example]/x.jpg", R::BadIpv6Literal, kUrlIpv6Refused);
        shape("IPv6 port past 65535", "http://[::1]:99999/x.jpg", R::BadPort, badPort);
        shape("port past 65535", "http://127.0.0.1:99999/x.jpg", R::BadPort, badPort);
        shape("negative port", "http://127.0.0.1:-65456/x.jpg", R::BadPort, badPort);
        shape("port 65535 passes", "http://127.0.0.1:65535/x.jpg", R::None, "");
    }
    void startChecksRefuseWithTheWindowsTexts() {
        QFETCH(QString, url);
        QFETCH(int, refusal);
        QFETCH(QString, status);
        QFETCH(QString, message);
        const DownloadStartCheck check = CheckDownloadUrl(url);
        QCOMPARE(int(check.refusal), refusal);
        QCOMPARE(check.statusText, status);
        QCOMPARE(check.messageText, message);
    }
};

QTEST_GUILESS_MAIN(DownloadRunTest)
#include "downloadrun_test.moc"
