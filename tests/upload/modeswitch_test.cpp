// The switch between download and upload mode, and the mail caution dialog.
#include "core/net/ScktComp.h"
#include "core/upload/UploadRun.h"
#include "support/MessageRecorder.h"
#include "support/SmtpPeer.h"
#include "window/dialogs/quillmetUnit4.h"
#include "window/main/quillmetUnit1.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>
#include <functional>

namespace {
// Runs the action while the dialog's exec() is on the stack and returns exec's result.
int execWith(QDialog* dialog, const std::function<void()>& action) {
    bool ran = false;
    QTimer::singleShot(0, dialog, [&] {
        ran = true;
        QVERIFY(dialog->isVisible());
        QCOMPARE(QApplication::activeModalWidget(), dialog);
        action();
        if (dialog->isVisible()) {
            dialog->done(-1); // the action did not end the dialog
        }
    });
    const int result = dialog->exec();
    if (!ran)
        return -2;
    return result;
}

void pressEnter(QDialog* dialog) {
    QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
    QTest::keyClick(target, Qt::Key_Return);
}

struct ControlState {
    QString label6;
    QString label7;
    bool edit7;
    bool label1;
    bool label12;
    bool label13;
    bool edit3;
    bool edit8;
    bool k1;
    bool webb1;
    bool smtpb1;

    static ControlState of(const TForm1& f) {
        return {f.Label6->text(),      f.Label7->text(),       !f.Edit7->isHidden(),
                !f.Label1->isHidden(), !f.Label12->isHidden(), !f.Label13->isHidden(),
                !f.Edit3->isHidden(),  !f.Edit8->isHidden(),   f.K1->menuAction()->isEnabled(),
                f.WEBB1->isChecked(),  f.SMTPB1->isChecked()};
    }
    bool operator==(const ControlState&) const = default;
};

const ControlState kDownload{
    "受信量", "推定受信スピード", true, true, false, false, false, false, true, true, false};
const ControlState kUpload{
    "送信量", "推定送信スピード", false, false, true, true, true, true, false, false, true};

char* toString(const ControlState& s) {
    return qstrdup(QStringLiteral("%1 %2 edit7=%3 label1=%4 label12=%5 label13=%6 edit3=%7 "
                                  "edit8=%8 k1=%9 webb1=%10 smtpb1=%11")
                       .arg(s.label6, s.label7)
                       .arg(s.edit7)
                       .arg(s.label1)
                       .arg(s.label12)
                       .arg(s.label13)
                       .arg(s.edit3)
                       .arg(s.edit8)
                       .arg(s.k1)
                       .arg(s.webb1)
                       .arg(s.smtpb1)
                       .toUtf8()
                       .constData());
}
} // namespace

class ModeSwitchTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QDir::setCurrent(m_dir.path()); }

    void menuSwitchesEveryControlBothWays() {
        TForm1 form;
        form.show();
        QCOMPARE(ControlState::of(form), kDownload);

        form.SMTPB1->trigger();
        QCOMPARE(ControlState::of(form), kUpload);
        // The presets and saved URLs cannot be reached while the menu is disabled.
        QVERIFY(!form.K1->menuAction()->isEnabled());

        form.WEBB1->trigger();
        QCOMPARE(ControlState::of(form), kDownload);
    }

    void choosingTheActiveModeAgainChangesNothing() {
        TForm1 form;
        form.show();
        form.WEBB1->trigger();
        QCOMPARE(ControlState::of(form), kDownload);
        form.SMTPB1->trigger();
        form.SMTPB1->trigger();
        QCOMPARE(ControlState::of(form), kUpload);
    }

    void roundTripKeepsTheFieldsText() {
        TForm1 form;
        const QString url = QStringLiteral("http://localhost:8080/qm/qm2M.jpg");
        form.Edit7->setText(url);
        form.Edit3->setText(QStringLiteral("smtp.example.com"));
        form.Edit8->setText(QStringLiteral("me@example.com"));
        form.SMTPB1Click();
        form.WEBB1Click();
        QCOMPARE(form.Edit7->text(), url);
        form.SMTPB1Click();
        QCOMPARE(form.Edit3->text(), QStringLiteral("smtp.example.com"));
        QCOMPARE(form.Edit8->text(), QStringLiteral("me@example.com"));
    }

    void switchingDuringAnUploadLeavesItRunning() {
        MessageRecorder messages;
        TForm1 form;
        SmtpPeer peer;
        peer.setScript(SmtpPeer::normalScript());
        Form4 = new TForm4(&form);
        form.SMTPB1Click();
        form.Edit3->setText(QStringLiteral("127.0.0.1"));
        form.Edit8->setText(QStringLiteral("me@example.com"));
        form.ClientSocket3->setPort(peer.port());
        QTimer::singleShot(0, Form4, [] { Form4->Button1->click(); });
        form.Button1Click();
        form.WEBB1Click();
        QTRY_VERIFY_WITH_TIMEOUT(form.Button1->isEnabled(), 15000);
        QCOMPARE(form.ListBox1->count(), 1);
        QVERIFY(form.ListBox1->item(0)->text().startsWith(QStringLiteral("*upload(310KB),")));
        QCOMPARE(ControlState::of(form), kDownload);
    }

    void cautionDialogLayout() {
        TForm1 form;
        TForm4 dialog(&form);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("ご注意"));
        QCOMPARE(dialog.size(), QSize(349, 241));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize()); // fixed border
        const struct {
            QLabel* label;
            const char* name;
            QString text;
            int pixels;
            bool underlined;
            bool red;
        } rows[] = {
            {dialog.Label1, "Label1", "メールベンチのご注意", 16, true, false},
            {dialog.Label2, "Label2", "・自分のメールアドレスを入れましたか?", 16, false, true},
            {dialog.Label5, "Label5", "本文に送信者の情報が入っています。", 13, false, false},
            {dialog.Label4, "Label4", "他人に送らないように注意してください。", 13, false, false},
            {dialog.Label3, "Label3", "・メールアドレスを間違えないで下さい", 16, false, true},
            {dialog.Label6, "Label6", "間違えると、サーバ、ネットワークに", 13, false, false},
            {dialog.Label7, "Label7", "負荷をかける可能性があります。", 13, false, false},
        };
        dialog.show();
        int previousBottom = -1;
        for (const auto& r : rows) {
            QCOMPARE(r.label->objectName(), QString::fromLatin1(r.name));
            QCOMPARE(r.label->text(), r.text);
            QCOMPARE(r.label->font().pixelSize(), r.pixels);
            QCOMPARE(r.label->font().underline(), r.underlined);
            QCOMPARE(r.label->palette().color(QPalette::WindowText) == QColor(Qt::red), r.red);
            // Top to bottom, each fully inside the dialog and clear of the one above.
            QVERIFY2(r.label->geometry().top() >= previousBottom, r.name);
            QVERIFY2(dialog.rect().contains(r.label->geometry()), r.name);
            QVERIFY2(r.label->sizeHint().width() <= r.label->width(), r.name);
            previousBottom = r.label->geometry().bottom();
        }
        QCOMPARE(dialog.Button1->text(), QStringLiteral("OK"));
        QCOMPARE(dialog.Button2->text(), QStringLiteral("Cancel"));
        QVERIFY(dialog.Button1->geometry().top() > previousBottom);
        QVERIFY(dialog.Button2->isDefault());
        QVERIFY(!dialog.Button1->isDefault());
        QCOMPARE(dialog.focusWidget(), dialog.Button2);
        // Cancel is the first stop of the tab order, OK the next.
        QWidget* stop = &dialog;
        do
            stop = stop->nextInFocusChain();
        while (!(stop->focusPolicy() & Qt::TabFocus));
        QCOMPARE(stop, dialog.Button2);
        dialog.Button2->setFocus();
        QTest::keyClick(dialog.Button2, Qt::Key_Tab);
        QCOMPARE(dialog.focusWidget(), dialog.Button1);
    }

    void cautionDialogAnswers_data() {
        QTest::addColumn<int>("how");
        QTest::addColumn<int>("result");
        QTest::newRow("Enter") << 0 << int(QDialog::Rejected);
        QTest::newRow("OK") << 1 << int(QDialog::Accepted);
        QTest::newRow("Cancel") << 2 << int(QDialog::Rejected);
        QTest::newRow("title bar close") << 3 << int(QDialog::Rejected);
        QTest::newRow("Escape") << 4 << int(QDialog::Rejected);
    }
    void cautionDialogAnswers() {
        QFETCH(int, how);
        QFETCH(int, result);
        TForm1 form;
        form.show();
        TForm4 dialog(&form);
        const int answer = execWith(&dialog, [&] {
            switch (how) {
            case 0:
                pressEnter(&dialog);
                break;
            case 1:
                QTest::mouseClick(dialog.Button1, Qt::LeftButton);
                break;
            case 2:
                QTest::mouseClick(dialog.Button2, Qt::LeftButton);
                break;
            case 3:
                dialog.close();
                break;
            case 4:
                QTest::keyClick(&dialog, Qt::Key_Escape);
                break;
            }
        });
        QCOMPARE(answer, result);
    }

    void everyShowingStartsOnCancel() {
        TForm1 form;
        form.show();
        TForm4 dialog(&form);
        // Tab to OK and Enter: that confirms.
        QCOMPARE(execWith(&dialog,
                          [&] {
                              dialog.Button1->setFocus();
                              pressEnter(&dialog);
                          }),
                 int(QDialog::Accepted));
        // Shown again, Enter alone cancels.
        QCOMPARE(execWith(&dialog, [&] { pressEnter(&dialog); }), int(QDialog::Rejected));
    }

    void cautionDialogSitsOnTheMainWindow() {
        TForm1 form;
        form.show();
        TForm4 dialog(&form);
        QPoint centre;
        execWith(&dialog, [&] { centre = dialog.frameGeometry().center(); });
        const QPoint expected = form.frameGeometry().center();
        QVERIFY2((centre - expected).manhattanLength() <= 4,
                 qPrintable(QStringLiteral("%1,%2 vs %3,%4")
                                .arg(centre.x())
                                .arg(centre.y())
                                .arg(expected.x())
                                .arg(expected.y())));
    }

    void enterInTheCautionStopsTheUpload() {
        MessageRecorder messages;
        TForm1 form;
        form.show();
        SmtpPeer peer;
        peer.setScript(SmtpPeer::normalScript());
        Form4 = new TForm4(&form);
        form.SMTPB1Click();
        form.Edit3->setText(QStringLiteral("127.0.0.1"));
        form.Edit8->setText(QStringLiteral("me@example.com"));
        form.ClientSocket3->setPort(peer.port());

        QTimer::singleShot(0, Form4, [] { pressEnter(Form4); });
        form.Button1Click();
        QTest::qWait(100);
        QCOMPARE(peer.connections(), 0);
        QVERIFY(form.Button1->isEnabled());
        QVERIFY(!form.Upload().Smtp.Running());

        // OK goes on: the upload runs to its end.
        QTimer::singleShot(0, Form4, [] { QTest::mouseClick(Form4->Button1, Qt::LeftButton); });
        form.Button1Click();
        QVERIFY(!form.Button1->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(form.Button1->isEnabled(), 15000);
        QCOMPARE(peer.connections(), 1);
        QCOMPARE(form.ListBox1->count(), 1);
        QVERIFY(messages.texts().isEmpty());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(ModeSwitchTest)
#include "modeswitch_test.moc"
