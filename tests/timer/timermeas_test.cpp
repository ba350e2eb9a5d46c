#include "core/platform/WindowTimer.h"
#include "core/state/StateFile.h"
#include "support/MessageRecorder.h"
#include "support/ScriptedPeer.h"
#include "support/TempWorkDir.h"
#include "support/TestHelpers.h"
#include "window/dialogs/quillmetUnit6.h"
#include "window/main/quillmetUnit1.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>
#include <optional>

namespace {
// A minute lasts 20 ms, so 30 minutes are 600 ms; a burst's runs are 100 ms apart.
constexpr int kMsPerMinute = 20;
constexpr int kInterval = 30 * kMsPerMinute;
constexpr int kGap = 100;
constexpr int kWaitMs = 20000;
const QString kEnded = QStringLiteral("タイマー測定を終了しました");

qint64 now() {
    QElapsedTimer t;
    t.start();
    return t.msecsSinceReference();
}

// Every connection: a 200 reply of that many bytes.
void serve(ScriptedPeer& peer, qint64 bytes = 3000000) {
    peer.readRequest().send(okHeader(bytes)).stream(bytes).close();
}

// The main window with short pauses and its timer settings with short minutes; notes the
// moment each run ends (its history line).
struct Window {
    Window() {
        form.Timer1->setInterval(20);
        form.Timer2->setInterval(20);
        dialog.MsPerMinute = kMsPerMinute;
        dialog.GapMs = kGap;
        QObject::connect(form.ListBox1->model(), &QAbstractItemModel::rowsInserted,
                         [this] { runEnds.append(now()); });
    }
    // ON with 30 minutes, perBurst runs, bursts times.
    void on(const QString& url, int perBurst, int bursts) {
        form.Edit7->setText(url);
        dialog.ComboBox1->setCurrentIndex(0);
        dialog.ComboBox2->setCurrentIndex(perBurst - 1);
        dialog.ComboBox3->setCurrentIndex(bursts - 1);
        dialog.show();
        onAt = now();
        dialog.Button1->click();
    }
    bool scheduleOn() const { return form.Label50->text() == QStringLiteral("1"); }
    int runs() const { return form.ListBox1->count(); }
    // Ended as at its regular end.
    void verifyEnded() const {
        QVERIFY(form.Label8->isHidden());
        for (QLabel* l : {form.Label50, form.Label51, form.Label52})
            QCOMPARE(l->text(), QStringLiteral("0"));
        QVERIFY(!form.Timer3->Enabled());
        QVERIFY(!form.Timer4->Enabled());
        QCOMPARE(form.Timer3->Interval(), 0);
        QCOMPARE(form.Timer4->Interval(), 0);
        QVERIFY(form.Button1->isEnabled());
        QVERIFY(form.E1->isEnabled());
        QVERIFY(form.Edit7->isEnabled());
    }
    TForm1 form;
    TForm6 dialog{&form};
    qint64 onAt = 0;
    QList<qint64> runEnds;
};
} // namespace

class TimerMeasTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_cwd.emplace(); }
    void cleanup() { m_cwd.reset(); }

    void oneRunOneIntervalAfterOnThenTheEnd() {
        MessageRecorder messages;
        ScriptedPeer peer;
        serve(peer);
        Window w;
        w.on(urlOf(peer, "/a.jpg"), 1, 1);
        QCOMPARE(peer.connectionCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.runs(), 1, kWaitMs);
        QCOMPARE(peer.connectionCount(), 5);
        QVERIFY2(peer.acceptedAt(0) - w.onAt >= kInterval,
                 qPrintable(QString::number(peer.acceptedAt(0) - w.onAt)));
        QCOMPARE(w.form.StatusText(), QStringLiteral("測定終了"));
        w.verifyEnded();
        QVERIFY(w.form.TimerMeas->isEnabled());
        QTest::qWait(2 * kInterval);
        QCOMPARE(peer.connectionCount(), 5);
        QCOMPARE(messages.texts(), QStringList{});
    }

    void twoRunsThreeTimesMakesThreePairs() {
        MessageRecorder messages;
        ScriptedPeer peer;
        serve(peer);
        Window w;
        w.on(urlOf(peer, "/a.jpg"), 2, 3);
        QStringList burstsLeft;
        QObject::connect(w.form.ListBox1->model(), &QAbstractItemModel::rowsInserted,
                         [&] { burstsLeft << w.form.Label52->text(); });
        QTRY_VERIFY_WITH_TIMEOUT(!w.scheduleOn(), kWaitMs);
        QCOMPARE(w.runs(), 6);
        QCOMPARE(peer.connectionCount(), 30);
        QCOMPARE(w.runEnds.size(), 6);
        // Read when each history line is added, before the hand-over counts the burst.
        QCOMPARE(burstsLeft, QStringList({"3", "3", "2", "2", "1", "1"}));
        w.verifyEnded();

        QVERIFY(peer.acceptedAt(0) - w.onAt >= kInterval);
        for (int run = 1; run < 6; ++run) {
            // From the end of a run to the first connection of the next.
            const qint64 gap = peer.acceptedAt(run * 5) - w.runEnds[run - 1];
            const bool samePair = run % 2 == 1;
            const QString why = QStringLiteral("run %1: %2 ms").arg(run + 1).arg(gap);
            if (samePair)
                QVERIFY2(gap >= kGap && gap < kInterval, qPrintable(why));
            else
                QVERIFY2(gap >= kInterval && gap < 5 * kInterval, qPrintable(why));
        }
        QTest::qWait(2 * kInterval);
        QCOMPARE(peer.connectionCount(), 30);
        QCOMPARE(messages.texts(), QStringList{});
    }

    void offWhileWaitingStopsBeforeAnyRun() {
        ScriptedPeer peer;
        serve(peer);
        Window w;
        w.on(urlOf(peer, "/a.jpg"), 2, 2);
        QVERIFY(w.scheduleOn());
        QTest::qWait(kInterval / 3);
        w.form.TimerMeas->trigger();
        w.dialog.Button2->click();
        w.verifyEnded();
        QTest::qWait(2 * kInterval);
        QCOMPARE(peer.connectionCount(), 0);
        QCOMPARE(w.runs(), 0);
    }

    void openingTheSettingsBetweenRunsStopsIt() {
        ScriptedPeer peer;
        serve(peer);
        Window w;
        w.on(urlOf(peer, "/a.jpg"), 2, 2);
        QTRY_COMPARE_WITH_TIMEOUT(w.runs(), 1, kWaitMs);
        QVERIFY(w.form.TimerMeas->isEnabled());
        w.form.TimerMeas->trigger();
        QVERIFY(w.dialog.isVisible());
        for (QLabel* l : {w.form.Label50, w.form.Label51, w.form.Label52})
            QCOMPARE(l->text(), QStringLiteral("0"));
        QVERIFY(!w.form.Timer3->Enabled());
        QVERIFY(!w.form.Timer4->Enabled());
        QVERIFY(w.form.Edit7->isEnabled());
        QVERIFY(!w.form.Label8->isHidden());
        QVERIFY(!w.form.Button1->isEnabled());
        QVERIFY(!w.form.E1->isEnabled());
        QTest::qWait(kGap + 2 * kInterval);
        QCOMPARE(peer.connectionCount(), 5);
        // Still so until ON or OFF.
        QVERIFY(!w.form.Label8->isHidden());
        QVERIFY(!w.form.Button1->isEnabled());
        w.dialog.Button2->click();
        w.verifyEnded();
    }

    void errorReplyCancelsTheSchedule() {
        MessageRecorder messages;
        ScriptedPeer peer;
        peer.readRequest()
            .send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")
            .close();
        Window w;
        w.on(urlOf(peer, "/missing.jpg"), 2, 2);
        QTRY_VERIFY_WITH_TIMEOUT(!w.scheduleOn(), kWaitMs);
        QCOMPARE(peer.connectionCount(), 1);
        QCOMPARE(w.form.StatusText(), QStringLiteral("接続できませんでした"));
        for (QLabel* l : {w.form.Label50, w.form.Label51, w.form.Label52})
            QCOMPARE(l->text(), QStringLiteral("0"));
        QVERIFY(!w.form.Timer3->Enabled());
        QVERIFY(!w.form.Timer4->Enabled());
        QCOMPARE(w.form.Timer3->Interval(), 0);
        QCOMPARE(w.form.Timer4->Interval(), 0);
        QVERIFY(w.form.Button1->isEnabled());
        QVERIFY(w.form.E1->isEnabled());
        QVERIFY(w.form.Edit7->isEnabled());
        QVERIFY(!w.form.Label8->isHidden()); // the indicator keeps its visibility
        QCOMPARE(w.runs(), 0);
        QTest::qWait(2 * kInterval);
        QCOMPARE(peer.connectionCount(), 1);
        QCOMPARE(messages.texts(), QStringList{});
    }

    void tooBigFileEndsTheScheduleInFull() {
        MessageRecorder messages;
        ScriptedPeer peer;
        serve(peer, 26300001);
        Window w;
        w.on(urlOf(peer, "/big.jpg"), 2, 2);
        QTRY_VERIFY_WITH_TIMEOUT(!w.scheduleOn(), kWaitMs);
        QCOMPARE(messages.texts(),
                 QStringList{QStringLiteral(
                     "測定ファイルが大きすぎます。\n25MB以下のファイルで測定してください。")});
        QCOMPARE(peer.connectionCount(), 1);
        w.verifyEnded();
        QCOMPARE(w.form.StatusText(), QStringLiteral("1回目測定中"));
        QTest::qWait(2 * kInterval);
        QCOMPARE(peer.connectionCount(), 1);

        // The stopped run keeps its tag; a later schedule whose tick is refused still ends.
        QCOMPARE(w.form.Label9->text(), QStringLiteral("JPEG"));
        w.on(urlOf(peer, "/big.jpg"), 1, 1);
        QVERIFY(w.scheduleOn());
        w.form.Label15->setText(QStringLiteral("ftp://127.0.0.1/a.jpg"));
        w.form.URL1->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!w.scheduleOn(), kWaitMs);
        QCOMPARE(w.form.StatusText(), kEnded);
        w.verifyEnded();
        QCOMPARE(peer.connectionCount(), 1);
    }

    void savedUrlDuringTheScheduleIsWhatTheNextTickFetches() {
        ScriptedPeer peer;
        serve(peer);
        Window w;
        w.on(urlOf(peer, "/first.jpg"), 1, 2);
        QTRY_COMPARE_WITH_TIMEOUT(w.runs(), 1, kWaitMs);
        QVERIFY(!w.form.Edit7->isEnabled());
        w.form.Label15->setText(urlOf(peer, "/second.jpg"));
        w.form.URL1->trigger();
        QCOMPARE(w.form.Edit7->text(), urlOf(peer, "/second.jpg"));
        QTRY_VERIFY_WITH_TIMEOUT(!w.scheduleOn(), kWaitMs);
        QCOMPARE(w.runs(), 2);
        QCOMPARE(peer.connectionCount(), 10);
        for (int c = 0; c < 10; ++c)
            QVERIFY(peer.received(c).startsWith(c < 5 ? "GET /first.jpg " : "GET /second.jpg "));
    }

    void closingTheWindowMidScheduleStoresItStopped() {
        ScriptedPeer peer;
        serve(peer);
        Window w;
        w.form.show();
        const QString url = urlOf(peer, "/a.jpg");
        w.on(url, 2, 3);
        QTRY_COMPARE_WITH_TIMEOUT(w.runs(), 1, kWaitMs);
        QVERIFY(!w.form.Edit7->isEnabled());
        QVERIFY(QFile::remove(QStringLiteral("qm1.dat"))); // written with the history line
        w.form.close();
        QVERIFY(w.form.Closed());
        QVERIFY(w.form.Edit7->isEnabled());
        for (QLabel* l : {w.form.Label50, w.form.Label51, w.form.Label52})
            QCOMPARE(l->text(), QStringLiteral("0"));
        QVERIFY(!w.form.Timer3->Enabled());
        QVERIFY(!w.form.Timer4->Enabled());
        StateSnapshot stored;
        const StateReadResult read = ReadStateFile(QStringLiteral("qm1.dat"), stored);
        QCOMPARE(int(read.status), int(StateReadResult::Status::Read));
        QCOMPARE(stored.Edit7.Text, url);
        QVERIFY(stored.Edit7.Visible);
        QCOMPARE(stored.ListBox1.size(), 1);
        QTest::qWait(kGap + 2 * kInterval);
        QCOMPARE(peer.connectionCount(), 5);
    }

    // A tick whose click starts no download ends the schedule as at its end, and says so.
    void tickThatStartsNoRunEndsTheSchedule_data() {
        QTest::addColumn<int>("runsBefore");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("uploadMode");
        QTest::addColumn<QString>("message");
        const QString jpeg = QStringLiteral("JPEGファイルで測定してください。");
        const QString empty = QStringLiteral(
            "URLを入力し、測定開始を押してください。\n「簡易測定」メニューを使うと簡単です。");
        QTest::newRow("first tick, other scheme") << 0 << "ftp://127.0.0.1/a.jpg" << false << "";
        QTest::newRow("first tick, page") << 0 << "http://127.0.0.1/a.html" << false << jpeg;
        QTest::newRow("first tick, empty") << 0 << "" << false << empty;
        QTest::newRow("first tick, upload mode") << 0 << "" << true << "";
        QTest::newRow("gap tick, other scheme") << 1 << "ftp://127.0.0.1/a.jpg" << false << "";
        QTest::newRow("gap tick, upload mode") << 1 << "" << true << "";
    }
    void tickThatStartsNoRunEndsTheSchedule() {
        QFETCH(int, runsBefore);
        QFETCH(QString, url);
        QFETCH(bool, uploadMode);
        QFETCH(QString, message);
        MessageRecorder messages;
        ScriptedPeer peer;
        serve(peer);
        Window w;
        w.on(urlOf(peer, "/a.jpg"), 2, 2);
        QTRY_COMPARE_WITH_TIMEOUT(w.runs(), runsBefore, kWaitMs);
        if (uploadMode) {
            // The mail fields stay empty: an upload start refuses them.
            w.form.WEBB1->setChecked(false);
            w.form.SMTPB1->setChecked(true);
        } else {
            w.form.Label15->setText(url);
            w.form.URL1->trigger();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!w.scheduleOn(), kWaitMs);
        QCOMPARE(w.form.StatusText(), kEnded);
        w.verifyEnded();
        QCOMPARE(messages.texts(), message.isEmpty() ? QStringList{} : QStringList{message});
        QCOMPARE(w.form.Label9->text(), QString());
        QTest::qWait(kGap + kInterval);
        QCOMPARE(peer.connectionCount(), 5 * runsBefore);
        QCOMPARE(w.runs(), runsBefore);
    }

    // A run started by hand before the first tick is no run of the schedule.
    void runStartedBeforeOnTakesNoBurst() {
        MessageRecorder messages;
        ScriptedPeer peer;
        serve(peer);
        Window w;
        w.form.Edit7->setText(urlOf(peer, "/a.jpg"));
        w.form.Button1->click(); // returns once the first round is in
        QCOMPARE(w.form.Label9->text(), QStringLiteral("JPEG"));
        w.on(urlOf(peer, "/a.jpg"), 1, 1);
        QTRY_COMPARE_WITH_TIMEOUT(w.runs(), 1, kWaitMs);
        QVERIFY(w.scheduleOn());
        QVERIFY(!w.form.Button1->isEnabled());
        QVERIFY(!w.form.Label8->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(!w.scheduleOn(), kWaitMs);
        QCOMPARE(w.runs(), 2);
        QCOMPARE(peer.connectionCount(), 10);
        w.verifyEnded();
    }

    // A tick that finds a run still going on starts none beside it and ends the schedule;
    // the start controls come back with the end of that run.
    void tickDuringARunEndsTheScheduleAndLeavesTheRun() {
        MessageRecorder messages;
        ScriptedPeer peer;
        serve(peer);
        Window w;
        w.form.Timer1->setInterval(150);
        w.dialog.MsPerMinute = 1; // the first tick 30 ms after ON
        w.form.Edit7->setText(urlOf(peer, "/a.jpg"));
        w.form.Button1->click();
        w.on(urlOf(peer, "/a.jpg"), 1, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!w.scheduleOn(), kWaitMs);
        QVERIFY(w.form.DownloadRunning());
        QCOMPARE(w.form.StatusText(), kEnded);
        QVERIFY(w.form.Label8->isHidden());
        QVERIFY(!w.form.Button1->isEnabled());
        QVERIFY(!w.form.E1->isEnabled());
        QVERIFY(w.form.Edit7->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(w.runs(), 1, kWaitMs);
        w.verifyEnded();
        QCOMPARE(peer.connectionCount(), 5);
        QCOMPARE(messages.texts(), QStringList{});
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_MAIN(TimerMeasTest)
#include "timermeas_test.moc"
