#include "core/platform/WindowTimer.h"
#include "support/MessageRecorder.h"
#include "support/TempWorkDir.h"
#include "window/dialogs/quillmetUnit6.h"
#include "window/main/quillmetUnit1.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <optional>

namespace {
const QString kUploadMessage =
    QStringLiteral("URLを入力してください。\n「簡易測定」メニューを使うと簡単です。");
const QString kHttpStatus = QStringLiteral("エラー：http://から始まるURLを入れてください");
const QString kImageStatus = QStringLiteral("エラー：画像ファイルを指定してください。");

// The main window and its timer settings, idle.
struct Window {
    Window() { form.SetStatus(QStringLiteral("before")); }
    // Chooses by item index; -1 leaves a list without a choice.
    void choose(int minutes, int perBurst, int bursts) {
        dialog.ComboBox1->setCurrentIndex(minutes);
        dialog.ComboBox2->setCurrentIndex(perBurst);
        dialog.ComboBox3->setCurrentIndex(bursts);
    }
    void toUploadMode() {
        form.WEBB1->setChecked(false);
        form.SMTPB1->setChecked(true);
    }
    // Nothing of a schedule is on, and the start controls are usable.
    void verifyIdle() const {
        QCOMPARE(form.Label50->text(), QStringLiteral("0"));
        QCOMPARE(form.Label51->text(), QStringLiteral("0"));
        QCOMPARE(form.Label52->text(), QStringLiteral("0"));
        QVERIFY(!form.Timer3->Enabled());
        QVERIFY(!form.Timer4->Enabled());
        QVERIFY(form.Label8->isHidden());
        QVERIFY(form.Button1->isEnabled());
        QVERIFY(form.E1->isEnabled());
        QVERIFY(form.Edit7->isEnabled());
    }
    TForm1 form;
    TForm6 dialog{&form};
};

QStringList items(const QComboBox* box) {
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}
} // namespace

class Form6Test : public QObject {
    Q_OBJECT

private slots:
    void init() { m_cwd.emplace(); }
    void cleanup() { m_cwd.reset(); }

