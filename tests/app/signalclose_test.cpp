// A termination signal while a box or a dialog waits for the user: it closes as Cancel (OK),
// the wait returns, and the main window closes in order and writes qm1.dat.
#include "app/Application.h"
#include "app/StateFile.h"
#include "app/quillmetUnit1.h"
#include "platform/TerminationSignals.h"
#include "support/ScriptedPeer.h"
#include "support/TempWorkDir.h"
#include "timer/quillmetUnit6.h"
#include "upload/quillmetUnit4.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <functional>
#include <optional>

namespace {

// Raises a signal at each modal window that comes up and notes its class. Should the window
// outlive the signal by seconds, it closes it itself, so that a failing test ends.
class SignalAtModal final : public QObject {
public:
    explicit SignalAtModal(int sig, std::function<void()> beforeSignal = {})
        : m_sig(sig)
        , m_beforeSignal(std::move(beforeSignal)) {
        connect(&m_poll, &QTimer::timeout, this, [this] { poll(); });
        m_poll.start(10);
    }
    QStringList seen;
    bool outlived = false;

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal == m_current) {
            if (m_clock.elapsed() > 5000) {
                outlived = true;
                QMetaObject::invokeMethod(modal, "reject");
            }
            return;
        }
        m_current = modal;
        if (!modal)
            return;
        seen << QString::fromLatin1(modal->metaObject()->className());
        if (m_beforeSignal)
            m_beforeSignal();
        m_clock.start();
        ::raise(m_sig);
    }

    int m_sig;
    std::function<void()> m_beforeSignal;
    QTimer m_poll;
    QPointer<QWidget> m_current;
    QElapsedTimer m_clock;
};

const QString kStateFile = QStringLiteral("qm1.dat");

bool writeUrl(const QString& url) {
    StateSnapshot state;
    state.Edit7.Text = url;
    return WriteStateFile(kStateFile, state).ok;
}

QString savedUrl() {
    StateSnapshot state;
    const StateReadResult read = ReadStateFile(kStateFile, state);
    return read.status == StateReadResult::Status::Read ? state.Edit7.Text
                                                        : QStringLiteral("(unreadable)");
}

bool anyWindowOpenBut(const QWidget* main) {
    for (const QWidget* w : QApplication::topLevelWidgets()) {
        if (w != main && w->isVisible())
            return true;
    }
    return false;
}

} // namespace

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
        QTest::newRow("about") << "about" << int(SIGINT) << "TForm2";
        QTest::newRow("usage") << "usage" << int(SIGHUP) << "TForm3";
        QTest::newRow("mail caution") << "caution" << int(SIGTERM) << "TForm4";
        QTest::newRow("save failed at the close") << "save" << int(SIGTERM) << "QMessageBox";
    }
    void modalEndsOnSignal() {
        QFETCH(QString, modal);
        QFETCH(int, sig);
        QFETCH(QString, shown);
        const QString url = QStringLiteral("http://127.0.0.1:%1/qm/qm1M.jpg").arg(ClosedPort());
        if (modal == "save")
            QVERIFY(QDir().mkpath(kStateFile + QStringLiteral("/blocker"))); // no save succeeds
        else
            QVERIFY(writeUrl(url));

        // The user makes room for the save just as the signal comes: the close tries once more.
        SignalAtModal signaller(sig, [&] {
            if (modal == "save")
                QDir(kStateFile).removeRecursively();
        });
        CreateForms(modal == "report" ? QStringList{QStringLiteral("1")} : QStringList{});
        QVERIFY(Form1);
        if (modal == "about") {
            Form1->About1Click();
        } else if (modal == "usage") {
            Form1->Tutorial1Click();
        } else if (modal == "caution") {
            Form1->SMTPB1Click();
            Form1->Edit3->setText(QStringLiteral("127.0.0.1"));
            Form1->Edit8->setText(QStringLiteral("user@example.jp"));
            Form1->Button1Click();
            QVERIFY(!Form1->Smtp.Running()); // cancelled: no upload started
        } else if (modal == "save") {
            Form1->Edit7->setText(url);
            Form1->close();
        }

        QCOMPARE(signaller.seen, QStringList{shown});
        QVERIFY(!signaller.outlived);
        QVERIFY(Form1->Closed());
        QVERIFY(!anyWindowOpenBut(Form1));
        QCOMPARE(savedUrl(), url);
    }

    // The timer settings dialog is not modal; it closes with the window all the same.
    void timerSettingsCloseOnSignal() {
        CreateForms({});
        Form1->show();
        Form1->TimerMeasClick();
        QVERIFY(Form6->isVisible());
        ::raise(SIGTERM);
        QTRY_VERIFY(Form1->Closed());
        QVERIFY(!Form6->isVisible());
        QVERIFY(QFileInfo(kStateFile).isFile());
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_MAIN(SignalCloseTest)
#include "signalclose_test.moc"
