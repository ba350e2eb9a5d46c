// The keyboard and the stop command of the main window, and closing the timer dialog.
#include "core/net/ScktComp.h"
#include "core/platform/WindowTimer.h"
#include "support/MessageRecorder.h"
#include "support/ScriptedPeer.h"
#include "support/TempWorkDir.h"
#include "support/TestHelpers.h"
#include "window/chart/HistoryChart.h"
#include "window/dialogs/ServerSettingsDialog.h"
#include "window/dialogs/quillmetUnit2.h"
#include "window/dialogs/quillmetUnit3.h"
#include "window/dialogs/quillmetUnit4.h"
#include "window/dialogs/quillmetUnit6.h"
#include "window/main/quillmetUnit1.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>
#include <optional>

namespace {
void showActive(QWidget& w) {
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

// Claims the keys as a line edit does on X11, where Ctrl+E is "end of line" and Ctrl+D
// "delete"; the offscreen platform binds neither. Installed after the window's own filter,
// it sees each key first.
class X11LineKeys final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->modifiers() == Qt::ControlModifier &&
                (key->key() == Qt::Key_E || key->key() == Qt::Key_D))
                event->accept();
        }
        return false;
    }
};
} // namespace

class AccessTest final : public QObject {
    Q_OBJECT

private slots:
    void init() { m_cwd.emplace(); }
    void cleanup() { m_cwd.reset(); }

