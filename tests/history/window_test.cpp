#include "QuillmetConfig.h"
#include "core/measure/RunResult.h"
#include "support/MessageRecorder.h"
#include "support/TempWorkDir.h"
#include "window/main/quillmetUnit1.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>
#include <optional>

namespace {
const QString kStale = QStringLiteral("clipboard before");

QString sample(const char* path) {
    return QStringLiteral("http://") + QString::fromUtf8(qmconfig::SampleHost) +
           QString::fromLatin1(path);
}

QStringList linesOf(const QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

void fill(QListWidget* list, int count) {
    for (int i = 0; i < count; ++i)
        list->addItem(QStringLiteral("line%1").arg(i));
}

QString clipboardText() {
    return QGuiApplication::clipboard()->text();
}

// Each operation has a button and a menu item; both must do the same.
enum class Via { Button, Menu };
} // namespace

Q_DECLARE_METATYPE(Via)

class HistoryWindowTest : public QObject {
    Q_OBJECT

private:
    static void copyVia(TForm1& form, Via via) {
        if (via == Via::Button)
            QTest::mouseClick(form.Button4, Qt::LeftButton);
        else
            form.N5->trigger();
    }
    static void deleteSelectedVia(TForm1& form, Via via) {
        if (via == Via::Button)
            QTest::mouseClick(form.Button3, Qt::LeftButton);
        else
            form.L1->trigger();
    }
    static void addVia() { QTest::addColumn<Via>("via"); }
    static void rowsVia(const char* name, auto&& addRest) {
        addRest(QTest::newRow(qPrintable(QStringLiteral("%1, button").arg(name))) << Via::Button);
        addRest(QTest::newRow(qPrintable(QStringLiteral("%1, menu").arg(name))) << Via::Menu);
    }

private slots:
    void init() {
        m_cwd.emplace();
        QGuiApplication::clipboard()->setText(kStale);
    }
    void cleanup() { m_cwd.reset(); }

    // --- copy ---
    void copyPutsEveryLineWithCrLf_data() {
        addVia();
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("text");
        const auto rows = {std::tuple{"empty", QStringList{}, QString()},
                           std::tuple{"one line", QStringList{"host,a"}, QString("host,a\r\n")},
                           std::tuple{"three lines", QStringList{"a", "*b", "**c"},
                                      QString("a\r\n*b\r\n**c\r\n")}};
        for (const auto& [name, lines, text] : rows)
            rowsVia(name, [&](QTestData& row) { row << lines << text; });
    }
    void copyPutsEveryLineWithCrLf() {
        QFETCH(Via, via);
        QFETCH(QStringList, lines);
        QFETCH(QString, text);
        TForm1 form;
        form.show();
        form.ListBox1->addItems(lines);
        if (!lines.isEmpty())
            form.ListBox1->setCurrentRow(0); // the selection plays no part
        copyVia(form, via);
        QCOMPARE(clipboardText(), text);
        QCOMPARE(linesOf(form.ListBox1), lines);
    }

    // --- delete the selected line ---
    void deleteWithoutSelectionChangesNothing_data() {
        addVia();
        QTest::addColumn<bool>("currentWithoutSelection");
        rowsVia("no current line", [](QTestData& row) { row << false; });
        rowsVia("current line not selected", [](QTestData& row) { row << true; });
    }
    void deleteWithoutSelectionChangesNothing() {
        QFETCH(Via, via);
        QFETCH(bool, currentWithoutSelection);
        MessageRecorder messages;
        TForm1 form;
        form.show();
        fill(form.ListBox1, 3);
        if (currentWithoutSelection)
            form.ListBox1->setCurrentRow(1, QItemSelectionModel::NoUpdate);
        QVERIFY(form.ListBox1->selectedItems().isEmpty());
        deleteSelectedVia(form, via);
        QCOMPARE(linesOf(form.ListBox1), QStringList({"line0", "line1", "line2"}));
        QVERIFY(messages.texts().isEmpty());
    }

    void deleteRemovesExactlyTheSelectedLine_data() {
        addVia();
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("left");
        rowsVia("first", [](QTestData& r) { r << 0 << QStringList{"line1", "line2", "line3"}; });
        rowsVia("middle", [](QTestData& r) { r << 2 << QStringList{"line0", "line1", "line3"}; });
        rowsVia("last", [](QTestData& r) { r << 3 << QStringList{"line0", "line1", "line2"}; });
    }
    void deleteRemovesExactlyTheSelectedLine() {
        QFETCH(Via, via);
        QFETCH(int, row);
        QFETCH(QStringList, left);
        TForm1 form;
        form.show();
        fill(form.ListBox1, 4);
        form.ListBox1->setCurrentRow(row);
        QCOMPARE(form.ListBox1->selectedItems().size(), 1);
        deleteSelectedVia(form, via);
        QCOMPARE(linesOf(form.ListBox1), left);
        // Nothing is selected afterwards: a second delete removes nothing.
        QVERIFY(form.ListBox1->selectedItems().isEmpty());
        deleteSelectedVia(form, via);
        QCOMPARE(linesOf(form.ListBox1), left);
    }