    void dialogHoldsThreeEmptyListsLabelsAndButtons() {
        Window w;
        TForm6& d = w.dialog;
        QCOMPARE(d.windowTitle(), QStringLiteral("タイマー設定"));
        QCOMPARE(d.parentWidget(), &w.form);
        QCOMPARE(items(d.ComboBox1), QStringList({"30", "60", "90", "120"}));
        QCOMPARE(items(d.ComboBox2), QStringList({"1", "2", "3"}));
        QCOMPARE(items(d.ComboBox3), QStringList({"1", "2", "3", "4", "5", "6", "7"}));
        for (QComboBox* box : {d.ComboBox1, d.ComboBox2, d.ComboBox3}) {
            QCOMPARE(box->currentIndex(), -1);
            QVERIFY(!box->isEditable());
        }
        QCOMPARE(d.Label1->text(), QStringLiteral("分置きに"));
        QCOMPARE(d.Label2->text(), QStringLiteral("回の測定を"));
        QCOMPARE(d.Label3->text(), QStringLiteral("回繰り返す"));
        QCOMPARE(d.Button1->text(), QStringLiteral("タイマーON"));
        QCOMPARE(d.Button2->text(), QStringLiteral("タイマーOFF"));
        QVERIFY(d.Button2->isDefault());
        QVERIFY(!d.Button1->isDefault());
        for (const char* name : {"ComboBox1", "ComboBox2", "ComboBox3", "Label1", "Label2",
                                 "Label3", "Button1", "Button2"})
            QVERIFY2(d.findChild<QWidget*>(QString::fromLatin1(name)), name);

        // Each label follows its list on the same row, and no caption is cut.
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const std::pair<QComboBox*, QLabel*> rows[] = {
            {d.ComboBox1, d.Label1}, {d.ComboBox2, d.Label2}, {d.ComboBox3, d.Label3}};
        for (const auto& [box, label] : rows) {
            QVERIFY(label->x() >= box->geometry().right());
            QVERIFY(label->geometry().intersects(
                QRect(label->x(), box->y(), label->width(), box->height())));
            QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
            QVERIFY(box->width() >= box->sizeHint().width());
        }
        for (QPushButton* b : {d.Button1, d.Button2})
            QVERIFY(b->width() >= b->sizeHint().width());
        const QRect inside = d.rect();
        for (QWidget* child : d.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(inside.contains(child->geometry()), qPrintable(child->objectName()));
    }

    void timerMenuStopsTheScheduleAndShowsTheSettings() {
        Window w;
        w.form.Edit7->setText(QStringLiteral("http://127.0.0.1/a.jpg"));
        w.choose(0, 1, 2);
        w.dialog.Button1->click();
        QCOMPARE(w.form.Label50->text(), QStringLiteral("1"));
        QVERIFY(w.dialog.isHidden());

        w.form.TimerMeas->trigger();
        QVERIFY(!w.form.Timer3->Enabled());
        QVERIFY(!w.form.Timer4->Enabled());
        QCOMPARE(w.form.Timer3->Interval(), 0);
        QCOMPARE(w.form.Timer4->Interval(), 0);
        for (QLabel* l : {w.form.Label50, w.form.Label51, w.form.Label52})
            QCOMPARE(l->text(), QStringLiteral("0"));
        QVERIFY(w.form.Edit7->isEnabled());
        // The indicator and the start controls wait for ON or OFF.
        QVERIFY(!w.form.Label8->isHidden());
        QVERIFY(!w.form.Button1->isEnabled());
        QVERIFY(!w.form.E1->isEnabled());
        QVERIFY(w.dialog.isVisible());
        QVERIFY(!w.dialog.isModal());
        // The choices are still there.
        QCOMPARE(w.dialog.ComboBox2->currentText(), QStringLiteral("2"));

        w.dialog.Button2->click();
        QVERIFY(w.dialog.isHidden());
        w.verifyIdle();
    }

    void incompleteSelectionClosesSilently_data() {
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("perBurst");
        QTest::addColumn<int>("bursts");
        QTest::addColumn<QString>("url");
        QTest::newRow("nothing chosen") << -1 << -1 << -1 << "http://127.0.0.1/a.jpg";
        QTest::newRow("no minutes") << -1 << 0 << 0 << "http://127.0.0.1/a.jpg";
        QTest::newRow("no runs") << 0 << -1 << 0 << "http://127.0.0.1/a.jpg";
        QTest::newRow("no repetitions") << 0 << 0 << -1 << "http://127.0.0.1/a.jpg";
        // The selection is looked at first: an empty URL brings no message then.
        QTest::newRow("no repetitions, no URL") << 3 << 2 << -1 << "";
    }
    void incompleteSelectionClosesSilently() {
        QFETCH(int, minutes);
        QFETCH(int, perBurst);
        QFETCH(int, bursts);
        QFETCH(QString, url);
        MessageRecorder messages;
        Window w;
        w.form.Edit7->setText(url);
        w.choose(minutes, perBurst, bursts);
        w.dialog.show();
        w.dialog.Button1->click();
        QVERIFY(w.dialog.isHidden());
        QCOMPARE(messages.texts(), QStringList{});
        QCOMPARE(w.form.StatusText(), QStringLiteral("before"));
        w.verifyIdle();
    }

    void refusedStartsSayWhy_data() {
        QTest::addColumn<bool>("uploadMode");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("status");
        QTest::newRow("upload mode")
            << true << "http://127.0.0.1/a.jpg" << kUploadMessage << "before";
        // The mode is looked at before the URL.
        QTest::newRow("upload mode, other scheme")
            << true << "ftp://127.0.0.1/a.jpg" << kUploadMessage << "before";
        QTest::newRow("empty URL") << false << "" << kUploadMessage << "before";
        QTest::newRow("upper-case scheme") << false << "HTTP://127.0.0.1/a.jpg"
                                           << "" << kHttpStatus;
        QTest::newRow("https") << false << "https://127.0.0.1/a.jpg"
                               << "" << kHttpStatus;
        QTest::newRow("scheme only in part") << false << "http:/127.0.0.1/a.jpg"
                                             << "" << kHttpStatus;
        // The scheme is looked at before the last letter.
        QTest::newRow("https, not an image") << false << "https://127.0.0.1/"
                                             << "" << kHttpStatus;
        QTest::newRow("upper-case JPG") << false << "http://127.0.0.1/a.JPG"
                                        << "" << kImageStatus;
        QTest::newRow("page") << false << "http://127.0.0.1/index.html"
                              << "" << kImageStatus;
        QTest::newRow("trailing blank") << false << "http://127.0.0.1/a.jpg "
                                        << "" << kImageStatus;
    }
    void refusedStartsSayWhy() {
        QFETCH(bool, uploadMode);
        QFETCH(QString, url);
        QFETCH(QString, message);
        QFETCH(QString, status);
        MessageRecorder messages;
        Window w;
        if (uploadMode)
            w.toUploadMode();
        w.form.Edit7->setText(url);
        w.choose(1, 1, 1);
        w.dialog.show();
        w.dialog.Button1->click();
        QVERIFY(w.dialog.isHidden());
        QCOMPARE(messages.texts(), message.isEmpty() ? QStringList{} : QStringList{message});
        QCOMPARE(w.form.StatusText(), status);
        w.verifyIdle();
    }

    void onStartsTheScheduleOneIntervalAhead_data() {
        QTest::addColumn<int>("minutesIndex");
        QTest::addColumn<int>("interval");
        QTest::addColumn<QString>("perBurst");
        QTest::addColumn<QString>("bursts");
        QTest::newRow("30 min, 1 run, 1 time") << 0 << 1800000 << "1"
                                               << "1";
        QTest::newRow("60 min, 2 runs, 3 times") << 1 << 3600000 << "2"
                                                 << "3";
        QTest::newRow("90 min, 3 runs, 5 times") << 2 << 5400000 << "3"
                                                 << "5";
        QTest::newRow("120 min, 3 runs, 7 times") << 3 << 7200000 << "3"
                                                  << "7";
    }
    void onStartsTheScheduleOneIntervalAhead() {
        QFETCH(int, minutesIndex);
        QFETCH(int, interval);
        QFETCH(QString, perBurst);
        QFETCH(QString, bursts);
        MessageRecorder messages;
        Window w;
        w.form.Edit7->setText(QStringLiteral("http://127.0.0.1/chart.png"));
        w.choose(minutesIndex, perBurst.toInt() - 1, bursts.toInt() - 1);
        w.dialog.show();
        w.dialog.Button1->click();
        QVERIFY(w.dialog.isHidden());
        QCOMPARE(messages.texts(), QStringList{});
        // No error: the status tells when the first burst comes and how many are left
        // (the clock may have passed a minute since the click).
        const auto waiting = [&](qint64 ago) {
            const QString next = QDateTime::currentDateTime()
                                     .addMSecs(interval - ago)
                                     .toString(QStringLiteral("HH:mm"));
            return QStringLiteral("タイマー測定：次回 %1、残り %2回").arg(next, bursts);
        };
        QVERIFY2(w.form.StatusText() == waiting(0) || w.form.StatusText() == waiting(1000),
                 qPrintable(w.form.StatusText()));
        QCOMPARE(w.form.Label8->toolTip(), w.form.StatusText());
        QVERIFY(!w.form.Label8->isHidden());
        QVERIFY(!w.form.Button1->isEnabled());
        QVERIFY(!w.form.E1->isEnabled());
        QVERIFY(!w.form.Edit7->isEnabled());
        QCOMPARE(w.form.Label50->text(), QStringLiteral("1"));
        QCOMPARE(w.form.Label51->text(), perBurst);
        QCOMPARE(w.form.Label52->text(), bursts);
        QCOMPARE(w.form.Timer3->Interval(), interval);
        QCOMPARE(w.form.Timer4->Interval(), 3000);
        QVERIFY(w.form.Timer3->Enabled());
        QVERIFY(!w.form.Timer4->Enabled());

        w.form.TimerMeas->trigger();
        w.dialog.Button2->click();
        w.verifyIdle();
    }

    void offWorksWithNoScheduleOn() {
        Window w;
        w.form.Button1->setEnabled(false);
        w.form.E1->setEnabled(false);
        w.form.Label8->show();
        w.dialog.show();
        w.dialog.Button2Click();
        QVERIFY(w.dialog.isHidden());
        w.verifyIdle();
    }

    void dialogFollowsTheGlobalWindowsWhenGivenNone() {
        MessageRecorder messages;
        TForm1 form;
        Form1 = &form;
        TForm6 dialog;
        Form6 = &dialog;
        form.Edit7->setText(QStringLiteral("http://127.0.0.1/a.jpg"));
        dialog.ComboBox1->setCurrentIndex(0);
        dialog.ComboBox2->setCurrentIndex(0);
        dialog.ComboBox3->setCurrentIndex(0);
        dialog.Button1Click();
        QCOMPARE(form.Label50->text(), QStringLiteral("1"));
        form.TimerMeasClick(); // not a child of the window: found as Form6
        QVERIFY(dialog.isVisible());
        dialog.Button2Click();
        QCOMPARE(form.Label50->text(), QStringLiteral("0"));
        Form6 = nullptr;
        Form1 = nullptr;
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_MAIN(Form6Test)
#include "form6_test.moc"
