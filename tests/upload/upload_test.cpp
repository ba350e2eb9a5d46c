// The upload through the real main window against a scripted SMTP peer on 127.0.0.1.
#include "core/measure/RunResult.h"
#include "core/net/ScktComp.h"
#include "core/platform/WindowTimer.h"
#include "core/upload/SmtpDialogue.h"
#include "core/upload/UploadRun.h"
#include "support/MessageRecorder.h"
#include "support/SmtpPeer.h"
#include "support/SockPeer.h"
#include "support/TestHelpers.h"
#include "window/dialogs/quillmetUnit4.h"
#include "window/main/quillmetUnit1.h"

#include <QAction>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>
#include <sys/socket.h>

namespace {
const QString kAddress = QStringLiteral("me@example.com");
const QByteArray kTestLine = "This is an upload speed test mail sent by Quillmet.";
constexpr int kRunTimeout = 15000;

// Counts the times a widget is shown.
class ShowCounter final : public QObject {
public:
    int shows = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            ++shows;
        return false;
    }
};

// The main window in upload mode, aimed at the peer, with every message box recorded.
struct UploadWindow {
    MessageRecorder messages;
    QTemporaryDir dir; // the state file goes here when the window closes
    TForm1 form;
    SmtpPeer peer;
    ShowCounter cautionShows;

    UploadWindow() {
        QDir::setCurrent(dir.path());
        Form4 = new TForm4(&form);
        Form4->installEventFilter(&cautionShows);
        form.show();
        form.SMTPB1Click();
        form.Edit3->setText(QStringLiteral("127.0.0.1"));
        form.Edit8->setText(kAddress);
        form.ClientSocket3->setPort(peer.port());
        peer.setScript(SmtpPeer::normalScript());
    }

    // The start with the caution dialog answered by OK (or Cancel).
    void start(bool confirm = true) {
        QTimer::singleShot(0, Form4, [confirm] {
            if (Form4->isVisible())
                (confirm ? Form4->Button1 : Form4->Button2)->click();
        });
        form.Button1Click();
    }

    bool idle() const { return form.Button1->isEnabled() && form.E1->isEnabled(); }
    QStringList log() const { return form.RichEdit1->toPlainText().split(QLatin1Char('\n')); }
    QStringList history() const {
        QStringList lines;
        for (int i = 0; i < form.ListBox1->count(); ++i)
            lines << form.ListBox1->item(i)->text();
        return lines;
    }
};

QByteArray localHostName() {
    return QHostInfo::localHostName().toUtf8();
}

// The result boxes hold nothing that is not a plain number.
bool resultsAreNumbers(const TForm1& form) {
    static const QRegularExpression number(QStringLiteral("^(\\d+(\\.\\d+)?)?$"));
    for (const QLineEdit* box : {form.Edit1, form.Edit2, form.Edit5, form.Edit9}) {
        if (!number.match(box->text()).hasMatch())
            return false;
    }
    return true;
}

void checkWindowUsable(const UploadWindow& w) {
    QVERIFY(w.form.Button1->isEnabled());
    QVERIFY(w.form.E1->isEnabled());
    QCOMPARE(w.form.Label9->text(), QString());
    QVERIFY(!w.form.ClientSocket3->Active());
    QCOMPARE(w.form.ClientSocket3->Socket()->SocketHandle(), -1);
    QVERIFY(!w.form.SmtpSilenceTimer->Enabled());
}
} // namespace