    void deleteOnlyLine() {
        TForm1 form;
        form.show();
        fill(form.ListBox1, 1);
        form.ListBox1->setCurrentRow(0);
        form.L1->trigger();
        QCOMPARE(form.ListBox1->count(), 0);
    }

    // --- append with a cap ---
    void appendKeepsTheCap_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("firstGone");
        QTest::newRow("101st download line") << 100 << kDownloadHistoryCap << 100 << true;
        QTest::newRow("download below the cap") << 99 << kDownloadHistoryCap << 100 << false;
        QTest::newRow("download onto 150 loaded") << 150 << kDownloadHistoryCap << 150 << true;
        QTest::newRow("upload onto 50") << 50 << kUploadHistoryCap << 50 << true;
        QTest::newRow("upload onto 80") << 80 << kUploadHistoryCap << 80 << true;
        QTest::newRow("upload onto 49") << 49 << kUploadHistoryCap << 50 << false;
        QTest::newRow("upload onto none") << 0 << kUploadHistoryCap << 1 << false;
    }
    void appendKeepsTheCap() {
        QFETCH(int, before);
        QFETCH(int, cap);
        QFETCH(int, after);
        QFETCH(bool, firstGone);
        TForm1 form;
        fill(form.ListBox1, before);
        form.AppendHistoryLine(QStringLiteral("new"), cap);
        QCOMPARE(form.ListBox1->count(), after);
        QCOMPARE(form.ListBox1->item(after - 1)->text(), QStringLiteral("new"));
        if (before > 1)
            QCOMPARE(form.ListBox1->item(0)->text(),
                     firstGone ? QStringLiteral("line1") : QStringLiteral("line0"));
    }

    void capsAreOneHundredForDownloadsAndFiftyForUploads() {
        QCOMPARE(kDownloadHistoryCap, 100);
        QCOMPARE(kUploadHistoryCap, 50);
    }

    // --- delete all ---
    void deleteAllEmptiesAndResetsTheHeading_data() {
        addVia();
        QTest::addColumn<int>("lines");
        rowsVia("three lines", [](QTestData& r) { r << 3; });
        rowsVia("empty list", [](QTestData& r) { r << 0; });
    }
    void deleteAllEmptiesAndResetsTheHeading() {
        QFETCH(Via, via);
        QFETCH(int, lines);
        TForm1 form;
        form.show();
        fill(form.ListBox1, lines);
        form.Label2->setText(QStringLiteral("something else"));
        if (via == Via::Button)
            QTest::mouseClick(form.Button2, Qt::LeftButton);
        else
            form.D2->trigger();
        QCOMPARE(form.ListBox1->count(), 0);
        QCOMPARE(form.Label2->text(), QStringLiteral("測定履歴"));
    }

