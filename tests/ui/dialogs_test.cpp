#include "QuillmetConfig.h"
#include "support/MessageRecorder.h"
#include "support/TestHelpers.h"
#include "window/Application.h"
#include "window/dialogs/quillmetUnit2.h"
#include "window/dialogs/quillmetUnit3.h"
#include "window/main/quillmetUnit1.h"
#include "window/widgets/ClickableLabel.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>
#include <functional>

namespace {
QString config(const char* value) {
    return QString::fromUtf8(value);
}

// Runs the action while the dialog's modal exec() is on the stack, then lets the
// caller's open function return; records whether the dialog was the active modal one.
void whileModal(QDialog* dialog, const std::function<void()>& openIt,
                const std::function<void()>& action, bool* wasModal) {
    QTimer::singleShot(0, dialog, [=] {
        *wasModal = dialog->isVisible() && QApplication::activeModalWidget() == dialog;
        action();
        if (dialog->isVisible())
            dialog->reject();
    });
    openIt();
}

// "ヘルプ(&H)" -> "ヘルプ", "測定履歴をエクスポート(&X)…" -> "測定履歴をエクスポート"
QString plain(const QString& caption) {
    QString s = caption;
    s.remove(QRegularExpression(QStringLiteral("\\(&.\\)…?$")));
    return s;
}

void collectCommands(QMenu* menu, const QString& path, QStringList& out) {
    for (QAction* a : menu->actions()) {
        if (a->isSeparator())
            continue;
        const QString here = path + QLatin1Char('-') + plain(a->text());
        if (a->menu())
            collectCommands(a->menu(), here, out);
        else
            out << here;
    }
}

QStringList usageLines() {
    return Form3->Memo1->toPlainText().split(QLatin1Char('\n'));
}
} // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QDir::setCurrent(m_dir.path()); // no state file
        CreateForms({});
        QVERIFY(Form1 && Form2 && Form3);
        Form1->show();
        m_log = m_dir.filePath(QStringLiteral("opened.log"));
        m_recorder = writeScript(m_dir, "recorder",
                                 "printf '%s\\n' \"$1\" >> '" + m_log.toLocal8Bit() + "'\n");
        m_broken = writeScript(m_dir, "broken", "exit 4\n");
    }

    void cleanupTestCase() { DestroyForms(); }

    void cleanup() {
        qunsetenv("QM_BROWSER_OPENER");
        QFile::remove(m_log);
    }

    void clickers_data() {
        QTest::addColumn<QString>("caller");
        QTest::addColumn<QString>("url");
        QTest::newRow("WebW1") << "WebW1" << config(qmconfig::HomeUrl);
        QTest::newRow("KAVJOURNALWebB1") << "KAVJOURNALWebB1" << config(qmconfig::AuthorUrl);
        QTest::newRow("Label16") << "Label16" << config(qmconfig::HomeUrl);
        QTest::newRow("Form2.Label5") << "Label5" << config(qmconfig::HomeUrl);
        QTest::newRow("Form2.Label6") << "Label6" << config(qmconfig::HomeUrl);
        QTest::newRow("Form2.Label7") << "Label7" << config(qmconfig::AuthorUrl);
    }

    // A failed hand-over shows one box and changes nothing; the about box stays open.
    void failedHandOverShowsOneBox_data() { clickers_data(); }
    void failedHandOverShowsOneBox() {
        QFETCH(QString, caller);
        qputenv("QM_BROWSER_OPENER", m_broken.toLocal8Bit());
        Form1->Edit7->setText(QStringLiteral("http://127.0.0.1/keep.jpg"));
        const QString status = Form1->StatusText();
        MessageRecorder boxes;
        bool aboutOpenAfterClick = true;
        clickOnce(caller, &aboutOpenAfterClick);
        QCOMPARE(boxes.texts().size(), 1);
        QVERIFY2(boxes.texts().first().startsWith(QStringLiteral("EBrowserError ")),
                 qPrintable(boxes.texts().first()));
        QVERIFY(boxes.texts().first().size() > int(strlen("EBrowserError ")));
        QVERIFY(aboutOpenAfterClick);
        QCOMPARE(Form1->Edit7->text(), QStringLiteral("http://127.0.0.1/keep.jpg"));
        QCOMPARE(Form1->StatusText(), status);
    }

    // Every click is its own hand-over of the caller's URL.
    void eachClickHandsOverItsUrl_data() { clickers_data(); }
    void eachClickHandsOverItsUrl() {
        QFETCH(QString, caller);
        QFETCH(QString, url);
        qputenv("QM_BROWSER_OPENER", m_recorder.toLocal8Bit());
        MessageRecorder boxes;
        bool aboutOpen = true;
        clickOnce(caller, &aboutOpen, 2);
        QVERIFY2(boxes.texts().isEmpty(), qPrintable(boxes.texts().join('\n')));
        QFile log(m_log);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(log.readAll()), url + '\n' + url + '\n');
    }

    void testImageLinksFillTheUrlBox_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("url");
        QTest::newRow("Label3") << "Label3" << config(qmconfig::BigJpgUrl);
        QTest::newRow("Label4") << "Label4" << config(qmconfig::SmlJpgUrl);
    }
    void testImageLinksFillTheUrlBox() {
        QFETCH(QString, label);
        QFETCH(QString, url);
        QVERIFY(url.endsWith(label == "Label3" ? "/big.jpg" : "/sml.jpg"));
        Form1->Edit7->setText(QStringLiteral("http://127.0.0.1/before.jpg"));
        MessageRecorder boxes;
        bool modal = false;
        bool openAfterClick = false;
        QString urlWhileOpen;
        QTimer::singleShot(0, Form2, [&] {
            modal = Form2->isVisible() && QApplication::activeModalWidget() == Form2;
            QTest::mouseClick(Form2->findChild<ClickableLabel*>(label), Qt::LeftButton);
            openAfterClick = Form2->isVisible();
            urlWhileOpen = Form1->Edit7->text();
            QTest::mouseClick(Form2->Button1, Qt::LeftButton);
        });
        Form1->About1->trigger(); // returns once the box has closed
        QVERIFY(modal);
        QVERIFY(openAfterClick);
        QCOMPARE(urlWhileOpen, url);
        QVERIFY(!Form2->isVisible());
        QCOMPARE(Form2->result(), int(QDialog::Accepted));
        QCOMPARE(Form1->Edit7->text(), url);
        QVERIFY(boxes.texts().isEmpty());
    }

    void aboutBoxCaptionsAndStyles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("pixelSize"); // 0: not fixed
        QTest::addColumn<bool>("link");     // hand cursor
        QTest::addColumn<QColor>("color");  // invalid: the ordinary text colour
        QTest::addColumn<QString>("style"); // u underlined, b bold, i italic
        QTest::newRow("Label1") << "Label1"
                                << "Quillmet Ver.1.90" << 24 << false << QColor() << "";
        QTest::newRow("Label2") << "Label2"
                                << "for Windows 95/98/Me/2000/XP/Vista/7/8" << 19 << false
                                << QColor() << "";
        QTest::newRow("Label4") << "Label4" << config(qmconfig::AuthorName) << 16 << false
                                << QColor() << "";
        QTest::newRow("Label5") << "Label5"
                                << "URL : " + config(qmconfig::HomeUrl) << 0 << true
                                << QColor(Qt::blue) << "u";
        QTest::newRow("Label6") << "Label6" << config(qmconfig::PublisherName) << 0 << true
                                << QColor(Qt::red) << "bi";
        QTest::newRow("Label7") << "Label7"
                                << "blog : " + config(qmconfig::AuthorUrl) << 0 << true
                                << QColor(Qt::blue) << "u";
    }
    void aboutBoxCaptionsAndStyles() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(int, pixelSize);
        QFETCH(bool, link);
        QFETCH(QColor, color);
        QFETCH(QString, style);
        auto* l = Form2->findChild<QLabel*>(name);
        QVERIFY(l);
        QCOMPARE(l->text(), caption);
        if (pixelSize)
            QCOMPARE(l->font().pixelSize(), pixelSize);
        QCOMPARE(l->cursor().shape(), link ? Qt::PointingHandCursor : Qt::ArrowCursor);
        if (color.isValid())
            QCOMPARE(l->palette().color(QPalette::WindowText), color);
        QCOMPARE(l->font().underline(), style.contains('u'));
        QCOMPARE(l->font().bold(), style.contains('b'));
        QCOMPARE(l->font().italic(), style.contains('i'));
    }

    void aboutBoxTitleAndNoticeLine() {
        QCOMPARE(Form2->windowTitle(), QStringLiteral("バージョン情報"));
        QCOMPARE(Form2->Button1->text(), QStringLiteral("OK"));
        QCOMPARE(Form2->Label3->font().pixelSize(), 16);
        QCOMPARE(Form2->Label3->cursor().shape(), Qt::ArrowCursor);
        // The notice names its years of publication.
        QVERIFY(Form2->Label3->text().contains(QRegularExpression(QStringLiteral("\\d{4}"))));
    }

    void usageWindowIsModalAndReadOnly() {
        bool modal = false;
        bool readOnly = false;
        whileModal(
            Form3, [] { Form1->Tutorial1->trigger(); },
            [&] {
                readOnly = Form3->Memo1->isReadOnly();
                QTest::mouseClick(Form3->Button1, Qt::LeftButton);
            },
            &modal);
        QVERIFY(modal);
        QVERIFY(readOnly);
        QVERIFY(!Form3->isVisible());
        QCOMPARE(Form3->result(), int(QDialog::Accepted));
        QCOMPARE(Form3->windowTitle(), QStringLiteral("使い方"));
        QCOMPARE(Form3->Memo1->frameShape(), QFrame::NoFrame);
        QCOMPARE(Form3->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(Form3->Memo1->palette().color(QPalette::Base),
                 Form3->palette().color(QPalette::Window));
    }

    void usageTextHas140LinesAndSectionsInOrder() {
        const QStringList lines = usageLines();
        QCOMPARE(lines.size(), 140);
        QCOMPARE(Form3->Memo1->document()->blockCount(), 140);

        // A banner of stars around the quick start.
        const int banner = lines.indexOf(
            QRegularExpression(QStringLiteral("^☆[☆　]*とりあえず、すぐに測定する方法[☆　]*☆$")));
        QVERIFY(banner > 0);
        QVERIFY(lines[banner - 1].contains(QRegularExpression(QStringLiteral("^☆+$"))));
        QVERIFY(lines[banner + 1].contains(QRegularExpression(QStringLiteral("^☆+$"))));

        int previous = banner;
        for (const QString& heading :
             {QStringLiteral("★詳しくは、ReadMe.htmをご覧ください。★"), QStringLiteral("■概要"),
              QStringLiteral("■使い方"), QStringLiteral("■メニュー"),
              QStringLiteral("■Quillmetホームページ"), QStringLiteral("■注意"),
              QStringLiteral("■連絡先")}) {
            const int at = lines.indexOf(heading);
            QVERIFY2(at > previous, qPrintable(heading));
            QCOMPARE(lines.count(heading), 1);
            previous = at;
        }
        // The quick start names the menu and the button it relies on.
        const QString quick = lines.mid(banner, 8).join('\n');
        QVERIFY(quick.contains(QStringLiteral("「簡易測定」")));
        QVERIFY(quick.contains(QStringLiteral("「測定開始」")));
    }

    // The menu section describes exactly the commands the main window has.
    void menuSectionListsEveryMenuCommand() {
        QStringList commands;
        for (QAction* top : Form1->MainMenu1->actions())
            collectCommands(top->menu(), plain(top->text()), commands);
        QCOMPARE(commands.size(), 40);

        const QStringList lines = usageLines();
        const int from = lines.indexOf(QStringLiteral("■メニュー"));
        const int to = lines.indexOf(QStringLiteral("■Quillmetホームページ"));
        QStringList entries;
        for (int i = from + 1; i < to; ++i) {
            if (lines[i].contains(QStringLiteral("・・・")))
                entries << lines[i];
        }
        for (const QString& command : commands) {
            const QRegularExpression entry(QStringLiteral("^　*") +
                                           QRegularExpression::escape(command) +
                                           QStringLiteral("・・・\\S"));
            QVERIFY2(entries.filter(entry).size() == 1, qPrintable(command));
        }
        QCOMPARE(entries.size(), commands.size());
    }

    void usageTextNamesThisPlatformAndConfiguredValues() {
        const QStringList lines = usageLines();
        const QString text = lines.join('\n');
        QVERIFY(!text.contains('{'));
        QVERIFY(text.contains(QStringLiteral("Linux")));
        QVERIFY(text.contains(QStringLiteral("qm1.dat")));
        QVERIFY(text.contains(config(qmconfig::SampleHost)));

        auto section = [&lines](const QString& heading) {
            const int at = lines.indexOf(heading);
            QStringList body;
            for (int i = at + 1; i < lines.size() && !lines[i].startsWith(QStringLiteral("■")); ++i)
                body << lines[i].trimmed();
            return body;
        };
        QVERIFY(
            section(QStringLiteral("■Quillmetホームページ")).contains(config(qmconfig::HomeUrl)));
        const QStringList contact = section(QStringLiteral("■連絡先"));
        QVERIFY(contact.contains(config(qmconfig::PublisherName)));
        QVERIFY(contact.contains(config(qmconfig::AuthorName)));
        QVERIFY(contact.contains(config(qmconfig::HomeUrl)));
    }

    // No line needs wrapping in the window: the text reads as written.
    void usageLinesFitTheWindow() {
        Form3->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form3));
        const QFontMetrics metrics(Form3->Memo1->font());
        const qreal room =
            Form3->Memo1->viewport()->width() - 2 * Form3->Memo1->document()->documentMargin();
        for (const QString& line : usageLines())
            QVERIFY2(metrics.horizontalAdvance(line) < room, qPrintable(line));
        Form3->hide();
    }

private:
    // Clicks the caller `times` times; for the about box's links the box is open modally
    // meanwhile, and *aboutOpen tells whether it was still open after the clicks.
    void clickOnce(const QString& caller, bool* aboutOpen, int times = 1) {
        if (auto* action = Form1->findChild<QAction*>(caller)) {
            for (int i = 0; i < times; ++i)
                action->trigger();
            return;
        }
        if (caller == QLatin1String("Label16")) {
            for (int i = 0; i < times; ++i)
                QTest::mouseClick(Form1->Label16, Qt::LeftButton);
            return;
        }
        auto* label = Form2->findChild<ClickableLabel*>(caller);
        QVERIFY(label);
        bool modal = false;
        whileModal(
            Form2, [] { Form1->About1Click(); },
            [&] {
                for (int i = 0; i < times; ++i)
                    QTest::mouseClick(label, Qt::LeftButton);
                *aboutOpen = Form2->isVisible();
            },
            &modal);
        QVERIFY(modal);
    }

    QTemporaryDir m_dir;
    QString m_log;
    QString m_recorder;
    QString m_broken;
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
