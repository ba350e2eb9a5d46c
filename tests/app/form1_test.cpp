#include "core/measure/DownloadRun.h"
#include "core/platform/TerminationSignals.h"
#include "core/platform/WindowTimer.h"
#include "support/MessageRecorder.h"
#include "support/ProcessSignals.h"
#include "support/TempWorkDir.h"
#include "window/main/quillmetUnit1.h"
#include "window/widgets/ExceptionReport.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>
#include <csignal>
#include <optional>

namespace {
QString captionOf(QObject* o) {
    if (auto* l = qobject_cast<QLabel*>(o))
        return l->text();
    if (auto* b = qobject_cast<QPushButton*>(o))
        return b->text();
    if (auto* a = qobject_cast<QAction*>(o))
        return a->text();
    if (auto* m = qobject_cast<QMenu*>(o))
        return m->title();
    return QStringLiteral("<no caption>");
}
} // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void init() { m_cwd.emplace(); }
    void cleanup() { m_cwd.reset(); }

    void controlsHaveTheirCaptionsHintsAndVisibility_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<bool>("shown");
        const QString sample = QStringLiteral("http://localhost:8080/qm/qm100K.jpg");
        const struct {
            const char* name;
            QString caption;
            QString hint;
            bool shown;
        } rows[] = {
            {"Label1", "URL（例 ：http://localhost:8080/qm/qm4M.jpg）", "", true},
            {"Label12", "SMTPサーバ", "", false},
            {"Label13", "あなたのメールアドレス", "", false},
            {"Label9", "", "", true},
            {"Button1", "測定開始", "ベンチマークを開始", true},
            {"Label8", "タイマー", "", false},
            {"Label5", "測定日時", "", true},
            {"Label10", "コネクト時間", "", true},
            {"Label11", "msec", "", true},
            {"Label6", "受信量", "", true},
            {"Label3", "byte", "", true},
            {"Label7", "推定受信スピード", "", true},
            {"Label4", "kbps", "", true},
            {"Label14", "Mbps", "", true},
            {"Button6", "最速記録on/off", "", true},
            {"Label41", "最速記録", "", false},
            {"Label42", "0", "", false},
            {"Label43", "0", "", false},
            {"Label22", "1回目", "", true},
            {"Label23", "2回目", "", true},
            {"Label24", "3回目", "", true},
            {"Label25", "4回目", "", true},
            {"Label26", "5回目", "", true},
            {"Label20", "kbps", "", true},
            {"Label21", "Mbps", "", true},
            {"Label2", "測定履歴", "", true},
            {"Button2", "すべて削除", "", true},
            {"Button3", "一行削除", "測定履歴の選択した行を削除", true},
            {"Button4", "コピー", "測定履歴全体をクリップボードにコピー", true},
            {"Label16", "Quillmet Project", "", true},
            {"Label15", sample, "", false},
            {"Label31", sample, "", false},
            {"Label32", sample, "", false},
            {"Label37", sample, "", false},
            {"Label38", sample, "", false},
            {"Label33", "保存1(&A)", "", false},
            {"Label34", "保存2(&B)", "", false},
            {"Label35", "保存3(&C)", "", false},
            {"Label39", "保存4(&D)", "", false},
            {"Label3a", "保存5(&G)", "", false},
            {"Label44", "false", "", false},
            {"Label50", "0", "", false},
            {"Label51", "0", "", false},
            {"Label52", "0", "", false},
        };
        for (const auto& r : rows)
            QTest::newRow(r.name) << r.name << r.caption << r.hint << r.shown;
    }
    void controlsHaveTheirCaptionsHintsAndVisibility() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, hint);
        QFETCH(bool, shown);
        TForm1 form;
        form.show();
        auto* w = form.findChild<QWidget*>(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(captionOf(w), caption);
        QCOMPARE(w->toolTip(), hint);
        QCOMPARE(w->isVisible(), shown);
        QVERIFY(w->isEnabled());
    }

    void boxesAreReadOnlyExceptTheInputs() {
        TForm1 form;
        form.show();
        for (const char* name :
             {"Edit6", "Edit1", "Edit2", "Edit5", "Edit9", "Edit10", "Edit11", "Edit12", "Edit13",
              "Edit14", "Edit15", "Edit16", "Edit17", "Edit18", "Edit19"}) {
            auto* e = form.findChild<QLineEdit*>(name);
            QVERIFY2(e && e->isReadOnly() && e->isVisible() && e->text().isEmpty(), name);
        }
        for (const char* name : {"Edit7", "Edit3", "Edit8"}) {
            auto* e = form.findChild<QLineEdit*>(name);
            QVERIFY2(e && !e->isReadOnly(), name);
        }
        QVERIFY(form.Edit7->isVisible());
        QVERIFY(!form.Edit7->testAttribute(Qt::WA_InputMethodEnabled));
        QVERIFY(form.Edit3->isHidden());
        QVERIFY(form.Edit8->isHidden());
        QVERIFY(form.RichEdit1->isHidden());
        QVERIFY(form.RichEdit1->isReadOnly());
        QCOMPARE(form.ListBox1->count(), 0);
        QCOMPARE(form.windowTitle(), QStringLiteral("Quillmet ver.1.90"));
        QCOMPARE(form.centralWidget()->size(), QSize(586, 490));
        QCOMPARE(form.minimumSize(), form.maximumSize()); // not resizable
    }

    void menusHaveTheirCaptionsAndShortcuts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("shortcut");
        const struct {
            const char* name;
            const char* parent;
            const char* caption;
            const char* shortcut;
        } rows[] = {
            {"File1", "MainMenu1", "ファイル(&F)", ""},
            {"X1", "File1", "測定履歴をエクスポート(&X)…", ""},
            {"Exit1", "File1", "終了(&E)", "Ctrl+Q"},
            {"Edit4", "MainMenu1", "編集(&E)", ""},
            {"N5", "Edit4", "測定履歴のコピー(&P)", "Ctrl+C"},
            {"L1", "Edit4", "測定履歴を一行削除(&L)", "Ctrl+D"},
            {"D2", "Edit4", "測定履歴をすべて削除(&D)", ""},
            {"G1", "Edit4", "測定履歴のグラフ(&G)", "Ctrl+G"},
            {"C1", "Edit4", "受信データをクリア(&C)", ""},
            {"onoffR1", "Edit4", "最速記録on/off(&R)", ""},
            {"T1", "Edit4", "最速記録クリア(&T)", ""},
            {"N1", "MainMenu1", "実行(&Z)", ""},
            {"E1", "N1", "測定開始(&E)", "Ctrl+E"},
            {"TimerMeas", "N1", "タイマー測定(&T)", ""},
            {"LineTest1", "N1", "回線品質測定(&Q)…", ""},
            {"K1", "MainMenu1", "簡易測定(&K)", ""},
            {"FTTH1", "K1", "高速（FTTH等）(&T)", ""},
            {"DTI8184KBN1", "FTTH1", "15MB(&R)", ""},
            {"CommufaC1", "FTTH1", "8MB(&C)", ""},
            {"USEN1", "FTTH1", "4MB(&Y)", ""},
            {"WebARENAW1", "FTTH1", "2MB(&W)", ""},
            {"ADSLU1", "K1", "中速（ADSL等）(&U)", ""},
            {"QuillmetJPEG4111KBU1", "ADSLU1", "2MB(&U)", ""},
            {"QuillmetJPEG989KBV2", "ADSLU1", "1MB(&X)", ""},
            {"QuillmetJPEG989KBV1", "ADSLU1", "500kB(&V)", ""},
            {"ISDNI1", "K1", "低速(&I)", ""},
            {"Serverisland110", "ISDNI1", "200kB(&R)", ""},
            {"Quillmetjpg1", "ISDNI1", "100KB(&W)", ""},
            {"URLH1", "K1", "URL保存(&H)", ""},
            {"N1A1", "URLH1", "保存1(&A)", ""},
            {"N2B1", "URLH1", "保存2(&B)", ""},
            {"N3C1", "URLH1", "保存3(&C)", ""},
            {"N4D1", "URLH1", "保存4(&D)", ""},
            {"N5G1", "URLH1", "保存5(&G)", ""},
            {"URL1", "N1A1", "保存URLの呼出し(&J)", ""},
            {"URLI1", "N1A1", "現在のURLの保存(&I)", ""},
            {"URLJ1", "N2B1", "保存URLの呼出し(&J)", ""},
            {"URLI2", "N2B1", "現在のURLの保存(&I)", ""},
            {"URLJ2", "N3C1", "保存URLの呼出し(&J)", ""},
            {"URLI3", "N3C1", "現在のURLの保存(&I)", ""},
            {"URLJ3", "N4D1", "URLの呼出し(&J)", ""},
            {"URLI4", "N4D1", "現在のURLの保存(&I)", ""},
            {"URLJ4", "N5G1", "URLの呼出し(&J)", ""},
            {"URLI5", "N5G1", "現在のURLの保存(&I)", ""},
            {"ServerSettings1", "K1", "測定サーバーの設定(&M)…", ""},
            {"UPDOWN1", "MainMenu1", "UP/DOWN(&S)", ""},
            {"WEBB1", "UPDOWN1", "Quillmet(ダウンロード)(&W)", ""},
            {"SMTPB1", "UPDOWN1", "メールベンチ(アップロード)(&S)", ""},
            {"Help1", "MainMenu1", "ヘルプ(&H)", ""},
            {"Tutorial1", "Help1", "使い方(&U)", ""},
            {"WebW1", "Help1", "Quillmetホームページ(Web)(&W)", ""},
            {"KAVJOURNALWebB1", "Help1", "KAV HOME PAGE(Web)(&B)", ""},
            {"About1", "Help1", "バージョン情報(&V)", ""},
        };
        for (const auto& r : rows)
            QTest::newRow(r.name) << r.name << r.parent << QString::fromUtf8(r.caption)
                                  << r.shortcut;
    }
    void menusHaveTheirCaptionsAndShortcuts() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QString, caption);
        QFETCH(QString, shortcut);
        TForm1 form;
        QAction* action = nullptr;
        if (auto* menu = form.findChild<QMenu*>(name)) {
            QCOMPARE(menu->title(), caption);
            action = menu->menuAction();
        } else {
            action = form.findChild<QAction*>(name);
            QVERIFY2(action, qPrintable(name));
            QCOMPARE(action->text(), caption);
            QCOMPARE(action->shortcut().toString(), shortcut);
        }
        // The item sits in the named parent menu (or the menu bar).
        QWidget* container = parent == QLatin1String("MainMenu1")
                                 ? static_cast<QWidget*>(form.MainMenu1)
                                 : form.findChild<QMenu*>(parent);
        QVERIFY(container);
        QVERIFY(container->actions().contains(action));
        QVERIFY(action->isEnabled());
    }

    void menuOrderAndSeparators() {
        TForm1 form;
        auto names = [](QWidget* w) {
            QStringList out;
            for (QAction* a : w->actions())
                out << (a->menu() ? a->menu()->objectName() : a->objectName());
            return out;
        };
        QCOMPARE(names(form.MainMenu1),
                 QStringList({"File1", "Edit4", "N1", "K1", "UPDOWN1", "Help1"}));
        QCOMPARE(names(form.File1), QStringList({"X1", "N7", "Exit1"}));
        QCOMPARE(names(form.Edit4),
                 QStringList({"N5", "L1", "D2", "G1", "N4", "C1", "N9", "onoffR1", "T1"}));
        QCOMPARE(names(form.N1), QStringList({"E1", "S1", "N3", "TimerMeas", "LineTest1"}));
        QCOMPARE(names(form.K1), QStringList({"FTTH1", "ADSLU1", "ISDNI1", "N11", "URLH1", "N12",
                                              "ServerSettings1"}));
        QCOMPARE(names(form.Help1),
                 QStringList({"Tutorial1", "N8", "WebW1", "KAVJOURNALWebB1", "N6", "About1"}));
        for (QAction* sep :
             {form.N7, form.N4, form.N9, form.N3, form.N11, form.N12, form.N8, form.N6})
            QVERIFY(sep->isSeparator());
        QVERIFY(form.WEBB1->isChecked());
        QVERIFY(!form.SMTPB1->isChecked());
    }

    void timersStartAsTheWindowDefines() {
        TForm1 form;
        QCOMPARE(form.Timer1->Interval(), 2500);
        QCOMPARE(form.Timer2->Interval(), 3000);
        QCOMPARE(form.Timer3->Interval(), 0);
        QCOMPARE(form.Timer4->Interval(), 0);
        for (WindowTimer* t : {form.Timer1, form.Timer2, form.Timer3, form.Timer4})
            QVERIFY(!t->Enabled());
    }

    void formCreateShowsRecordAndSlotNames() {
        TForm1 form;
        form.Label44->setText(QStringLiteral("true"));
        form.Label33->setText(QStringLiteral("host.example(&A)"));
        form.Label3a->setText(QStringLiteral("(&G)"));
        form.FormCreate();
        form.show();
        QVERIFY(form.Label41->isVisible());
        QVERIFY(form.Label42->isVisible());
        QVERIFY(form.Label43->isVisible());
        QCOMPARE(form.N1A1->title(), QStringLiteral("host.example(&A)"));
        QCOMPARE(form.N2B1->title(), QStringLiteral("保存2(&B)"));
        QCOMPARE(form.N5G1->title(), QStringLiteral("(&G)"));

        TForm1 other;
        other.Label44->setText(QStringLiteral("True")); // only exactly "true" shows it
        other.Label41->show();
        other.FormCreate();
        QVERIFY(other.Label41->isHidden());
    }

    void commandLineCount_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("started");
        QTest::addColumn<QString>("error");
        QTest::newRow("none") << QStringList{} << 0 << false << "";
        QTest::newRow("3") << QStringList{"3"} << 3 << true << "";
        QTest::newRow("0") << QStringList{"0"} << 0 << false << "";
        QTest::newRow("6") << QStringList{"6"} << 6 << false << "";
        QTest::newRow("-1") << QStringList{"-1"} << -1 << false << "";
        QTest::newRow("two arguments") << QStringList{"3", "2"} << 0 << false << "";
        QTest::newRow("abc") << QStringList{"abc"} << 0 << false << "'abc' は整数ではありません";
    }
    void commandLineCount() {
        QFETCH(QStringList, arguments);
        QFETCH(int, count);
        QFETCH(bool, started);
        QFETCH(QString, error);
        MessageRecorder messages;
        TForm1 form(arguments);
        Guarded([&] { form.FormCreate(); }); // start-up reports what escapes FormCreate
        QCOMPARE(form.RepeatCount(), count);
        // A started run meets the empty URL box: its check shows that it ran.
        QStringList expected;
        if (started)
            expected << QStringLiteral("URLを入力し、測定開始を押してください。\n"
                                       "「簡易測定」メニューを使うと簡単です。");
        if (!error.isEmpty())
            expected << error;
        QCOMPARE(messages.texts(), expected);
        QCOMPARE(form.StatusText(),
                 started ? QStringLiteral("エラー：URLを入れてください") : QString());

        // Step 6 runs only when the earlier steps did not fail.
        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
        QCOMPARE(form.Download().ResultMark(), error.isEmpty() ? 1 : 0);
    }

    void deactivationMarksTheRunButActivationDoesNot() {
        TForm1 form;
        form.FormCreate();
        emit qApp->applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(form.Download().ResultMark(), 0);
        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
        QCOMPARE(form.Download().ResultMark(), 1);
    }

    void clearReceivedDataRestoresTheRoundPanel_data() {
        QTest::addColumn<bool>("logShown");
        QTest::newRow("download layout") << false;
        QTest::newRow("upload layout") << true;
    }
    void clearReceivedDataRestoresTheRoundPanel() {
        QFETCH(bool, logShown);
        TForm1 form;
        form.show();
        for (std::size_t i = 0; i < 5; ++i) {
            form.KbpsBoxes[i]->setText(QStringLiteral("12.3"));
            form.MbpsBoxes[i]->setText(QStringLiteral("0.012"));
        }
        form.Edit5->setText(QStringLiteral("99.9"));
        form.Edit1->setText(QStringLiteral("42"));
        form.ListBox1->addItem(QStringLiteral("line"));
        form.RichEdit1->setPlainText(QStringLiteral("220 ready"));
        if (logShown) {
            for (std::size_t i = 0; i < 5; ++i) {
                form.KbpsBoxes[i]->hide();
                form.MbpsBoxes[i]->hide();
            }
            for (QLabel* l : {form.Label20, form.Label21, form.Label22, form.Label23, form.Label24})
                l->hide();
            form.RichEdit1->show();
        }
        form.C1Click();
        for (std::size_t i = 0; i < 5; ++i) {
            QVERIFY(form.KbpsBoxes[i]->isVisible() && form.KbpsBoxes[i]->text().isEmpty());
            QVERIFY(form.MbpsBoxes[i]->isVisible() && form.MbpsBoxes[i]->text().isEmpty());
        }
        for (QLabel* l : {form.Label20, form.Label21, form.Label22, form.Label23, form.Label24,
                          form.Label25, form.Label26})
            QVERIFY(l->isVisible());
        QVERIFY(form.RichEdit1->isHidden());
        QVERIFY(form.RichEdit1->toPlainText().isEmpty());
        // No result box, no history and no run state is touched.
        QCOMPARE(form.Edit5->text(), QStringLiteral("99.9"));
        QCOMPARE(form.Edit1->text(), QStringLiteral("42"));
        QCOMPARE(form.ListBox1->count(), 1);
    }

    void formCloseResetsTheScheduleAndEnablesTheUrlBox() {
        TForm1 form;
        form.show();
        form.Timer3->setInterval(1800000);
        form.Timer4->setInterval(3000);
        form.Timer3->setEnabled(true);
        form.Timer4->setEnabled(true);
        form.Label50->setText(QStringLiteral("1"));
        form.Label51->setText(QStringLiteral("2"));
        form.Label52->setText(QStringLiteral("3"));
        form.Edit7->setEnabled(false);
        form.Timer1->setEnabled(true);
        QSignalSpy closed(&form, &TForm1::closed);
        form.Exit1->trigger();
        QCOMPARE(closed.count(), 1);
        QVERIFY(form.Closed());
        QVERIFY(!form.Timer3->Enabled());
        QVERIFY(!form.Timer4->Enabled());
        QCOMPARE(form.Timer3->Interval(), 0);
        QCOMPARE(form.Timer4->Interval(), 0);
        for (QLabel* l : {form.Label50, form.Label51, form.Label52})
            QCOMPARE(l->text(), QStringLiteral("0"));
        QVERIFY(form.Edit7->isEnabled());
        QVERIFY(form.Timer1->Enabled()); // left alone
        form.close();                    // a second close does not run FormClose again
        QCOMPARE(closed.count(), 1);
    }

    void historyAppendRemovesAtMostOneLine() {
        TForm1 form;
        for (int i = 0; i < 150; ++i)
            form.ListBox1->addItem(QString::number(i));
        form.AppendHistoryLine(QStringLiteral("new"), 100);
        QCOMPARE(form.ListBox1->count(), 150);
        QCOMPARE(form.ListBox1->item(0)->text(), QStringLiteral("1"));
        QCOMPARE(form.ListBox1->item(149)->text(), QStringLiteral("new"));
    }

    void sigtermClosesTheWindowInOrder() {
        TForm1 form;
        form.show();
        InstallTerminationSignals([&form](int) { form.close(); });
        form.Label50->setText(QStringLiteral("1"));
        form.Edit7->setEnabled(false);
        QSignalSpy closed(&form, &TForm1::closed);
        ::raise(SIGTERM);
        QTRY_COMPARE(closed.count(), 1);
        QCOMPARE(form.Label50->text(), QStringLiteral("0"));
        QVERIFY(form.Edit7->isEnabled());
    }

    void programExitsZeroOnSignals_data() {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void programExitsZeroOnSignals() {
        QFETCH(int, sig);
        QProcess program;
        program.setWorkingDirectory(m_cwd->path());
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.start(qEnvironmentVariable("QM_BINARY_DIR") + QStringLiteral("/quillmet"));
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY(CatchesSignal(program.processId(), sig));
        ::kill(static_cast<pid_t>(program.processId()), sig);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