class UploadTest : public QObject {
    Q_OBJECT

private slots:
    void normalDialogueLogsEveryStepAndRecordsTheResult() {
        UploadWindow w;
        w.start();
        QCOMPARE(w.form.Label9->text(), QStringLiteral("SMTP"));
        QVERIFY(!w.form.Button1->isEnabled());
        QVERIFY(!w.form.E1->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);

        const QString host = QHostInfo::localHostName();
        QStringList expected{
            "220 peer.test ESMTP ready",
            "Helo " + host,
            "250 peer.test",
            "Mail From:" + kAddress,
            "250 2.1.0 Ok",
            "RCPT to:" + kAddress,
            "250 2.1.5 Ok",
            "DATA",
            "354 End data with <CR><LF>.<CR><LF>",
            "/* アップロード測定開始. */",
        };
        const QStringList log = w.log();
        QCOMPARE(log.mid(0, expected.size()), expected);
        // The body as one piece: its two leading lines, the test lines and the end line.
        const qsizetype bodyAt = expected.size();
        QCOMPARE(log.size(), bodyAt + 6003 + 5);
        QVERIFY2(log[bodyAt].startsWith("Mail from " + host + " , 127.0.0.1 , Port:"),
                 qPrintable(log[bodyAt]));
        QVERIFY2(log[bodyAt + 1].startsWith("Provider Host: "), qPrintable(log[bodyAt + 1]));
        QVERIFY(log[bodyAt].endsWith(QStringLiteral(":%1").arg(w.peer.clientPort())));
        QVERIFY(
            log[bodyAt + 1].endsWith(QStringLiteral(" , 127.0.0.1 , Port:%1").arg(w.peer.port())));
        QCOMPARE(log.mid(bodyAt + 2, 6000), QStringList(6000, QString::fromLatin1(kTestLine)));
        QCOMPARE(log[bodyAt + 6002], QStringLiteral("."));
        QCOMPARE(log.mid(bodyAt + 6003),
                 (QStringList{"250 2.0.0 Ok: queued as 1234", "/* アップロード測定終了. */", "QUIT",
                              "221 2.0.0 Bye", "/* 正常終了しました. */"}));

        QCOMPARE(w.form.StatusText(), QStringLiteral("測定終了"));
        checkWindowUsable(w);
        QVERIFY(!w.form.TimerMeas->isEnabled()); // only a download run enables it again
        QVERIFY(w.messages.texts().isEmpty());

        // The result: what the socket took of the body, and a finite rate.
        const qsizetype bodyBytes = w.peer.mailData().size();
        QCOMPARE(w.form.Edit2->text(), QString::number(bodyBytes));
        QCOMPARE(w.form.Upload().RoundBytes(), bodyBytes);
        QVERIFY(resultsAreNumbers(w.form));
        QVERIFY(!w.form.Edit1->text().isEmpty());
        QVERIFY(!w.form.Edit5->text().isEmpty());
        QVERIFY(!w.form.Edit9->text().isEmpty());
        QCOMPARE(w.history(),
                 QStringList{"*upload(310KB)," + w.form.Edit6->text() + "," + w.form.Edit1->text() +
                             ",msec," + w.form.Edit2->text() + ",byte," + w.form.Edit5->text() +
                             ",kbps," + w.form.Edit9->text() + ",Mbps"});
        // The stamps are cleared once the result is shown.
        QCOMPARE(w.form.Upload().Clock().TransferStartTick, 0u);
        QCOMPARE(w.form.Upload().Clock().TransferEndTick, 0u);
        QCOMPARE(w.form.Upload().Clock().ConnectTick, 0u);
    }

    void commandsGoOnTheWireExactlyWithCrLf() {
        UploadWindow w;
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);
        const QList<QByteArray> commands = w.peer.commands();
        QCOMPARE(commands.size(), 6);
        QCOMPARE(commands[0], "Helo " + localHostName() + "\r\n");
        QCOMPARE(commands[1], "Mail From:me@example.com\r\n");
        QCOMPARE(commands[2], "RCPT to:me@example.com\r\n");
        QCOMPARE(commands[3], QByteArray("DATA\r\n"));
        QCOMPARE(commands[5], QByteArray("QUIT\r\n"));

