// One upload through the main window to the mail server on 127.0.0.1, port 25.
// Run by postfix_e2e.sh once it has started postfix; QM_E2E_ADDRESS names the
// recipient, QM_E2E_HOLD_MS keeps the window up afterwards (for a screenshot).
#include "core/measure/RunResult.h"
#include "core/net/ScktComp.h"
#include "support/MessageRecorder.h"
#include "window/dialogs/quillmetUnit4.h"
#include "window/main/quillmetUnit1.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

class PostfixUpload : public QObject {
    Q_OBJECT

private slots:
    void uploadIsAcceptedAndRecorded() {
        const QString address = qEnvironmentVariable("QM_E2E_ADDRESS");
        QVERIFY2(!address.isEmpty(), "QM_E2E_ADDRESS is not set");
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());

        MessageRecorder messages;
        TForm1 form;
        Form4 = new TForm4(&form);
        form.show();
        form.SMTPB1->trigger();
        form.Edit3->setText(QStringLiteral("127.0.0.1"));
        form.Edit8->setText(address);
        QCOMPARE(form.ClientSocket3->Port(), 25);

        // The start button, then OK in the caution.
        QTimer::singleShot(0, Form4, [] { QTest::mouseClick(Form4->Button1, Qt::LeftButton); });
        form.Button1->click();
        QVERIFY(!form.Button1->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(form.Button1->isEnabled(), 60000);

        const QStringList log = form.RichEdit1->toPlainText().split(QLatin1Char('\n'));
        const qsizetype end = log.lastIndexOf(QStringLiteral("."));
        QVERIFY2(end > 0, qPrintable(log.mid(log.size() - 20).join(QLatin1Char('\n'))));
        const QStringList tail = log.mid(end + 1);
        QVERIFY2(tail.size() == 5, qPrintable(tail.join(" | ")));
        QVERIFY2(tail[0].startsWith(QStringLiteral("250 ")), qPrintable(tail[0]));
        QCOMPARE(tail[1], QStringLiteral("/* アップロード測定終了. */"));
        QCOMPARE(tail[2], QStringLiteral("QUIT"));
        QVERIFY2(tail[3].startsWith(QStringLiteral("221 ")), qPrintable(tail[3]));
        QCOMPARE(tail[4], QStringLiteral("/* 正常終了しました. */"));
        QVERIFY(log.contains(QStringLiteral("RCPT to:") + address));

        QCOMPARE(form.StatusText(), QStringLiteral("測定終了"));
        QVERIFY2(messages.texts().isEmpty(), qPrintable(messages.texts().join(" | ")));
        QCOMPARE(form.ListBox1->count(), 1);
        const QString line = form.ListBox1->item(0)->text();
        QVERIFY(line.startsWith(QStringLiteral("*upload(310KB),") + form.Edit6->text() + ","));
        QCOMPARE(line.split(QLatin1Char(',')).size(), 10);
        // The whole body went out: 6000 test lines of 53 bytes, the end line and the two
        // leading lines.
        QVERIFY(form.Edit2->text().toInt() > 6000 * 53 + 3 + 40);
        qInfo("%s", qPrintable(tail[0]));
        qInfo("history: %s", qPrintable(line));

        const int hold = qEnvironmentVariableIntValue("QM_E2E_HOLD_MS");
        if (hold > 0) {
            form.raise();
            QTest::qWait(hold);
        }
    }
};

QTEST_MAIN(PostfixUpload)
#include "postfix_upload.moc"