    // --- presets ---
    void presetsWriteTheirSampleUrl_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("url");
        const std::pair<const char*, const char*> rows[] = {
            {"DTI8184KBN1", "/qm/qm15M.jpg"},
            {"CommufaC1", "/qm/qm8M.jpg"},
            {"USEN1", "/qm/qm4M.jpg"},
            {"WebARENAW1", "/qm/qm2M.jpg"},
            {"QuillmetJPEG4111KBU1", "/qm/qm2M.jpg"},
            {"QuillmetJPEG989KBV2", "/qm/qm1M.jpg"},
            {"QuillmetJPEG989KBV1", "/qm/qm500K.jpg"},
            {"Serverisland110", "/qm/qm200K.jpg"},
            {"Quillmetjpg1", "/qm/qm100K.jpg"}};
        for (const auto& [name, path] : rows)
            QTest::newRow(name) << name << sample(path);
    }
    void presetsWriteTheirSampleUrl() {
        QFETCH(QString, action);
        QFETCH(QString, url);
        for (bool enabled : {true, false}) {
            TForm1 form;
            form.Edit7->setText(QStringLiteral("http://other/x.jpg"));
            form.Edit7->setEnabled(enabled); // a timer schedule disables the box
            auto* a = form.findChild<QAction*>(action);
            QVERIFY(a);
            a->trigger();
            QCOMPARE(form.Edit7->text(), url);
            QCOMPARE(form.Edit7->isEnabled(), enabled);
        }
    }

    // --- saved URLs ---
    void slotsSaveUrlAndCaption_data() {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("caption");
        QTest::newRow("slot 3, host and path") << 3 << "http://host/x/y.jpg"
                                               << "host(&C)";
        QTest::newRow("slot 1, no slash") << 1 << "http://host"
                                          << "(&A)";
        QTest::newRow("slot 2") << 2 << "http://b.example:8080/qm/a.jpg"
                                << "b.example:8080(&B)";
        QTest::newRow("slot 4") << 4 << "http://日本.jp/d.jpg"
                                << "日本.jp(&D)";
        QTest::newRow("slot 5") << 5 << "http://e/"
                                << "e(&G)";
    }
    void slotsSaveUrlAndCaption() {
        QFETCH(int, slot);
        QFETCH(QString, url);
        QFETCH(QString, caption);
        MessageRecorder messages;
        TForm1 form;
        const Slot s = slotOf(form, slot);
        form.Edit7->setText(url);
        s.save->trigger();
        QCOMPARE(s.urlStore->text(), url);
        QCOMPARE(s.captionStore->text(), caption);
        QCOMPARE(s.menu->title(), caption);
        QVERIFY(messages.texts().isEmpty());
        // Another URL in the box, then the recall gives the saved one back.
        form.Edit7->setText(QStringLiteral("http://elsewhere/z.jpg"));
        s.recall->trigger();
        QCOMPARE(form.Edit7->text(), url);
        // The other slots are untouched.
        for (int other = 1; other <= 5; ++other) {
            if (other == slot)
                continue;
            QCOMPARE(slotOf(form, other).urlStore->text(), sample("/qm/qm100K.jpg"));
        }
    }

    void badUrlsAreRefusedAndTheSlotStays_data() {
        QTest::addColumn<QString>("url");
        QTest::newRow("https") << "https://host/x.jpg";
        QTest::newRow("upper case") << "HTTP://host/x.jpg";
        QTest::newRow("empty") << "";
        QTest::newRow("shorter than seven") << "http:/";
    }
    void badUrlsAreRefusedAndTheSlotStays() {
        QFETCH(QString, url);
        for (int slot = 1; slot <= 5; ++slot) {
            MessageRecorder messages;
            TForm1 form;
            const Slot s = slotOf(form, slot);
            form.Edit7->setText(QStringLiteral("http://kept/a.jpg"));
            s.save->trigger();
            const QString keptCaption = s.captionStore->text();
            QCOMPARE(keptCaption, QStringLiteral("kept") + s.suffix);
            form.Edit7->setText(url);
            s.save->trigger();
            QCOMPARE(messages.texts(),
                     QStringList{QStringLiteral("URLを正しく入力してください。")});
            QCOMPARE(s.urlStore->text(), QStringLiteral("http://kept/a.jpg"));
            QCOMPARE(s.captionStore->text(), keptCaption);
            QCOMPARE(s.menu->title(), keptCaption);
            QCOMPARE(form.Edit7->text(), url);
        }
    }

    void unsavedSlotsRecallTheSmallSample() {
        for (int slot = 1; slot <= 5; ++slot) {
            TForm1 form;
            form.Edit7->setText(QStringLiteral("http://other/x.jpg"));
            form.Edit7->setEnabled(false);
            slotOf(form, slot).recall->trigger();
            QCOMPARE(form.Edit7->text(), sample("/qm/qm100K.jpg"));
            QVERIFY(!form.Edit7->isEnabled());
        }
    }

    // --- fastest record ---
    void toggleShowsAndHidesTheRecord_data() {
        addVia();
        rowsVia("toggle", [](QTestData&) {});
    }
    void toggleShowsAndHidesTheRecord() {
        QFETCH(Via, via);
        TForm1 form;
        form.show();
        auto toggle = [&] {
            if (via == Via::Button)
                QTest::mouseClick(form.Button6, Qt::LeftButton);
            else
                form.onoffR1->trigger();
        };
        QCOMPARE(form.Label44->text(), QStringLiteral("false"));
        toggle();
        QCOMPARE(form.Label44->text(), QStringLiteral("true"));
        for (QLabel* l : {form.Label41, form.Label42, form.Label43})
            QVERIFY(l->isVisible());
        QVERIFY(form.Label44->isHidden());
        toggle();
        QCOMPARE(form.Label44->text(), QStringLiteral("false"));
        for (QLabel* l : {form.Label41, form.Label42, form.Label43})
            QVERIFY(l->isHidden());
    }

    void toggleFromAnyOtherTextTurnsOff() {
        TForm1 form;
        form.Label44->setText(QStringLiteral("junk"));
        form.Label41->show();
        form.Button6Click();
        QCOMPARE(form.Label44->text(), QStringLiteral("false"));
        QVERIFY(form.Label41->isHidden());
    }

    void clearResetsTheRecordAndKeepsVisibility_data() {
        QTest::addColumn<bool>("shown");
        QTest::newRow("display on") << true;
        QTest::newRow("display off") << false;
    }
    void clearResetsTheRecordAndKeepsVisibility() {
        QFETCH(bool, shown);
        TForm1 form;
        form.show();
        if (shown)
            form.Button6Click();
        form.Label42->setText(QStringLiteral("8192.0"));
        form.Label43->setText(QStringLiteral("8.000"));
        form.T1->trigger();
        QCOMPARE(form.Label42->text(), QStringLiteral("0"));
        QCOMPARE(form.Label43->text(), QStringLiteral("0"));
        for (QLabel* l : {form.Label41, form.Label42, form.Label43})
            QCOMPARE(l->isVisible(), shown);
        QCOMPARE(form.Label44->text(), shown ? QStringLiteral("true") : QStringLiteral("false"));
    }

    void offerTakesOnlyStrictlyFasterCleanResults_data() {
        QTest::addColumn<bool>("displayOn");
        QTest::addColumn<int>("mark");
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("kbps");
        QTest::addColumn<bool>("taken");
        QTest::newRow("faster") << true << 0 << "8192.0"
                                << "8192.1" << true;
        QTest::newRow("equal") << true << 0 << "8192.0"
                               << "8192.0" << false;
        QTest::newRow("slower") << true << 0 << "8192.0"
                                << "100.0" << false;
        QTest::newRow("marked 1, faster") << true << 1 << "8192.0"
                                          << "99999.9" << false;
        QTest::newRow("marked 2, faster") << true << 2 << "8192.0"
                                          << "99999.9" << false;
        QTest::newRow("display off, faster") << false << 0 << "8192.0"
                                             << "99999.9" << false;
        QTest::newRow("cleared, above 0") << true << 0 << "0"
                                          << "0.1" << true;
        QTest::newRow("comma record, faster") << true << 0 << "8192,0"
                                              << "8192.1" << true;
        QTest::newRow("comma record, equal") << true << 0 << "8192,0"
                                             << "8192.0" << false;
        QTest::newRow("garbage record") << true << 0 << "???"
                                        << "0.1" << true;
        QTest::newRow("garbage result") << true << 0 << "-5"
                                        << "INF" << false;
    }
    void offerTakesOnlyStrictlyFasterCleanResults() {
        QFETCH(bool, displayOn);
        QFETCH(int, mark);
        QFETCH(QString, record);
        QFETCH(QString, kbps);
        QFETCH(bool, taken);
        MessageRecorder messages;
        TForm1 form;
        form.Label44->setText(displayOn ? QStringLiteral("true") : QStringLiteral("false"));
        form.FormCreate();
        form.Label42->setText(record);
        form.Label43->setText(QStringLiteral("old Mbps"));
        form.Edit5->setText(kbps);
        form.Edit9->setText(QStringLiteral("8.000"));
        const QColor normal = form.Edit5->palette().color(QPalette::Text);
        QVERIFY(normal != QColor(255, 0, 0));

        form.OfferToFastestRecord(mark);

        QCOMPARE(form.Label42->text(), taken ? kbps : record);
        QCOMPARE(form.Label43->text(),
                 taken ? QStringLiteral("8.000") : QStringLiteral("old Mbps"));
        const QColor expected = taken ? QColor(255, 0, 0) : normal;
        QCOMPARE(form.Edit5->palette().color(QPalette::Text), expected);
        QCOMPARE(form.Edit9->palette().color(QPalette::Text), expected);
        QCOMPARE(form.Edit5->text(), kbps);
        QVERIFY(messages.texts().isEmpty());
    }

    void recordKeptWhileOffShowsAgainWhenOn() {
        TForm1 form;
        form.show();
        form.Label42->setText(QStringLiteral("500.0"));
        form.Label43->setText(QStringLiteral("0.488"));
        form.Edit5->setText(QStringLiteral("900.0"));
        form.Edit9->setText(QStringLiteral("0.879"));
        form.OfferToFastestRecord(0);
        QCOMPARE(form.Label42->text(), QStringLiteral("500.0"));
        form.onoffR1->trigger();
        QVERIFY(form.Label42->isVisible());
        QCOMPARE(form.Label42->text(), QStringLiteral("500.0"));
        QCOMPARE(form.Label43->text(), QStringLiteral("0.488"));
        // Now on, the same result becomes the record.
        form.OfferToFastestRecord(0);
        QCOMPARE(form.Label42->text(), QStringLiteral("900.0"));
        QCOMPARE(form.Label43->text(), QStringLiteral("0.879"));
    }

    void offerWorksBeforeTheWindowIsShown() {
        // A command-line run may complete while the window is not shown.
        TForm1 form;
        form.Label44->setText(QStringLiteral("true"));
        form.FormCreate();
        QVERIFY(!form.isVisible());
        form.Edit5->setText(QStringLiteral("1.0"));
        form.Edit9->setText(QStringLiteral("0.001"));
        form.OfferToFastestRecord(0);
        QCOMPARE(form.Label42->text(), QStringLiteral("1.0"));
    }

    // --- Ctrl+C from the keyboard ---
    void ctrlCCopiesAnEditBoxSelection_data() {
        QTest::addColumn<QString>("box");
        QTest::newRow("URL box") << "Edit7";
        QTest::newRow("read-only result box") << "Edit5";
    }
    void ctrlCCopiesAnEditBoxSelection() {
        QFETCH(QString, box);
        TForm1 form;
        showActive(form);
        fill(form.ListBox1, 2);
        auto* edit = form.findChild<QLineEdit*>(box);
        QVERIFY(edit);
        edit->setText(QStringLiteral("http://selected/x.jpg"));
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->setSelection(7, 8);
        QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboardText(), QStringLiteral("selected"));
    }

    void ctrlCCopiesALogSelection() {
        TForm1 form;
        showActive(form);
        fill(form.ListBox1, 2);
        form.RichEdit1->show();
        form.RichEdit1->setPlainText(QStringLiteral("220 ready\n250 ok"));
        form.RichEdit1->setFocus();
        QTRY_VERIFY(form.RichEdit1->hasFocus());
        QTextCursor c = form.RichEdit1->textCursor();
        c.setPosition(0);
        c.setPosition(3, QTextCursor::KeepAnchor);
        form.RichEdit1->setTextCursor(c);
        QTest::keyClick(form.RichEdit1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboardText(), QStringLiteral("220"));
    }

    void ctrlCCopiesTheHistoryOtherwise_data() {
        QTest::addColumn<QString>("focus");
        QTest::newRow("URL box, no selection") << "Edit7";
        QTest::newRow("result box, no selection") << "Edit5";
        QTest::newRow("history list with a selected line") << "ListBox1";
        QTest::newRow("start button") << "Button1";
    }
    void ctrlCCopiesTheHistoryOtherwise() {
        QFETCH(QString, focus);
        TForm1 form;
        showActive(form);
        fill(form.ListBox1, 2);
        form.ListBox1->setCurrentRow(1);
        form.Edit7->setText(QStringLiteral("http://host/x.jpg"));
        form.Edit5->setText(QStringLiteral("12.5"));
        auto* w = form.findChild<QWidget*>(focus);
        QVERIFY(w);
        w->setFocus();
        QTRY_VERIFY(w->hasFocus());
        if (auto* e = qobject_cast<QLineEdit*>(w))
            e->deselect();
        QTest::keyClick(w, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboardText(), QStringLiteral("line0\r\nline1\r\n"));
    }

private:
    struct Slot {
        QAction* save;
        QAction* recall;
        QLabel* urlStore;
        QLabel* captionStore;
        QMenu* menu;
        QString suffix;
    };
    static Slot slotOf(TForm1& f, int slot) {
        switch (slot) {
        case 1:
            return {f.URLI1, f.URL1, f.Label15, f.Label33, f.N1A1, QStringLiteral("(&A)")};
        case 2:
            return {f.URLI2, f.URLJ1, f.Label31, f.Label34, f.N2B1, QStringLiteral("(&B)")};
        case 3:
            return {f.URLI3, f.URLJ2, f.Label32, f.Label35, f.N3C1, QStringLiteral("(&C)")};
        case 4:
            return {f.URLI4, f.URLJ3, f.Label37, f.Label39, f.N4D1, QStringLiteral("(&D)")};
        default:
            return {f.URLI5, f.URLJ4, f.Label38, f.Label3a, f.N5G1, QStringLiteral("(&G)")};
        }
    }
    static void showActive(TForm1& form) {
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_MAIN(HistoryWindowTest)
#include "window_test.moc"