        const QByteArray body = commands[4];
        const QList<QByteArray> lines = body.split('\n');
        QCOMPARE(lines.size(), 6003 + 1); // the last LF leaves an empty tail
        for (qsizetype i = 0; i + 1 < lines.size(); ++i)
            QVERIFY2(lines[i].endsWith('\r') && lines[i].count('\r') == 1, lines[i].constData());
        QCOMPARE(lines[0], "Mail from " + localHostName() + " , 127.0.0.1 , Port:" +
                               QByteArray::number(w.peer.clientPort()) + "\r");
        QVERIFY(lines[1].startsWith("Provider Host: "));
        QVERIFY(
            lines[1].endsWith(" , 127.0.0.1 , Port:" + QByteArray::number(w.peer.port()) + "\r"));
        for (qsizetype i = 2; i < 6002; ++i)
            QCOMPARE(lines[i], kTestLine + "\r");
        QCOMPARE(lines[6002], QByteArray(".\r"));
        QCOMPARE(body.size(), 6000 * 53 + 3 + lines[0].size() + 1 + lines[1].size() + 1);
        // Nothing else went out.
        QCOMPARE(w.peer.received(), commands.join());
    }

    void unexpectedReplyLogsItsStepMessageAndSendsNothing_data() {
        QTest::addColumn<int>("turn");
        QTest::addColumn<QString>("message");
        QTest::newRow("greeting") << 0 << "コネクト失敗.";
        QTest::newRow("helo") << 1 << "Heloコマンド失敗.";
        QTest::newRow("mail from") << 2 << "From送信失敗.";
        QTest::newRow("rcpt to") << 3 << "RCPT to送信失敗.";
        QTest::newRow("data") << 4 << "DATA送信失敗.";
        QTest::newRow("body") << 5 << "本文送信エラー.";
        QTest::newRow("quit") << 6 << "QUIT送信エラー.";
    }
    void unexpectedReplyLogsItsStepMessageAndSendsNothing() {
        QFETCH(int, turn);
        QFETCH(QString, message);
        UploadWindow w;
        QList<SmtpPeer::Turn> script = SmtpPeer::normalScript().mid(0, turn);
        script << SmtpPeer::replyThenClose("554 5.7.1 not today\r\n");
        w.peer.setScript(script);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);

        const QStringList log = w.log();
        QCOMPARE(log.last(), message);
        // After the body the end of the transfer is logged before the code is looked at.
        const qsizetype replyAt = log.size() - (turn == 5 ? 3 : 2);
        QCOMPARE(log[replyAt], QStringLiteral("554 5.7.1 not today"));
        QCOMPARE(log.count(message), 1);
        // One command (or the body) per good reply; nothing after the refusal.
        QCOMPARE(w.peer.commands().size(), turn);
        QCOMPARE(w.form.StatusText(), QStringLiteral("測定終了"));
        checkWindowUsable(w);
        QVERIFY(resultsAreNumbers(w.form));
        // Only a reply to the body gives a rate and a history line.
        const bool measured = turn >= 5;
        QCOMPARE(w.history().size(), measured ? 1 : 0);
        QCOMPARE(w.form.Edit5->text().isEmpty(), !measured);
        QVERIFY(!w.form.Edit1->text().isEmpty());
    }

    void splitAndMultiLineGreetingsAreOneReply_data() {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::newRow("split in two reads") << QList<QByteArray>{"220 peer.te", "st ready\r\n"};
        QTest::newRow("multi-line") << QList<QByteArray>{"220-peer.test welcome\r\n",
                                                         "220-second line\r\n", "220 ready\r\n"};
    }
    void splitAndMultiLineGreetingsAreOneReply() {
        QFETCH(QList<QByteArray>, chunks);
        UploadWindow w;
        QList<SmtpPeer::Turn> script = SmtpPeer::normalScript();
        script[0] = SmtpPeer::Turn{chunks, 60};
        w.peer.setScript(script);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);

        // Each read is logged as it came; the Helo follows the whole greeting, once.
        const QStringList log = w.log();
        for (qsizetype i = 0; i < chunks.size(); ++i)
            QCOMPARE(log[i], QString::fromLatin1(chunks[i]).remove("\r\n"));
        QCOMPARE(log[chunks.size()], "Helo " + QHostInfo::localHostName());
        QCOMPARE(w.peer.commands().first(), "Helo " + localHostName() + "\r\n");
        QCOMPARE(w.peer.commands().size(), 6);
        QVERIFY(!w.form.RichEdit1->toPlainText().contains(QStringLiteral("失敗")));
        QCOMPARE(w.history().size(), 1);
    }

    void bodyLargerThanTheSendSpaceGoesOutWhole() {
        UploadWindow w;
        w.peer.setSlowReader(4096, 2);
        // Small kernel buffers on our side too, set as soon as the handle exists.
        w.form.ClientSocket3->OnLookup = [](QObject*, TCustomWinSocket* socket) {
            const int size = 4096;
            ::setsockopt(socket->SocketHandle(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        };
        int writes = 0;
        const TSocketNotifyEvent formWrite = w.form.ClientSocket3->OnWrite;
        w.form.ClientSocket3->OnWrite = [&](QObject* sender, TCustomWinSocket* socket) {
            ++writes;
            formWrite(sender, socket);
        };
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), 60000);

        // Besides the one after the connect, the socket asked for more several times.
        QVERIFY2(writes > 2, qPrintable(QString::number(writes)));
        const QByteArray data = w.peer.mailData();
        QVERIFY(data.endsWith(kTestLine + "\r\n.\r\n"));
        QCOMPARE(data.count(kTestLine + "\r\n"), 6000);
        QCOMPARE(w.form.Edit2->text(), QString::number(data.size()));
        QCOMPARE(w.form.Upload().RoundBytes(), data.size());
        QCOMPARE(w.peer.commands().last(), QByteArray("QUIT\r\n"));
        QCOMPARE(w.history().size(), 1);
    }

    void refusedConnectionIsReportedAndLeavesTheWindowUsable() {
        UploadWindow w;
        w.form.ClientSocket3->setPort(ClosedPort());
        w.start();
        QTRY_COMPARE_WITH_TIMEOUT(w.messages.texts().size(), 1, kRunTimeout);
        QCOMPARE(w.messages.texts().first(), QStringLiteral("非同期ソケットエラー 10061"));
        checkWindowUsable(w);
        QCOMPARE(w.form.StatusText(), QStringLiteral("接続できませんでした"));
        QVERIFY(w.history().isEmpty());
        QVERIFY(w.form.Edit1->text().isEmpty());

        // The next start works.
        w.form.ClientSocket3->setPort(w.peer.port());
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);
        QCOMPARE(w.history().size(), 1);
        QCOMPARE(w.messages.texts().size(), 1);
    }

    void unknownHostIsReportedAndLeavesTheWindowUsable() {
        UploadWindow w;
        w.form.Edit3->setText(QStringLiteral("no-such-host.invalid"));
        w.start();
        QTRY_COMPARE_WITH_TIMEOUT(w.messages.texts().size(), 1, 30000);
        QVERIFY2(
            w.messages.texts().first().startsWith("'ASync Lookup' API でWindows ソケットエラー: "),
            qPrintable(w.messages.texts().first()));
        checkWindowUsable(w);
        QCOMPARE(w.form.StatusText(), QStringLiteral("接続できませんでした"));
        QVERIFY(w.history().isEmpty());
    }

    void serverClosingEarlyGivesNoRate_data() {
        QTest::addColumn<int>("turn"); // the turn at which the peer closes
        QTest::addColumn<bool>("bodyStarted");
        QTest::newRow("instead of the greeting") << 0 << false;
        QTest::newRow("instead of the helo reply") << 1 << false;
        QTest::newRow("after DATA's 354, before the body's reply") << 5 << true;
    }
    void serverClosingEarlyGivesNoRate() {
        QFETCH(int, turn);
        QFETCH(bool, bodyStarted);
        UploadWindow w;
        QList<SmtpPeer::Turn> script = SmtpPeer::normalScript().mid(0, turn);
        script << SmtpPeer::closing();
        w.peer.setScript(script);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);

        QCOMPARE(w.form.StatusText(), QStringLiteral("測定終了"));
        checkWindowUsable(w);
        QVERIFY(w.history().isEmpty());
        QVERIFY(resultsAreNumbers(w.form));
        QVERIFY(!w.form.Edit1->text().isEmpty()); // the connect time was measured
        QCOMPARE(w.form.Edit5->text(), QString());
        QCOMPARE(w.form.Edit9->text(), QString());
        QCOMPARE(w.form.Edit2->text().isEmpty(), !bodyStarted);
        if (bodyStarted)
            QCOMPARE(w.form.Edit2->text(), QString::number(w.peer.mailData().size()));
        QVERIFY(!w.form.RichEdit1->toPlainText().contains(QStringLiteral("測定終了. */")));
        QVERIFY(w.messages.texts().isEmpty());
    }

    void endlessReplyIsCutAndTheWindowRecovers_data() {
        QTest::addColumn<int>("turn"); // the turn that never ends its line
        QTest::newRow("greeting") << 0;
        QTest::newRow("reply to the body") << 5;
    }
    void endlessReplyIsCutAndTheWindowRecovers() {
        QFETCH(int, turn);
        UploadWindow w;
        QList<SmtpPeer::Turn> script = SmtpPeer::normalScript();
        // A reply begun, then far more than the bound, as fast as it is taken.
        const QByteArray endless(4 * 1024 * 1024, 'x');
        script[turn] = SmtpPeer::Turn{{"250 ", endless}, 50};
        w.peer.setScript(script);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);

        // The log holds the reply up to its bound, then says why we closed.
        QStringList log = w.log();
        QCOMPARE(log.last(), QStringLiteral("/* 応答が長すぎます. */"));
        log.removeLast();
        if (turn > 0)
            log = log.mid(log.lastIndexOf(".") + 1); // after the body's end line
        QCOMPARE(log.removeAll(QStringLiteral("/* アップロード測定終了. */")), turn > 0 ? 1 : 0);
        QCOMPARE(log.join(QString()),
                 QString::fromLatin1(("250 " + endless).left(int(SmtpDialogue::kMaxReplyLine))));
        QTRY_VERIFY(w.peer.clientClosed());
        QCOMPARE(w.peer.commands().size(), turn); // nothing answered the endless reply

        QCOMPARE(w.form.StatusText(), QStringLiteral("測定終了"));
        checkWindowUsable(w);
        QVERIFY(w.history().isEmpty());
        QCOMPARE(w.form.Edit5->text(), QString());
        QCOMPARE(w.form.Edit9->text(), QString());
        QVERIFY(w.messages.texts().isEmpty());
    }

    void serverClosingInTheMiddleOfTheBodyGivesNoRate() {
        UploadWindow w;
        w.peer.setSlowReader(4096, 5);
        w.form.ClientSocket3->OnLookup = [](QObject*, TCustomWinSocket* socket) {
            const int size = 4096;
            ::setsockopt(socket->SocketHandle(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        };
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.form.StatusText() == QStringLiteral("測定中"), kRunTimeout);
        w.peer.resetNow(); // hard, so the rest of the body has nowhere to go
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);

        checkWindowUsable(w);
        QVERIFY(w.history().isEmpty());
        QCOMPARE(w.form.Edit5->text(), QString());
        QVERIFY(resultsAreNumbers(w.form));
        QCOMPARE(w.form.StatusText(), QStringLiteral("測定終了"));
        // Whichever way the socket learns of the reset (reading or sending), the user is
        // told once.
        QCOMPARE(w.messages.texts().size(), 1);
        const QString report = w.messages.texts().first();
        QVERIFY2(report == QStringLiteral("非同期ソケットエラー 10054") ||
                     (report.startsWith(QStringLiteral("'send' API でWindows ソケットエラー: ")) &&
                      report.endsWith(QStringLiteral("(10054)"))),
                 qPrintable(report));
    }

    void resetAfterTheGreetingIsReportedAndLeavesTheWindowUsable() {
        UploadWindow w;
        QList<SmtpPeer::Turn> script = SmtpPeer::normalScript().mid(0, 1);
        script << SmtpPeer::resetting();
        w.peer.setScript(script);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);
        QTRY_COMPARE(w.messages.texts(), QStringList{"非同期ソケットエラー 10054"});
        checkWindowUsable(w);
        QCOMPARE(w.form.StatusText(), QStringLiteral("測定終了"));
        QVERIFY(w.history().isEmpty());
    }

    void silentServerTimesOut_data() {
        QTest::addColumn<QList<SmtpPeer::Turn>>("script");
        QTest::newRow("no greeting") << QList<SmtpPeer::Turn>{SmtpPeer::silence()};
        QTest::newRow("greeting left unfinished")
            << QList<SmtpPeer::Turn>{SmtpPeer::reply("220-peer.test\r\n")};
        QList<SmtpPeer::Turn> afterData = SmtpPeer::normalScript().mid(0, 5);
        afterData << SmtpPeer::silence();
        QTest::newRow("no reply to the body") << afterData;
    }
    void silentServerTimesOut() {
        QFETCH(QList<SmtpPeer::Turn>, script);
        UploadWindow w;
        w.peer.setScript(script);
        w.form.SmtpSilenceTimer->setInterval(300);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);
        QCOMPARE(w.log().last(), QStringLiteral("/* タイムアウト. */"));
        QCOMPARE(w.form.StatusText(), QStringLiteral("測定終了"));
        checkWindowUsable(w);
        QVERIFY(w.history().isEmpty());
        QTRY_VERIFY(w.peer.clientClosed());
        QCOMPARE(w.form.SmtpSilenceTimer->Interval(), 300);
    }

    void silenceTimeIsSixtySeconds() {
        TForm1 form;
        QCOMPARE(form.SmtpSilenceTimer->Interval(), 60000);
        QCOMPARE(form.ClientSocket3->Port(), 25);
        QCOMPARE(form.ClientSocket3->ClientType(), ctNonBlocking);
        QVERIFY(!form.ClientSocket3->Active());
    }

    void steadyTrafficDoesNotTimeOut() {
        // Replies each come just inside the silence time; the upload must finish.
        UploadWindow w;
        QList<SmtpPeer::Turn> script = SmtpPeer::normalScript();
        script[0] =
            SmtpPeer::Turn{{"220-a\r\n", "220-b\r\n", "220-c\r\n", "220-d\r\n", "220 e\r\n"}, 300};
        w.peer.setScript(script);
        w.form.SmtpSilenceTimer->setInterval(800);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);
        QVERIFY(!w.form.RichEdit1->toPlainText().contains(QStringLiteral("タイムアウト")));
        QCOMPARE(w.history().size(), 1);
    }

    void uploadNeverTouchesTheFastestRecord() {
        UploadWindow w;
        w.form.Label44->setText(QStringLiteral("true"));
        for (QLabel* l : {w.form.Label41, w.form.Label42, w.form.Label43})
            l->show();
        const QColor before = w.form.Edit5->palette().color(QPalette::Text);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);
        QCOMPARE(w.history().size(), 1);
        QCOMPARE(w.form.Label42->text(), QStringLiteral("0"));
        QCOMPARE(w.form.Label43->text(), QStringLiteral("0"));
        QCOMPARE(w.form.Label44->text(), QStringLiteral("true"));
        QCOMPARE(w.form.Edit5->palette().color(QPalette::Text), before);
    }

    void historyKeepsAtMostFiftyLinesAfterAnUpload() {
        UploadWindow w;
        for (int i = 0; i < 50; ++i)
            w.form.ListBox1->addItem(QStringLiteral("old %1").arg(i));
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);
        const QStringList history = w.history();
        QCOMPARE(history.size(), 50);
        QCOMPARE(history.first(), QStringLiteral("old 1"));
        QVERIFY(history.last().startsWith(QStringLiteral("*upload(310KB),")));
    }

    void duringTheRunTheLogReplacesTheRoundPanel() {
        UploadWindow w;
        w.peer.setScript({SmtpPeer::silence()});
        w.start();
        QTRY_COMPARE_WITH_TIMEOUT(w.form.StatusText(), QStringLiteral("SMTP通信中"), kRunTimeout);
        QCOMPARE(w.form.Label9->text(), QStringLiteral("SMTP"));
        QVERIFY(w.form.RichEdit1->isVisible());
        for (QWidget* hidden : std::initializer_list<QWidget*>{
                 w.form.Edit10, w.form.Edit11, w.form.Edit12, w.form.Edit13, w.form.Edit14,
                 w.form.Edit15, w.form.Edit16, w.form.Edit17, w.form.Edit18, w.form.Edit19,
                 w.form.Label20, w.form.Label21, w.form.Label22, w.form.Label23, w.form.Label24})
            QVERIFY2(hidden->isHidden(), qPrintable(hidden->objectName()));
        QVERIFY(!w.form.Button1->isEnabled());
        QVERIFY(!w.form.E1->isEnabled());
        QCOMPARE(w.form.Upload().Smtp.Step(), 0);
    }

    void secondStartDuringAnUploadChangesNothing() {
        UploadWindow w;
        w.peer.setScript({SmtpPeer::reply("220 peer.test\r\n"), SmtpPeer::silence()});
        w.start();
        QTRY_COMPARE_WITH_TIMEOUT(w.peer.commands().size(), 1, kRunTimeout);
        w.form.StartUpload(); // as a timer's programmatic click would
        QCOMPARE(w.cautionShows.shows, 1);
        QVERIFY(!w.form.Button1->isEnabled());
        QVERIFY(w.form.Upload().Smtp.Running());
        QVERIFY(w.form.ClientSocket3->Active());
        QTest::qWait(50);
        QCOMPARE(w.peer.connections(), 1);
        // The first dialogue goes on to its own end.
        w.form.SmtpSilenceTimer->setInterval(200);
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), kRunTimeout);
        QCOMPARE(w.log().last(), QStringLiteral("/* タイムアウト. */"));
    }

    void closingTheWindowEndsADialogue() {
        UploadWindow w;
        w.peer.setScript({SmtpPeer::reply("220 peer.test\r\n"), SmtpPeer::silence()});
        w.start();
        QTRY_COMPARE_WITH_TIMEOUT(w.peer.commands().size(), 1, kRunTimeout);
        w.form.close();
        QVERIFY(w.form.Closed());
        checkWindowUsable(w);
        QTRY_VERIFY(w.peer.clientClosed());
        QVERIFY(w.messages.texts().isEmpty());
    }

    void closingTheWindowDuringTheCautionCancelsIt() {
        UploadWindow w;
        QTimer::singleShot(0, &w.form, [&w] { w.form.close(); }); // as SIGTERM would
        w.form.Button1Click();
        QVERIFY(w.form.Closed());
        QVERIFY(!Form4->isVisible());
        QVERIFY(!w.form.Upload().Smtp.Running());
        QTest::qWait(50);
        QCOMPARE(w.peer.connections(), 0);
    }

    void missingOrUnsafeFieldsStopBeforeTheDialog_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("address");
        QTest::newRow("no server") << "" << kAddress;
        QTest::newRow("no address") << "127.0.0.1"
                                    << "";
        QTest::newRow("neither") << ""
                                 << "";
        QTest::newRow("line break in the address") << "127.0.0.1"
                                                   << "me@example.com\r\nRCPT to:other@example.com";
        QTest::newRow("line break in the server") << "127.0.0.1\n" << kAddress;
    }
    void missingOrUnsafeFieldsStopBeforeTheDialog() {
        QFETCH(QString, server);
        QFETCH(QString, address);
        UploadWindow w;
        w.form.Edit3->setText(server);
        w.form.Edit8->setText(address);
        w.form.Button1Click();
        QCOMPARE(w.form.StatusText(),
                 QStringLiteral("エラー：SMTPサーバとメールアドレスを入力してください。"));
        QCOMPARE(w.cautionShows.shows, 0);
        QVERIFY(w.form.Button1->isEnabled());
        QCOMPARE(w.form.Label9->text(), QString());
        QVERIFY(w.form.RichEdit1->isHidden());
        QTest::qWait(50);
        QCOMPARE(w.peer.connections(), 0);
    }

    void cancelledCautionStartsNothing() {
        UploadWindow w;
        w.form.SetStatus(QStringLiteral("before"));
        w.start(false);
        QCOMPARE(w.cautionShows.shows, 1);
        QCOMPARE(w.form.StatusText(), QStringLiteral("before"));
        QVERIFY(w.form.Button1->isEnabled());
        QVERIFY(w.form.E1->isEnabled());
        QCOMPARE(w.form.Label9->text(), QString());
        QVERIFY(w.form.RichEdit1->isHidden());
        QVERIFY(!w.form.Edit10->isHidden());
        QTest::qWait(50);
        QCOMPARE(w.peer.connections(), 0);
        QVERIFY(!w.form.Upload().Smtp.Running());
    }
};

QTEST_MAIN(UploadTest)
#include "upload_test.moc"
