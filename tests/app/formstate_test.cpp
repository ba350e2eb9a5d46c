// The main window's state across a close and the next start.
#include "core/state/StateFile.h"
#include "support/MessageRecorder.h"
#include "support/TempWorkDir.h"
#include "window/main/quillmetUnit1.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <optional>

namespace {
const QString kStateFile = QStringLiteral("qm1.dat");

QStringList historyOf(const TForm1& form) {
    QStringList lines;
    for (int i = 0; i < form.ListBox1->count(); ++i)
        lines << form.ListBox1->item(i)->text();
    return lines;
}

// A history line as a run writes it, padded to the given length in CP932 bytes
// (ASCII only, one byte a character).
QString lineOfBytes(int bytes) {
    QString line = QStringLiteral("localhost:8080,2026-12-08(火) 09:15:05,62,msec,1048576,byte,");
    const int japaneseExtra = 1; // "火" is two bytes in CP932 but one character here
    line += QString(bytes - static_cast<int>(line.size()) - japaneseExtra, QLatin1Char('9'));
    return line;
}
} // namespace

class FormStateTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_cwd.emplace(); }
    void cleanup() { m_cwd.reset(); }

    void everythingTheUserHadComesBack() {
        MessageRecorder messages;
        const QStringList history = {
            QStringLiteral("*localhost:8080,2026-12-08(火) 09:15:05,62,msec,102400,byte,"
                           "8192.0,kbps,8.000,Mbps"),
            lineOfBytes(255), lineOfBytes(256),
            QStringLiteral("*upload(310KB),2026-12-08(火) 09:20:00,15,msec,312103,byte,"
                           "1219.1,kbps,1.191,Mbps")};
        {
            TForm1 form;
            form.FormCreate();
            form.Edit7->setText(QStringLiteral("http://測定.example/qm/qm1M.jpg"));
            form.Edit3->setText(QStringLiteral("smtp.example.jp"));
            form.Edit8->setText(QStringLiteral("user@example.jp"));
            form.ListBox1->addItems(history);
            form.URLI3Click(); // slot 3 takes the URL, captioned by its host
            form.Edit7->setText(QStringLiteral("http://localhost:8080/qm/qm15M.jpg"));
            form.Button6Click(); // record display on
            form.Label42->setText(QStringLiteral("98765.4"));
            form.Label43->setText(QStringLiteral("96.451"));
            form.close();
        }
        QVERIFY(QFile::exists(kStateFile));

        TForm1 next;
        next.FormCreate();
        // A good file stays; the lock file beside it is the window's.
        QCOMPARE(QDir().entryList(QDir::Files),
                 (QStringList{kStateFile, kStateFile + QStringLiteral(".lock")}));
        QCOMPARE(next.Edit7->text(), QStringLiteral("http://localhost:8080/qm/qm15M.jpg"));
        QCOMPARE(next.Edit3->text(), QStringLiteral("smtp.example.jp"));
        QCOMPARE(next.Edit8->text(), QStringLiteral("user@example.jp"));
        QVERIFY(next.Edit3->isHidden()); // the program always starts in download mode
        QCOMPARE(historyOf(next), history);
        QCOMPARE(next.Label32->text(), QStringLiteral("http://測定.example/qm/qm1M.jpg"));
        QCOMPARE(next.Label35->text(), QStringLiteral("測定.example(&C)"));
        QCOMPARE(next.N3C1->title(), QStringLiteral("測定.example(&C)"));
        QCOMPARE(next.N1A1->title(), QStringLiteral("保存1(&A)"));
        QCOMPARE(next.Label44->text(), QStringLiteral("true"));
        QVERIFY(!next.Label41->isHidden());
        QVERIFY(!next.Label42->isHidden());
        QCOMPARE(next.Label42->text(), QStringLiteral("98765.4"));
        QCOMPARE(next.Label43->text(), QStringLiteral("96.451"));
        QCOMPARE(messages.texts(), QStringList{});

        // The 255-byte line went out as a short string, the 256-byte one as a long one.
        QFile file(kStateFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.contains(QByteArray("\x06\xff", 2) + lineOfBytes(255).left(14).toLatin1()));
        QVERIFY(bytes.contains(QByteArray("\x0c\x00\x01\x00\x00", 5) +
                               lineOfBytes(256).left(14).toLatin1()));
    }

    void emptyBoxesAndRecordOffStayEmptyAndOff() {
        {
            TForm1 form;
            form.FormCreate();
            form.close();
        }
        TForm1 next;
        next.FormCreate();
        QCOMPARE(next.Edit7->text(), QString());
        QCOMPARE(next.ListBox1->count(), 0);
        QVERIFY(next.Label41->isHidden());
        QCOMPARE(next.Label44->text(), QStringLiteral("false"));
        QCOMPARE(next.Label15->text(), QStringLiteral("http://localhost:8080/qm/qm100K.jpg"));
    }

    void closedInUploadModeStartsInDownloadMode() {
        {
            TForm1 form;
            form.FormCreate();
            form.Edit7->setText(QStringLiteral("http://localhost:8080/qm/qm1M.jpg"));
            form.Edit3->setText(QStringLiteral("127.0.0.1"));
            // The upload layout: the URL box hidden, the mail fields shown.
            form.Edit7->hide();
            form.Edit3->show();
            form.Edit8->show();
            form.close();
        }
        TForm1 next;
        next.FormCreate();
        QVERIFY(!next.Edit7->isHidden());
        QCOMPARE(next.Edit7->text(), QStringLiteral("http://localhost:8080/qm/qm1M.jpg"));
        QVERIFY(next.Edit3->isHidden());
        QVERIFY(next.Edit8->isHidden());
        QCOMPARE(next.Edit3->text(), QStringLiteral("127.0.0.1"));
    }

    void fileCutInTheHistoryKeepsWhatCameBefore() {
        {
            TForm1 form;
            form.FormCreate();
            form.Edit3->setText(QStringLiteral("smtp.example.jp"));
            form.Edit8->setText(QStringLiteral("user@example.jp"));
            form.Edit7->setText(QStringLiteral("http://server/x.jpg"));
            form.Label15->setText(QStringLiteral("http://saved/one.jpg"));
            form.Label31->setText(QStringLiteral("http://saved/two.jpg"));
            form.Label44->setText(QStringLiteral("true"));
            form.ListBox1->addItems({QStringLiteral("first line of history"),
                                     QStringLiteral("second line of history")});
            form.close();
        }
        QFile file(kStateFile);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray bytes = file.readAll();
        const qsizetype cut = bytes.indexOf("second line");
        QVERIFY(cut > 0);
        QVERIFY(file.resize(cut));
        file.close();

        MessageRecorder messages;
        TForm1 next;
        next.FormCreate();
        QCOMPARE(next.Edit3->text(), QStringLiteral("smtp.example.jp"));
        QCOMPARE(next.Edit8->text(), QStringLiteral("user@example.jp"));
        QCOMPARE(next.Label15->text(), QStringLiteral("http://saved/one.jpg"));
        QCOMPARE(next.Edit7->text(), QStringLiteral("http://server/x.jpg"));
        QVERIFY(!next.Edit7->isHidden());
        QCOMPARE(next.ListBox1->count(), 0);
        QCOMPARE(next.Label31->text(), QStringLiteral("http://localhost:8080/qm/qm100K.jpg"));
        QCOMPARE(next.Label44->text(), QStringLiteral("false"));
        QVERIFY(next.Label41->isHidden());
        QCOMPARE(messages.texts(), QStringList{}); // no message for a damaged file

        // It went aside whole before any save could replace it, and the status bar says where.
        const QStringList kept = QDir().entryList({QStringLiteral("qm1.dat.damaged-*")});
        QCOMPARE(kept.size(), 1);
        QCOMPARE(next.StatusText(),
                 QStringLiteral("qm1.dat を読み込めなかったため %1 として残しました").arg(kept[0]));
        QFile keptFile(kept[0]);
        QVERIFY(keptFile.open(QIODevice::ReadOnly));
        QCOMPARE(keptFile.readAll(), bytes.left(cut));
        // The close saves what was read beside it.
        next.close();
        StateSnapshot saved;
        QCOMPARE(ReadStateFile(kStateFile, saved).status, StateReadResult::Status::Read);
        QCOMPARE(saved.Edit3.Text, QStringLiteral("smtp.example.jp"));
        QCOMPARE(saved.Edit7.Text, QStringLiteral("http://server/x.jpg"));
        QCOMPARE(QDir().entryList(QDir::Files),
                 (QStringList{kStateFile, kept[0], kStateFile + QStringLiteral(".lock")}));
    }

    // A failed save after a history line: the reason in the status bar, no box, and the next
    // line saves everything once the cause is gone.
    void failedSaveAfterALineIsToldAndTriedAgain() {
        MessageRecorder messages;
        TForm1 form;
        form.FormCreate();
        QVERIFY(QDir().mkpath(kStateFile + QStringLiteral("/blocker")));
        form.AppendHistoryLine(QStringLiteral("first line"), 100);
        QCOMPARE(form.StatusText(), QStringLiteral("履歴を保存できませんでした: %1")
                                        .arg(QString::fromLocal8Bit(std::strerror(EISDIR))));

        QVERIFY(QDir(kStateFile).removeRecursively());
        form.SetStatus(QStringLiteral("測定終了"));
        form.AppendHistoryLine(QStringLiteral("second line"), 100);
        QCOMPARE(form.StatusText(), QStringLiteral("測定終了"));
        StateSnapshot state;
        QCOMPARE(ReadStateFile(kStateFile, state).status, StateReadResult::Status::Read);
        QCOMPARE(state.ListBox1,
                 (QStringList{QStringLiteral("first line"), QStringLiteral("second line")}));
        QCOMPARE(messages.texts(), QStringList{});
    }

    void longHistoryIsKeptWhole() {
        {
            TForm1 form;
            for (int i = 0; i < 150; ++i)
                form.ListBox1->addItem(QStringLiteral("line %1").arg(i));
            form.close();
        }
        TForm1 next;
        next.FormCreate();
        QCOMPARE(next.ListBox1->count(), 150);
    }

    void everyAppendedLineIsSavedAtOnce() {
        TForm1 form;
        form.FormCreate();
        form.AppendHistoryLine(QStringLiteral("a measured line"), 100);
        StateSnapshot saved;
        QCOMPARE(ReadStateFile(kStateFile, saved).status, StateReadResult::Status::Read);
        QCOMPARE(saved.ListBox1, QStringList{QStringLiteral("a measured line")});
    }

    void failedSaveAtCloseAsksAndCanRetry() {
        QVERIFY(QDir().mkpath(kStateFile + QStringLiteral("/blocker"))); // no file can replace it
        MessageRecorder restoresTheHook;
        int asked = 0;
        SetMessageBoxHook([&](const QString& text, MsgButtons buttons, const QString&) {
            ++asked;
            if (!text.contains(kStateFile) || buttons != MsgButtons::RetryCancel)
                return MsgResult::Cancel;
            if (asked == 2) // the user makes room, then retries
                QDir(kStateFile).removeRecursively();
            return MsgResult::Retry;
        });
        TForm1 form;
        form.ListBox1->addItem(QStringLiteral("kept"));
        form.close();
        QCOMPARE(asked, 2);
        StateSnapshot saved;
        QCOMPARE(ReadStateFile(kStateFile, saved).status, StateReadResult::Status::Read);
        QCOMPARE(saved.ListBox1, QStringList{QStringLiteral("kept")});
    }

    void failedSaveAtCloseCanBeGivenUp() {
        QVERIFY(QDir().mkpath(kStateFile + QStringLiteral("/blocker")));
        MessageRecorder messages(MsgResult::Cancel);
        TForm1 form;
        form.close();
        QVERIFY(form.Closed());
        QCOMPARE(messages.texts().size(), 1);
        QVERIFY(messages.texts().front().startsWith(
            QStringLiteral("測定履歴などを qm1.dat に保存できませんでした。\n")));
    }

    void failedSaveOnASignalDoesNotAsk() {
        QVERIFY(QDir().mkpath(kStateFile + QStringLiteral("/blocker")));
        MessageRecorder messages;
        TForm1 form;
        form.CloseForSignal();
        QVERIFY(form.Closed());
        QCOMPARE(messages.texts(), QStringList{});
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_MAIN(FormStateTest)
#include "formstate_test.moc"
