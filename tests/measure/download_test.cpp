#include "core/measure/DownloadRun.h"
#include "core/measure/NumberFormat.h"
#include "core/measure/RunResult.h"
#include "core/net/Nmhttp.h"
#include "core/platform/WindowTimer.h"
#include "support/MessageRecorder.h"
#include "support/ScriptedPeer.h"
#include "support/TempWorkDir.h"
#include "support/TestHelpers.h"
#include "window/main/quillmetUnit1.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextEdit>
#include <QtTest>
#include <optional>

namespace {
constexpr int kRunTimeoutMs = 20000;

// Every connection gets a 200 reply of that many bytes.
void serveFile(ScriptedPeer& peer, qint64 bytes) {
    peer.readRequest().send(okHeader(bytes)).stream(bytes).close();
}

// A paced reply, so that the five rounds of a run come out about equally fast.
void servePaced(ScriptedPeer& peer, qint64 bytes) {
    peer.readRequest()
        .send(okHeader(bytes))
        .sendInPieces(QByteArray(static_cast<int>(bytes), 'q'), {int(bytes / 10)}, 15)
        .close();
}

// The main window with short pauses between rounds and runs.
struct Window {
    explicit Window(QStringList arguments = {})
        : form(std::move(arguments)) {
        form.Timer1->setInterval(20);
        form.Timer2->setInterval(20);
    }
    bool runDone() const { return form.StatusText() == QStringLiteral("測定終了"); }
    TForm1 form;
};
} // namespace

class DownloadTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_cwd.emplace(); }
    void cleanup() { m_cwd.reset(); }

    void fullRunShowsRoundsResultAndOneHistoryLine() {
        MessageRecorder messages;
        ScriptedPeer peer;
        const qint64 size = 2600000; // not a too-small file on a fast line
        servePaced(peer, size);
        Window w;
        w.form.Edit7->setText(urlOf(peer, "/qm/sample.jpg"));
        w.form.Button1->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.runDone(), kRunTimeoutMs);

        QCOMPARE(peer.connectionCount(), 5);
        for (int c = 0; c < 5; ++c)
            QVERIFY(peer.received(c).startsWith("GET /qm/sample.jpg HTTP/1.0\r\n"));
        const QRegularExpression kbps(QStringLiteral("^\\d+\\.\\d$"));
        const QRegularExpression mbps(QStringLiteral("^\\d+\\.\\d{3}$"));
        for (std::size_t i = 0; i < 5; ++i) {
            QVERIFY2(kbps.match(w.form.KbpsBoxes[i]->text()).hasMatch(),
                     qPrintable(w.form.KbpsBoxes[i]->text()));
            QVERIFY(mbps.match(w.form.MbpsBoxes[i]->text()).hasMatch());
        }
        QCOMPARE(w.form.Edit2->text(), QString::number(size));
        // The result is the mean of the middle three rounds, in the one number format.
        const auto& s = w.form.Download().RoundSpeeds();
        QCOMPARE(w.form.Edit5->text(), FormatFixed((s[1] + s[2] + s[3]) * 8 / 3072.0L, 1));
        QCOMPARE(w.form.Edit9->text(), FormatFixed((s[1] + s[2] + s[3]) * 8 / 3145728.0L, 3));
        QVERIFY(w.form.Edit5->text().toDouble() > 0);

        QCOMPARE(w.form.ListBox1->count(), 1);
        const QString line = w.form.ListBox1->item(0)->text();
        const QString host = QStringLiteral("127.0.0.1:%1").arg(peer.port());
        const QRegularExpression layout(
            QStringLiteral(
                "^\\*?%1,\\d{4}-\\d\\d-\\d\\d\\([日月火水木金土]\\) \\d\\d:\\d\\d:\\d\\d,"
                "\\d+,msec,2600000,byte,\\d+\\.\\d,kbps,\\d+\\.\\d{3},Mbps$")
                .arg(QRegularExpression::escape(host)));
        QVERIFY2(layout.match(line).hasMatch(), qPrintable(line));
        QVERIFY(line.endsWith(w.form.Edit5->text() + ",kbps," + w.form.Edit9->text() + ",Mbps"));
        QVERIFY(line.contains("," + w.form.Edit6->text() + "," + w.form.Edit1->text() + ",msec,"));

        QVERIFY(w.form.Button1->isEnabled());
        QVERIFY(w.form.E1->isEnabled());
        QVERIFY(w.form.TimerMeas->isEnabled());
        QCOMPARE(w.form.Label9->text(), QString());
        QCOMPARE(messages.texts(), QStringList{});
    }

    void smallFileOnAFastLineIsMarked() {
        MessageRecorder messages;
        ScriptedPeer peer;
        serveFile(peer, 102400);
        Window w;
        w.form.Edit7->setText(urlOf(peer, "/qm/qm100K.jpg"));
        w.form.Button1Click();
        QTRY_VERIFY_WITH_TIMEOUT(w.runDone(), kRunTimeoutMs);
        QCOMPARE(messages.texts(), QStringList{QStringLiteral(
                                       "測定ファイルが小さすぎます。\nURLを変更してください。")});
        QCOMPARE(w.form.ListBox1->count(), 1);
        QVERIFY(w.form.ListBox1->item(0)->text().startsWith(
            QStringLiteral("*127.0.0.1:%1,").arg(peer.port())));
    }

    void urlChecksRefuseAndChangeNothing_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << ""
                               << "エラー：URLを入れてください"
                               << "URLを入力し、測定開始を押してください。\n"
                                  "「簡易測定」メニューを使うと簡単です。";
        QTest::newRow("upper-case scheme") << "HTTP://127.0.0.1/x.jpg"
                                           << "エラー：http://から始まるURLを入れてください"
                                           << "";
        QTest::newRow("https") << "https://127.0.0.1/x.jpg"
                               << "エラー：http://から始まるURLを入れてください"
                               << "";
        QTest::newRow("upper-case JPG") << "http://127.0.0.1/x.JPG"
                                        << ""
                                        << "JPEGファイルで測定してください。";
        QTest::newRow("html") << "http://127.0.0.1/index.html"
                              << ""
                              << "JPEGファイルで測定してください。";
        const QString refused = QString::fromUtf8(kUrlCharacterRefused);
        QTest::newRow("CR LF and a header in the path")
            << "http://127.0.0.1:%1/x.jpg\r\nX-Injected: yes\r\nX: y.jpg"
            << "" << refused;
        QTest::newRow("CR LF after the host") << "http://127.0.0.1\r\nX-Evil: 1:%1/x.jpg"
                                              << "" << refused;
        QTest::newRow("DEL") << "http://127.0.0.1:%1/x\x7f.jpg"
                             << "" << refused;
        QTest::newRow("port past 65535") << "http://127.0.0.1:1%1/x.jpg"
                                         << ""
                                         << "ポート番号は1から65535までの数字で入れてください。";
        QTest::newRow("user info") << "http://u:p@127.0.0.1:%1/x.jpg"
                                   << ""
                                   << "URLにユーザー名やパスワードは入れられません。";
    }
    void urlChecksRefuseAndChangeNothing() {
        QFETCH(QString, url);
        QFETCH(QString, status);
        QFETCH(QString, message);
        MessageRecorder messages;
        ScriptedPeer peer;
        serveFile(peer, 3000000);
        Window w;
        w.form.Edit7->setText(url.contains("%1") ? url.arg(peer.port()) : url);
        w.form.Button1Click();
        QCOMPARE(w.form.StatusText(), status);
        QCOMPARE(messages.texts(), message.isEmpty() ? QStringList{} : QStringList{message});
        QVERIFY(w.form.Button1->isEnabled());
        QVERIFY(w.form.E1->isEnabled());
        QVERIFY(!w.form.TimerMeas->isEnabled()); // until a download run completes
        QCOMPARE(w.form.Label9->text(), QString());
        QCOMPARE(w.form.ListBox1->count(), 0);
        QVERIFY(!w.form.Timer1->Enabled());
        QTest::qWait(50);
        QCOMPARE(peer.connectionCount(), 0);
    }

    void pngUrlPassesTheChecks() {
        MessageRecorder messages;
        ScriptedPeer peer;
        serveFile(peer, 3000000);
        Window w;
        w.form.Edit7->setText(urlOf(peer, "/chart.png"));
        w.form.Button1Click();
        QTRY_VERIFY_WITH_TIMEOUT(w.runDone(), kRunTimeoutMs);
        QCOMPARE(peer.connectionCount(), 5);
    }

    void largestFileIsMeasuredOneByteMoreStops() {
        MessageRecorder messages;
        {
            ScriptedPeer peer;
            serveFile(peer, 26300000);
            Window w;
            w.form.Edit7->setText(urlOf(peer, "/big.jpg"));
            w.form.Button1Click();
            QTRY_VERIFY_WITH_TIMEOUT(w.runDone(), kRunTimeoutMs);
            QCOMPARE(w.form.Edit2->text(), QStringLiteral("26300000"));
            QCOMPARE(w.form.ListBox1->count(), 1);
        }
        messages.clear();
        ScriptedPeer peer;
        serveFile(peer, 26300001);
        Window w;
        w.form.Label8->show();
        w.form.Label50->setText(QStringLiteral("1"));
        w.form.Edit7->setText(urlOf(peer, "/big.jpg"));
        w.form.Button1Click();
        QCOMPARE(messages.texts(),
                 QStringList{QStringLiteral(
                     "測定ファイルが大きすぎます。\n25MB以下のファイルで測定してください。")});
        QCOMPARE(peer.connectionCount(), 1);
        QVERIFY(!w.form.Timer1->Enabled());
        QVERIFY(!w.form.Edit10->text().isEmpty()); // the round keeps its speed
        QCOMPARE(w.form.StatusText(), QStringLiteral("1回目測定中"));
        QCOMPARE(w.form.Label9->text(), QStringLiteral("JPEG"));
        QVERIFY(w.form.Label8->isHidden());
        QCOMPARE(w.form.Label50->text(), QStringLiteral("0"));
        QVERIFY(w.form.Button1->isEnabled());
        QVERIFY(w.form.Edit7->isEnabled());
        QVERIFY(!w.form.TimerMeas->isEnabled());
        QCOMPARE(w.form.ListBox1->count(), 0);
        QTest::qWait(100);
        QCOMPARE(peer.connectionCount(), 1);
    }

    void errorReplyOrCutBodyEndsTheRunWithoutALine_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("error reply")
            << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")
            << QStringList{};
        QTest::newRow("body cut short")
            << okHeader(2000000) + QByteArray(100000, 'q')
            << QStringList{QStringLiteral("受信が途中で切れました (100000 / 2000000 バイト)")};
    }
    void errorReplyOrCutBodyEndsTheRunWithoutALine() {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, messages);
        MessageRecorder recorder;
        ScriptedPeer peer;
        peer.readRequest().send(reply).close();
        Window w;
        w.form.Label50->setText(QStringLiteral("1"));
        w.form.Label51->setText(QStringLiteral("2"));
        w.form.Timer3->setInterval(60000);
        w.form.Timer3->setEnabled(true);
        w.form.Edit7->setEnabled(false);
        w.form.Edit7->setText(urlOf(peer, "/missing.jpg"));
        w.form.Button1Click();
        QCOMPARE(w.form.StatusText(), QStringLiteral("接続できませんでした"));
        QVERIFY(w.form.Button1->isEnabled());
        QVERIFY(w.form.E1->isEnabled());
        QCOMPARE(w.form.Label9->text(), QString());
        QCOMPARE(w.form.Label50->text(), QStringLiteral("0"));
        QCOMPARE(w.form.Label51->text(), QStringLiteral("0"));
        QVERIFY(!w.form.Timer3->Enabled());
        QCOMPARE(w.form.Timer3->Interval(), 0);
        QVERIFY(w.form.Edit7->isEnabled());
        QCOMPARE(w.form.ListBox1->count(), 0);
        QCOMPARE(w.form.Edit5->text(), QString());
        QCOMPARE(recorder.texts(), messages);
        QTest::qWait(100);
        QCOMPARE(peer.connectionCount(), 1);
        QVERIFY(!w.form.Timer1->Enabled());
    }

    void failedConnectionIsReportedAndTheWindowRecovers() {
        MessageRecorder messages;
        Window w;
        w.form.Edit7->setText(QStringLiteral("http://127.0.0.1:%1/x.jpg").arg(ClosedPort()));
        w.form.Button1Click();
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Connection Failed")});
        QCOMPARE(w.form.StatusText(), QStringLiteral("接続できませんでした"));
        QVERIFY(w.form.Button1->isEnabled());
        QVERIFY(w.form.E1->isEnabled());
        QCOMPARE(w.form.Label9->text(), QString());
        QCOMPARE(w.form.ListBox1->count(), 0);
    }

    void endlessRedirectsAreReportedAndTheWindowRecovers() {
        MessageRecorder messages;
        ScriptedPeer peer;
        peer.readRequest().send("HTTP/1.0 304 Not Modified\r\n\r\n").close();
        Window w;
        w.form.Edit7->setText(urlOf(peer, "/x.jpg"));
        w.form.Button1Click();
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Too many redirects")});
        QCOMPARE(w.form.StatusText(), QStringLiteral("接続できませんでした"));
        QVERIFY(w.form.Button1->isEnabled());
    }

    void commandLineRepeatMakesThatManyRuns_data() {
        QTest::addColumn<QString>("count");
        QTest::addColumn<int>("runs");
        QTest::newRow("3") << "3" << 3;
        QTest::newRow("1") << "1" << 1;
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("6") << "6" << 0;
    }
    void commandLineRepeatMakesThatManyRuns() {
        QFETCH(QString, count);
        QFETCH(int, runs);
        MessageRecorder messages;
        ScriptedPeer peer;
        serveFile(peer, 3000000);
        Window w({count});
        w.form.Edit7->setText(urlOf(peer, "/x.jpg"));
        w.form.FormCreate();
        if (runs > 0)
            QTRY_COMPARE_WITH_TIMEOUT(w.form.ListBox1->count(), runs, kRunTimeoutMs);
        QTest::qWait(200); // no further run follows
        QCOMPARE(w.form.ListBox1->count(), runs);
        QCOMPARE(peer.connectionCount(), runs * 5);
        QVERIFY(w.form.Button1->isEnabled());
        QVERIFY(!w.form.Timer2->Enabled());
    }

    void countOfTenStartsRepeatingAfterTheFifthRun() {
        MessageRecorder messages;
        ScriptedPeer peer;
        serveFile(peer, 3000000);
        Window w({QStringLiteral("10")});
        w.form.Edit7->setText(urlOf(peer, "/x.jpg"));
        w.form.FormCreate();
        QCOMPARE(peer.connectionCount(), 0); // no run at start
        for (int run = 1; run <= 5; ++run) {
            QVERIFY(w.form.Button1->isEnabled());
            w.form.Button1->click();
            QTRY_COMPARE_WITH_TIMEOUT(w.form.ListBox1->count(), run, kRunTimeoutMs);
        }
        // The fifth run brought the count to 5: five more follow by themselves.
        QTRY_COMPARE_WITH_TIMEOUT(w.form.ListBox1->count(), 10, kRunTimeoutMs);
        QTRY_VERIFY(w.form.Button1->isEnabled());
        QCOMPARE(w.form.RepeatCount(), 0);
        QTest::qWait(200);
        QCOMPARE(w.form.ListBox1->count(), 10);
    }

    void laterRoundsFetchTheUrlBoxAsItNowReads() {
        MessageRecorder messages;
        ScriptedPeer peer;
        serveFile(peer, 3000000);
        Window w;
        w.form.Timer1->setInterval(300);
        w.form.Edit7->setText(urlOf(peer, "/first.jpg"));
        w.form.Button1Click(); // returns after round 1
        QCOMPARE(peer.connectionCount(), 1);
        w.form.Edit7->setText(urlOf(peer, "/second.jpg"));
        QTRY_VERIFY_WITH_TIMEOUT(w.runDone(), kRunTimeoutMs);
        QVERIFY(peer.received(0).startsWith("GET /first.jpg "));
        for (int c = 1; c < 5; ++c)
            QVERIFY(peer.received(c).startsWith("GET /second.jpg "));
    }

    void historyCapDropsOneLinePerRun() {
        MessageRecorder messages;
        ScriptedPeer peer;
        serveFile(peer, 3000000);
        for (int loaded : {100, 150}) {
            Window w;
            for (int i = 0; i < loaded; ++i)
                w.form.ListBox1->addItem(QStringLiteral("old %1").arg(i));
            w.form.Edit7->setText(urlOf(peer, "/x.jpg"));
            w.form.Button1Click();
            QTRY_VERIFY_WITH_TIMEOUT(w.runDone(), kRunTimeoutMs);
            QCOMPARE(w.form.ListBox1->count(), loaded);
            QCOMPARE(w.form.ListBox1->item(0)->text(), QStringLiteral("old 1"));
        }
    }

    void deactivationDuringARunMarksItsLine() {
        MessageRecorder messages;
        ScriptedPeer peer;
        servePaced(peer, 2600000);
        Window w;
        w.form.FormCreate();
        w.form.Edit7->setText(urlOf(peer, "/x.jpg"));
        w.form.Button1Click();
        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
        QTRY_VERIFY_WITH_TIMEOUT(w.runDone(), kRunTimeoutMs);
        QVERIFY(w.form.ListBox1->item(0)->text().startsWith(QStringLiteral("*127.0.0.1:")));
        QVERIFY(!w.form.ListBox1->item(0)->text().startsWith(QStringLiteral("**")));
    }

    void cleanFastRunBecomesTheRecord() {
        MessageRecorder messages;
        ScriptedPeer peer;
        servePaced(peer, 2600000);
        Window w;
        w.form.Label41->show();
        w.form.Edit7->setText(urlOf(peer, "/x.jpg"));
        w.form.Button1Click();
        QTRY_VERIFY_WITH_TIMEOUT(w.runDone(), kRunTimeoutMs);
        QVERIFY2(!w.form.ListBox1->item(0)->text().startsWith('*'),
                 qPrintable(w.form.ListBox1->item(0)->text()));
        QCOMPARE(w.form.Label42->text(), w.form.Edit5->text());
        QCOMPARE(w.form.Label43->text(), w.form.Edit9->text());
        QCOMPARE(w.form.Edit5->palette().color(QPalette::Text), QColor(Qt::red));
        // The next start puts the colour back.
        w.form.Edit7->clear();
        w.form.Button1Click();
        QCOMPARE(w.form.Edit5->palette().color(QPalette::Text),
                 w.form.Edit5->palette().color(QPalette::WindowText));
    }

    void enterStartsARunOnlyWhileTheButtonIsEnabled() {
        MessageRecorder messages;
        Window w;
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        w.form.Edit7->setFocus();
        w.form.Button1->setEnabled(false);
        QTest::keyClick(w.form.Edit7, Qt::Key_Return);
        QCOMPARE(w.form.StatusText(), QString());
        w.form.Button1->setEnabled(true);
        QTest::keyClick(w.form.Edit7, Qt::Key_Return);
        QCOMPARE(w.form.StatusText(), QStringLiteral("エラー：URLを入れてください"));
    }

    void closingTheWindowEndsAWaitingRequest() {
        MessageRecorder messages;
        ScriptedPeer peer;
        peer.readRequest(); // accepts, then stays silent
        Window w;
        w.form.show();
        w.form.Edit7->setText(urlOf(peer, "/x.jpg"));
        QTimer::singleShot(200, &w.form, [&w] { w.form.close(); });
        QElapsedTimer clock;
        clock.start();
        w.form.Button1Click();
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(w.form.Closed());
        QCOMPARE(messages.texts(), QStringList{}); // nothing is reported once the window has closed
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_MAIN(DownloadTest)
#include "download_test.moc"
