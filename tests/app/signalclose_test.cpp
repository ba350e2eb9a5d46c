// A termination signal while a box or a dialog waits for the user: it closes as Cancel (OK),
// the wait returns, and the main window closes in order and writes qm1.dat.
#include "core/platform/TerminationSignals.h"
#include "core/state/StateFile.h"
#include "core/upload/UploadRun.h"
#include "support/ScriptedPeer.h"
#include "support/TempWorkDir.h"
#include "support/TestHelpers.h"
#include "window/Application.h"
#include "window/main/quillmetUnit1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QtTest>
#include <csignal>
#include <optional>

class SignalCloseTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // As the program installs it.
        InstallTerminationSignals([](int) {
            if (Form1)
                Form1->CloseForSignal();
        });
    }
    void init() { m_cwd.emplace(); }
    void cleanup() {
        DestroyForms();
        m_cwd.reset();
    }

    void modalEndsOnSignal_data() {
        QTest::addColumn<QString>("modal");
        QTest::addColumn<int>("sig");
        QTest::addColumn<QString>("shown");
        QTest::newRow("exception report inside FormCreate")
            << "report" << int(SIGTERM) << "QMessageBox";
        QTest::newRow("about, timer settings open too") << "about" << int(SIGINT) << "TForm2";
        QTest::newRow("usage") << "usage" << int(SIGHUP) << "TForm3";
        QTest::newRow("mail caution") << "caution" << int(SIGTERM) << "TForm4";
        QTest::newRow("save failed at the close") << "save" << int(SIGTERM) << "QMessageBox";
    }
    void modalEndsOnSignal() {
        QFETCH(QString, modal);
        QFETCH(int, sig);
        QFETCH(QString, shown);
        const QString url = QStringLiteral("http://127.0.0.1:%1/qm/qm1M.jpg").arg(ClosedPort());
        StateSnapshot state;
        state.Edit7.Text = url;
        if (modal == "save") // no save can replace a directory
            QVERIFY(QDir().mkpath(QStringLiteral("qm1.dat/blocker")));
        else
            QVERIFY(WriteStateFile(QStringLiteral("qm1.dat"), state).ok);

        // At each modal window: the signal. A window still open 5 s later is closed here, so
        // that a failure ends the test. For the save, the user has just made room.
        QStringList seen;
        bool outlived = false;
        QPointer<QWidget> current;
        QElapsedTimer since;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            QWidget* open = QApplication::activeModalWidget();
            if (open && open == current && since.elapsed() > 5000) {
                outlived = true;
                QMetaObject::invokeMethod(open, "reject");
            } else if (open && open != current) {
                current = open;
                seen << QString::fromLatin1(open->metaObject()->className());
                if (modal == "save")
                    QDir(QStringLiteral("qm1.dat")).removeRecursively();
                since.start();
                ::raise(sig);
            }
        });
        poll.start(10);

        CreateForms(modal == "report" ? QStringList{QStringLiteral("1")} : QStringList{});
        if (modal == "about") {
            Form1->TimerMeasClick(); // not modal
            Form1->About1Click();
        } else if (modal == "usage") {
            Form1->Tutorial1Click();
        } else if (modal == "caution") {
            Form1->SMTPB1Click();
            Form1->Edit3->setText(QStringLiteral("127.0.0.1"));
            Form1->Edit8->setText(QStringLiteral("user@example.jp"));
            Form1->Button1Click();
            QVERIFY(!Form1->Upload().Smtp.Running()); // cancelled: no upload started
        } else if (modal == "save") {
            Form1->Edit7->setText(url);
            Form1->close();
        }

        QCOMPARE(seen, QStringList{shown});
        QVERIFY(!outlived);
        QVERIFY(Form1->Closed());
        for (const QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(w == Form1 || !w->isVisible(), w->metaObject()->className());
        StateSnapshot saved;
        QCOMPARE(ReadStateFile(QStringLiteral("qm1.dat"), saved).status,
                 StateReadResult::Status::Read);
        QCOMPARE(saved.Edit7.Text, url);
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_MAIN(SignalCloseTest)
#include "signalclose_test.moc"
