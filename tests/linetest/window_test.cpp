// The line test's window against the sample host and scripted peers: the live chart, the
// result and its journal line, Esc, a server that is no Quillmet server, and the main window's
// runs kept apart from a line test.
#include "core/linetest/LineTestRun.h"
#include "support/SampleHostScript.h"
#include "support/ScriptedPeer.h"
#include "window/dialogs/LineTestWindow.h"
#include "window/main/quillmetUnit1.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
MeasurementServer serverAt(quint16 port) {
    MeasurementServer s;
    ParseServerAddress(QStringLiteral("127.0.0.1:%1").arg(port), &s);
    return s;
}

void shorten(LineTestWindow& w) {
    w.Run().Timings.phaseMaxMs = 1500;
    w.Run().Timings.idleProbes = 3;
}
} // namespace

class LineTestWindowTest final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    SampleHostScript m_host{qEnvironmentVariable("QM_BINARY_DIR"),
                            qEnvironmentVariable("QM_BINARY_DIR") +
                                QStringLiteral("/linetest-window-sample-host")};

    void open(LineTestWindow& w, const MeasurementServer& server) {
        shorten(w);
        w.ServerSource = [server] { return server; };
        w.Journal = ResultsJournal(m_dir.filePath(QStringLiteral("results.jsonl")));
        w.show();
        w.ShowServer();
        QCOMPARE(w.ServerEdit->text(), server.Authority());
    }

private slots:
    void initTestCase() {
        const QString failure = m_host.Start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    void cleanupTestCase() { QCOMPARE(m_host.Run(QStringLiteral("stop")), 0); }
    void init() { QFile::remove(m_dir.filePath(QStringLiteral("results.jsonl"))); }

    void aTestDrawsItsSamplesShowsTheResultAndJournalsIt() {
        LineTestWindow w;
        open(w, serverAt(m_host.Port()));
        QSignalSpy journaled(&w, &LineTestWindow::journalAppended);
        w.StartButton->click();
        QVERIFY(!w.StartButton->isEnabled());
        // Points arrive while the test is still going on.
        QTRY_VERIFY_WITH_TIMEOUT(w.DownloadSeries->count() > 0, 10000);
        QVERIFY(w.Running());
        QTRY_VERIFY_WITH_TIMEOUT(!w.Running(), 30000);
        QVERIFY2(journaled.count() == 1, qPrintable(w.StatusLabel->text()));
        QVERIFY(w.UploadSeries->count() > 0);
        QVERIFY(w.ConnectionSeries->count() >= w.DownloadSeries->count());
        // The upload's samples come after the download's, on the same time axis.
        QVERIFY(w.UploadSeries->at(0).x() > w.DownloadSeries->points().constLast().x());
        for (QLineEdit* box : {w.DownloadEdit, w.UploadEdit, w.IdleLatencyEdit, w.LoadedLatencyEdit,
                               w.JitterEdit, w.RpmEdit})
            QVERIFY2(!box->text().isEmpty(), qPrintable(box->objectName()));
        QVERIFY(w.DownloadEdit->text().contains(QStringLiteral("Mbit/s")));
        QVERIFY(!w.GradeText->text().isEmpty());

        const JournalRead read = w.Journal.Read();
        QCOMPARE(read.records.size(), 1);
        QCOMPARE(read.records[0].value("kind").toString(), QStringLiteral("line"));
        QCOMPARE(read.records[0].value("grade").toString(), w.GradeEdit->text());
        QVERIFY(w.RpmEdit->text().contains(read.records[0].value("rpm_band").toString()));
        QVERIFY(w.StartButton->isEnabled());
    }

    void escapeStopsTheTestAtOnceAndSaysSo() {
        LineTestWindow w;
        open(w, serverAt(m_host.Port()));
        w.StartButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.DownloadSeries->count() > 0, 10000);
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(w.StopButton, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!w.Run().Running(), 200);
        QVERIFY(clock.elapsed() < 200);
        QCOMPARE(w.PhaseLabel->text(), QStringLiteral("測定を中止しました"));
        QVERIFY(w.isVisible()); // Esc stops the test; a second Esc closes the window
        const int points = w.DownloadSeries->count();
        QTest::qWait(300);
        QCOMPARE(w.DownloadSeries->count(), points);
        QVERIFY(w.UploadEdit->text().isEmpty());
        QCOMPARE(w.Journal.Read().records.size(), 0);
        QTest::keyClick(w.StartButton, Qt::Key_Escape);
        QVERIFY(!w.isVisible());
    }

    void aServerWithoutADescriptorIsNamedInTheWindow() {
        ScriptedPeer peer;
        peer.readRequest().send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n").close();
        LineTestWindow w;
        open(w, serverAt(peer.port()));
        w.StartButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Running(), 10000);
        QVERIFY(w.isVisible());
        QVERIFY2(w.StatusLabel->text().contains(QStringLiteral("Quillmet の測定サーバーではない")),
                 qPrintable(w.StatusLabel->text()));
        QCOMPARE(w.Journal.Read().records.size(), 0);
    }

    void theMainWindowsRunWaitsForALineTestAndClosingEndsIt() {
        ScriptedPeer silent; // takes the descriptor's request and never answers
        silent.readRequest();
        TForm1 form;
        form.LineTest1->trigger();
        auto* w = form.findChild<LineTestWindow*>();
        QVERIFY(w);
        QCOMPARE(w->ServerEdit->text(), form.Server().Authority());
        open(*w, serverAt(silent.port()));
        w->StartButton->click();
        QVERIFY(w->Running());
        QVERIFY(!form.Button1->isEnabled());
        QVERIFY(!form.E1->isEnabled());
        form.ClickButton1();
        QVERIFY(!form.DownloadRunning());
        QCOMPARE(form.StatusText(), QStringLiteral("回線品質測定の実行中は、測定を始められません"));
        w->close();
        QVERIFY(!w->Run().Running());
        QVERIFY(form.Button1->isEnabled());
        QVERIFY(form.E1->isEnabled());
    }
};

QTEST_MAIN(LineTestWindowTest)
#include "window_test.moc"
