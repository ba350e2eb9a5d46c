// UploadRun with no window at all: a core application and a scripted SMTP peer on 127.0.0.1.
#include "core/net/ScktComp.h"
#include "core/platform/WindowTimer.h"
#include "core/upload/UploadRun.h"
#include "support/EventErrorRecorder.h"
#include "support/SmtpPeer.h"
#include "support/SockPeer.h"
#include "support/TestHelpers.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QThread>
#include <QtTest>

namespace {
const QString kAddress = QStringLiteral("me@example.com");
constexpr int kRunTimeoutMs = 15000;

// Everything the run reported, in order; the body is one entry of the log.
struct Journal {
    explicit Journal(UploadRun& run) {
        QObject::connect(&run, &UploadRun::statusChanged,
                         [this](const QString& text) { statuses << text; });
        QObject::connect(&run, &UploadRun::logAppended,
                         [this](const QString& text) { log << text; });
        QObject::connect(&run, &UploadRun::finished, [this](const UploadResult& r) {
            result = r;
            ended = true;
        });
        QObject::connect(&run, &UploadRun::connectFailed, [this] {
            failed = true;
            ended = true;
        });
    }
    QStringList statuses;
    QStringList log;
    std::optional<UploadResult> result;
    bool failed = false;
    bool ended = false;
};
} // namespace

class UploadRunTest final : public QObject {
    Q_OBJECT

private slots:
    void aNormalDialogueLogsEveryStepAndEndsWithTheResult() {
        SmtpPeer peer;
        peer.setScript(SmtpPeer::normalScript());
        UploadRun run;
        run.ClientSocket3->setPort(peer.port());
        Journal journal(run);
        run.Start(QStringLiteral("127.0.0.1"), kAddress, QStringLiteral("2026-12-08(火) 09:00:00"));
        QVERIFY(run.Running());
        QTRY_VERIFY_WITH_TIMEOUT(journal.ended, kRunTimeoutMs);

        const QString host = QHostInfo::localHostName();
        const QStringList head{
            "220 peer.test ESMTP ready\r\n",
            "Helo " + host,
            "250 peer.test\r\n",
            "Mail From:" + kAddress,
            "250 2.1.0 Ok\r\n",
            "RCPT to:" + kAddress,
            "250 2.1.5 Ok\r\n",
            "DATA",
            "354 End data with <CR><LF>.<CR><LF>\r\n",
            "/* アップロード測定開始. */",
        };
        QCOMPARE(journal.log.mid(0, head.size()), head);
        QVERIFY(journal.log[head.size()].startsWith("Mail from " + host));
        QVERIFY(journal.log[head.size()].endsWith(QStringLiteral("\n.\n")));
        QCOMPARE(journal.log.mid(head.size() + 1),
                 (QStringList{"250 2.0.0 Ok: queued as 1234\r\n", "/* アップロード測定終了. */",
                              "QUIT", "221 2.0.0 Bye\r\n", "/* 正常終了しました. */"}));
        QCOMPARE(journal.statuses,
                 (QStringList{"コネクト中", "SMTP通信中", "測定中", "終了処理中", "測定終了"}));

        const UploadResult& r = *journal.result;
        QVERIFY(r.connected && r.bodyStarted && r.measured);
        QCOMPARE(r.bytes, peer.mailData().size());
        QCOMPARE(r.bytesText, QString::number(r.bytes));
        QVERIFY(r.bytesPerSecond > 0);
        QCOMPARE(r.historyLine, "*upload(310KB),2026-12-08(火) 09:00:00," + r.connectText +
                                    ",msec," + r.bytesText + ",byte," + r.kbpsText + ",kbps," +
                                    r.mbpsText + ",Mbps");
        QVERIFY(!run.Running());
        QVERIFY(!run.SmtpSilenceTimer->Enabled());
    }