    // A line edit claims Ctrl+E and Ctrl+D for itself on X11; the menu must win.
    void menuShortcutsWorkFromTheEditBoxes_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("key");
        QTest::newRow("Ctrl+E in the URL box") << "Edit7" << int(Qt::Key_E);
        QTest::newRow("Ctrl+E in a result box") << "Edit5" << int(Qt::Key_E);
        QTest::newRow("Ctrl+D in the URL box") << "Edit7" << int(Qt::Key_D);
        QTest::newRow("Ctrl+Q in the URL box") << "Edit7" << int(Qt::Key_Q);
    }
    void menuShortcutsWorkFromTheEditBoxes() {
        QFETCH(QString, box);
        QFETCH(int, key);
        MessageRecorder messages;
        TForm1 form;
        showActive(form);
        form.ListBox1->addItems({QStringLiteral("line0"), QStringLiteral("line1")});
        form.ListBox1->setCurrentRow(0);
        auto* edit = form.findChild<QLineEdit*>(box);
        QVERIFY(edit);
        X11LineKeys x11(&form);
        edit->installEventFilter(&x11);
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QTest::keyClick(edit, Qt::Key(key), Qt::ControlModifier);
        switch (key) {
        case Qt::Key_E: // the start checks ran: the URL box is empty
            QCOMPARE(form.StatusText(), QStringLiteral("エラー：URLを入れてください"));
            QCOMPARE(messages.texts().size(), 1);
            break;
        case Qt::Key_D:
            QCOMPARE(form.ListBox1->count(), 1);
            break;
        case Qt::Key_Q:
            QVERIFY(form.Closed());
            break;
        }
    }

    void ctrlEInTheUrlBoxLeavesTheTextAlone() {
        MessageRecorder messages;
        TForm1 form;
        showActive(form);
        form.Edit7->setText(QStringLiteral("http://host/x.png"));
        form.Edit7->setFocus();
        form.Edit7->setCursorPosition(0);
        form.Button1->setEnabled(false);
        form.E1->setEnabled(false);
        // With the start command disabled the key is the box's again.
        QTest::keyClick(form.Edit7, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(form.StatusText(), QString());
        QCOMPARE(form.Edit7->text(), QStringLiteral("http://host/x.png"));
    }

    void aSilentServerIsStoppedAndTheWindowIsUsable_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Esc in the URL box") << "esc";
        QTest::newRow("stop button") << "button";
        QTest::newRow("menu item") << "menu";
    }
    void aSilentServerIsStoppedAndTheWindowIsUsable() {
        QFETCH(QString, how);
        MessageRecorder messages;
        ScriptedPeer peer;
        peer.readRequest(); // accepts, reads the request, never answers
        TForm1 form;
        showActive(form);
        QVERIFY(!form.S1->isEnabled());
        QVERIFY(!form.Button5->isEnabled());
        form.Label50->setText(QStringLiteral("1"));
        form.Timer3->setInterval(60000);
        form.Timer3->setEnabled(true);
        form.Edit7->setText(urlOf(peer, "/x.jpg"));
        form.Edit7->setFocus();
        bool enabledDuringRun = false;
        QTimer::singleShot(300, &form, [&] {
            enabledDuringRun = form.S1->isEnabled() && form.Button5->isEnabled() &&
                               form.StatusText() == QStringLiteral("1回目測定中");
            if (how == QStringLiteral("esc"))
                QTest::keyClick(form.Edit7, Qt::Key_Escape);
            else if (how == QStringLiteral("button"))
                form.Button5->click();
            else
                form.S1->trigger();
        });
        QElapsedTimer clock;
        clock.start();
        form.Button1Click(); // returns once the request has ended
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(enabledDuringRun);
        QCOMPARE(form.StatusText(), QStringLiteral("測定を中止しました"));
        QCOMPARE(messages.texts(), QStringList{});
        QVERIFY(form.Button1->isEnabled());
        QVERIFY(form.E1->isEnabled());
        QVERIFY(!form.S1->isEnabled());
        QVERIFY(!form.Button5->isEnabled());
        QCOMPARE(form.Label9->text(), QString());
        QCOMPARE(form.Label50->text(), QStringLiteral("0"));
        QVERIFY(!form.Timer3->Enabled());
        QCOMPARE(form.ListBox1->count(), 0);
        QTRY_VERIFY(peer.clientClosed(0));

        // The next start reaches the server again.
        peer.next().readRequest();
        QTimer::singleShot(300, &form, [&] { form.S1->trigger(); });
        form.Button1Click();
        QCOMPARE(peer.connectionCount(), 2);
        QCOMPARE(form.StatusText(), QStringLiteral("測定を中止しました"));
    }

    void stopBetweenRoundsEndsThePause() {
        MessageRecorder messages;
        ScriptedPeer peer;
        peer.readRequest().send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nqqqqq").close();
        TForm1 form;
        form.Edit7->setText(urlOf(peer, "/x.jpg"));
        form.Button1Click();
        QVERIFY(form.Timer1->Enabled());
        QVERIFY(form.S1->isEnabled());
        form.S1->trigger();
        QVERIFY(!form.Timer1->Enabled());
        QCOMPARE(form.StatusText(), QStringLiteral("測定を中止しました"));
        QVERIFY(form.Button1->isEnabled());
        QTest::qWait(100);
        QCOMPARE(peer.connectionCount(), 1);
        QCOMPARE(messages.texts(), QStringList{});
    }

    // The box keeps the component's message and explains it underneath.
    void downloadFailuresAreExplained_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("explanation");
        QTest::newRow("refused") << "refused"
                                 << "Connection Failed"
                                 << "%1 に接続できませんでした。サーバが動いているか、URL の"
                                    "ホスト名とポート番号を確かめてください。";
        QTest::newRow("reset") << "reset"
                               << "10054:Connection reset by peer"
                               << "%1 のサーバが測定の途中で接続を切りました。";
        QTest::newRow("unresolvable host") << "lookup"
                                           << "Null Remote Address"
                                           << "ホスト名 nosuch.invalid が見つかりませんでした。";
    }
    void downloadFailuresAreExplained() {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QFETCH(QString, explanation);
        MessageRecorder messages;
        ScriptedPeer peer;
        QString url;
        QString where;
        if (kind == QStringLiteral("refused")) {
            const quint16 port = ClosedPort();
            url = QStringLiteral("http://127.0.0.1:%1/x.jpg").arg(port);
            where = QStringLiteral("127.0.0.1:%1").arg(port);
        } else if (kind == QStringLiteral("reset")) {
            peer.readRequest().send("HTTP/1.0 200 OK\r\nContent-Length: 900000\r\n\r\n").reset();
            url = urlOf(peer, "/x.jpg");
            where = QStringLiteral("127.0.0.1:%1").arg(peer.port());
        } else {
            url = QStringLiteral("http://nosuch.invalid/x.jpg");
        }
        TForm1 form;
        form.Edit7->setText(url);
        form.Button1Click();
        QCOMPARE(messages.texts(), QStringList{message});
        QVERIFY2(messages.informativeTexts().value(0).startsWith(explanation.arg(where)),
                 qPrintable(messages.informativeTexts().value(0)));
        QCOMPARE(form.StatusText(), QStringLiteral("接続できませんでした"));
    }

    void anErrorReplyKeepsItsStatusAndTellsTheCode() {
        MessageRecorder messages;
        ScriptedPeer peer;
        peer.readRequest().send("HTTP/1.0 404 Not Found\r\n\r\n").close();
        TForm1 form;
        form.Edit7->setText(urlOf(peer, "/missing.jpg"));
        form.Button1Click();
        QCOMPARE(form.StatusText(), QStringLiteral("接続できませんでした"));
        QVERIFY2(form.StatusBar1->findChild<QLabel*>()->toolTip().startsWith(
                     QStringLiteral("127.0.0.1:%1 のサーバがエラー 404 を返しました。")
                         .arg(peer.port())),
                 qPrintable(form.StatusBar1->findChild<QLabel*>()->toolTip()));
        QCOMPARE(messages.texts(), QStringList{});
        form.SetStatus(QStringLiteral("コネクト中"));
        QVERIFY(form.StatusBar1->findChild<QLabel*>()->toolTip().isEmpty());
    }

    void aRefusedSmtpConnectionIsExplained() {
        MessageRecorder messages;
        TForm1 form;
        Form4 = new TForm4(&form);
        form.ClientSocket3->setPort(ClosedPort());
        form.SMTPB1Click();
        form.Edit3->setText(QStringLiteral("127.0.0.1"));
        form.Edit8->setText(QStringLiteral("me@example.com"));
        QTimer::singleShot(0, Form4, [] { Form4->Button1->click(); });
        form.Button1Click();
        QTRY_COMPARE(messages.texts().size(), 1);
        QCOMPARE(messages.texts().front(), QStringLiteral("非同期ソケットエラー 10061"));
        QVERIFY2(messages.informativeTexts().front().startsWith(
                     QStringLiteral("127.0.0.1:%1 に接続できませんでした。")
                         .arg(form.ClientSocket3->Port())),
                 qPrintable(messages.informativeTexts().front()));
        QVERIFY(form.Button1->isEnabled());
        delete Form4;
        Form4 = nullptr;
    }

    void everyBoxHasANameAndTheResultsAnnounceTheirValues() {
        TForm1 form;
        const auto name = [](QWidget* w) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
            return iface ? iface->text(QAccessible::Name) : QStringLiteral("<none>");
        };
        QCOMPARE(name(form.Edit7), QStringLiteral("URL"));
        QCOMPARE(name(form.Edit1), QStringLiteral("コネクト時間 (msec)"));
        QCOMPARE(name(form.Edit10), QStringLiteral("1回目 kbps"));
        QCOMPARE(name(form.Edit19), QStringLiteral("5回目 Mbps"));
        QCOMPARE(name(form.Button1), QStringLiteral("測定開始"));
        QCOMPARE(name(form.Button5), QStringLiteral("中止"));
        QCOMPARE(name(form.ListBox1), QStringLiteral("測定履歴"));
        for (QWidget* w : form.findChildren<QWidget*>()) {
            if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPushButton*>(w) ||
                qobject_cast<QListWidget*>(w))
                QVERIFY2(!name(w).isEmpty(), qPrintable(w->objectName()));
        }
        form.SMTPB1Click();
        QCOMPARE(name(form.Edit5), QStringLiteral("推定送信スピード (kbps)"));

        form.Edit5->setText(QStringLiteral("1234.5"));
        QCOMPARE(QAccessible::queryAccessibleInterface(form.Edit5)->text(QAccessible::Value),
                 QStringLiteral("1234.5"));

        TForm6 dialog{&form};
        QCOMPARE(name(dialog.ComboBox1), QStringLiteral("分置きに"));
    }

    void theHttpUploadModeShowsTheServerAndIsReachableByKey() {
        TForm1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.HTTPB1->text().contains(QStringLiteral("(&H)")));
        form.HTTPB1->trigger();
        QVERIFY(form.HTTPB1->isChecked() && !form.WEBB1->isChecked() && !form.SMTPB1->isChecked());
        QVERIFY(form.Edit20->isVisible() && !form.Edit7->isVisible() && !form.Edit3->isVisible());
        QCOMPARE(form.Edit20->text(), form.Server().Authority());
        QCOMPARE(QAccessible::queryAccessibleInterface(form.Edit20)->text(QAccessible::Name),
                 QStringLiteral("測定サーバー"));
        QCOMPARE(form.Label6->text(), QStringLiteral("送信量"));
        // Tab goes from the server box to the start button.
        form.Edit20->setFocus();
        QTest::keyClick(form.Edit20, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), form.Button1);
        form.WEBB1->trigger();
        QVERIFY(!form.Edit20->isVisible() && form.Edit7->isVisible());
    }

    void everyControlOfTheOtherWindowsHasAName() {
        TForm1 form;
        TForm2 about{&form};
        TForm3 usage{&form};
        TForm4 caution{&form};
        TForm6 timer{&form};
        TForm7 chart{&form};
        ServerSettingsDialog server{form.Server(), &form};
        for (QWidget* window :
             std::initializer_list<QWidget*>{&about, &usage, &caution, &timer, &chart, &server}) {
            for (QWidget* w : window->findChildren<QWidget*>()) {
                const bool control =
                    qobject_cast<QLineEdit*>(w) || qobject_cast<QPushButton*>(w) ||
                    qobject_cast<QComboBox*>(w) ||
                    (qobject_cast<QAbstractScrollArea*>(w) && !w->objectName().isEmpty());
                if (!control || !w->isVisibleTo(window))
                    continue;
                QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
                QVERIFY2(iface && !iface->text(QAccessible::Name).isEmpty(),
                         qPrintable(window->objectName() + QLatin1Char('.') + w->objectName()));
            }
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(usage.Memo1)->text(QAccessible::Name),
                 QStringLiteral("使い方"));
        // On Linux a combo box reads out its item; its label comes through the relation.
        const auto labels =
            QAccessible::queryAccessibleInterface(chart.ComboBox1)->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.front().first->text(QAccessible::Name), QStringLiteral("ホスト"));
    }

    void aNewRecordIsToldInWordsNotOnlyByColour() {
        TForm1 form;
        form.Button6Click(); // the record display on
        form.Edit5->setText(QStringLiteral("99.0"));
        form.Edit9->setText(QStringLiteral("0.097"));
        form.OfferToFastestRecord(0);
        QCOMPARE(form.Edit5->toolTip(), QStringLiteral("最速記録を更新しました"));
        QCOMPARE(form.Label42->toolTip(), QStringLiteral("最速記録を更新しました"));
        MessageRecorder messages;
        form.Button1Click(); // the next start takes the words away with the colour
        QVERIFY(form.Edit5->toolTip().isEmpty());
    }

    void closingTheTimerDialogWithoutOnLeavesTheWindowUsable_data() {
        QTest::addColumn<bool>("byEsc");
        QTest::newRow("Esc") << true;
        QTest::newRow("title bar") << false;
    }
    void closingTheTimerDialogWithoutOnLeavesTheWindowUsable() {
        QFETCH(bool, byEsc);
        TForm1 form;
        TForm6 dialog{&form};
        form.StartTimerSchedule(30 * 60000, 3000, 2, 3);
        QVERIFY(form.StatusText().startsWith(QStringLiteral("タイマー測定：次回 ")));
        QVERIFY(form.StatusText().endsWith(QStringLiteral("、残り 3回")));
        QCOMPARE(form.Label8->toolTip(), form.StatusText());
        form.TimerMeasClick(); // opening the settings stops the schedule
        QVERIFY(dialog.isVisible());
        QVERIFY(!form.Button1->isEnabled());
        if (byEsc)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();
        QVERIFY(!dialog.isVisible());
        QVERIFY(form.Label8->isHidden());
        QVERIFY(form.Label8->toolTip().isEmpty());
        QCOMPARE(form.StatusText(), QString()); // no next burst is announced any more
        QVERIFY(form.Button1->isEnabled());
        QVERIFY(form.E1->isEnabled());
        QVERIFY(form.Edit7->isEnabled());
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_MAIN(AccessTest)
#include "access_test.moc"