    // The transfer ends when the server's reply arrives. What is done with the reply after
    // that (a window laying out a log that holds the whole body) is not timed.
    void workOnTheReplysLogLineIsNotTimed() {
        SmtpPeer peer;
        peer.setScript(SmtpPeer::normalScript());
        UploadRun run;
        run.ClientSocket3->setPort(peer.port());
        Journal journal(run);
        constexpr int kSlowLogMs = 300;
        QObject::connect(&run, &UploadRun::logAppended, [](const QString& text) {
            if (text.startsWith(QStringLiteral("250 2.0.0 Ok: queued")))
                QThread::msleep(kSlowLogMs);
        });
        QElapsedTimer wall;
        wall.start();
        run.Start(QStringLiteral("127.0.0.1"), kAddress, QStringLiteral("2026-12-08(火) 09:00:00"));
        QTRY_VERIFY_WITH_TIMEOUT(journal.ended, kRunTimeoutMs);
        QVERIFY(wall.elapsed() >= kSlowLogMs);

        const UploadResult& r = *journal.result;
        QVERIFY(r.measured);
        const double transferMs = r.bytes / static_cast<double>(r.bytesPerSecond) * 1000;
        QVERIFY2(transferMs < kSlowLogMs / 2, qPrintable(QString::number(transferMs)));
    }

    void aServerThatClosesBeforeTheBodyGivesNoRate() {
        SmtpPeer peer;
        peer.setScript({SmtpPeer::reply("220 ready\r\n"), SmtpPeer::replyThenClose("421 bye\r\n")});
        UploadRun run;
        run.ClientSocket3->setPort(peer.port());
        Journal journal(run);
        run.Start(QStringLiteral("127.0.0.1"), kAddress, QString());
        QTRY_VERIFY_WITH_TIMEOUT(journal.ended, kRunTimeoutMs);
        QVERIFY(journal.result->connected);
        QVERIFY(!journal.result->bodyStarted);
        QVERIFY(!journal.result->measured);
        QVERIFY(journal.result->historyLine.isEmpty());
        QVERIFY(journal.log.contains(QStringLiteral("Heloコマンド失敗.")));
        QCOMPARE(journal.statuses.last(), QStringLiteral("測定終了"));
    }

    void stopClosesTheConnectionWithoutAResult() {
        EventErrorRecorder errors;
        SmtpPeer peer;
        peer.setScript({SmtpPeer::reply("220 ready\r\n"), SmtpPeer::silence()});
        UploadRun run;
        run.ClientSocket3->setPort(peer.port());
        Journal journal(run);
        bool stopped = false;
        QObject::connect(&run, &UploadRun::stopped, [&stopped] { stopped = true; });
        run.Start(QStringLiteral("127.0.0.1"), kAddress, QString());
        QTRY_VERIFY_WITH_TIMEOUT(peer.commands().size() == 1, kRunTimeoutMs); // Helo, unanswered
        run.Stop();
        QVERIFY(stopped);
        QVERIFY(!run.Running());
        QTRY_VERIFY(peer.clientClosed());
        QTest::qWait(50);
        QVERIFY(!journal.ended);
        QVERIFY(!run.SmtpSilenceTimer->Enabled());
        QCOMPARE(errors.texts(), QStringList{});
        stopped = false;
        run.Stop(); // nothing more to stop
        QVERIFY(!stopped);
    }

    void aRefusedConnectionIsReportedThroughTheSinkAndEndsTheRun() {
        EventErrorRecorder errors;
        UploadRun run;
        run.ClientSocket3->setPort(ClosedPort());
        Journal journal(run);
        run.Start(QStringLiteral("127.0.0.1"), kAddress, QString());
        QTRY_VERIFY_WITH_TIMEOUT(journal.ended, kRunTimeoutMs);
        QVERIFY(journal.failed);
        QVERIFY(!journal.result);
        QCOMPARE(journal.statuses, (QStringList{"コネクト中", "接続できませんでした"}));
        QTRY_COMPARE(errors.texts(), QStringList{"非同期ソケットエラー 10061"});
        QVERIFY(!run.Running());
    }

    void startRefusesAnEmptyOrBrokenServerOrAddress_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("refused");
        QTest::newRow("both") << "smtp.example"
                              << "me@example.com" << false;
        QTest::newRow("no server") << ""
                                   << "me@example.com" << true;
        QTest::newRow("no address") << "smtp.example"
                                    << "" << true;
        QTest::newRow("line break") << "smtp.example"
                                    << "me@example.com\nRCPT to:x" << true;
    }
    void startRefusesAnEmptyOrBrokenServerOrAddress() {
        QFETCH(QString, server);
        QFETCH(QString, address);
        QFETCH(bool, refused);
        const std::optional<QString> refusal = UploadStartRefusal(server, address);
        QCOMPARE(refusal.has_value(), refused);
        if (refused)
            QCOMPARE(*refusal,
                     QStringLiteral("エラー：SMTPサーバとメールアドレスを入力してください。"));
    }
};

QTEST_GUILESS_MAIN(UploadRunTest)
#include "uploadrun_test.moc"
