// A second window, or one started while quillmet-cli appends, reads qm1.dat but never writes it.
#include "core/state/StateFile.h"
#include "core/state/StateFileLock.h"
#include "support/TempWorkDir.h"
#include "window/main/quillmetUnit1.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QtTest>

namespace {
const QString kStateFile = QString::fromLatin1(StateFileName);
const QString kReadOnly = QStringLiteral(
    "別の Quillmet が qm1.dat を使用中のため、このウィンドウの測定履歴などは保存されません。");

QByteArray fileBytes() {
    QFile f(kStateFile);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList savedHistory() {
    StateSnapshot s;
    ReadStateFile(kStateFile, s);
    return s.ListBox1;
}
} // namespace

class WindowLockTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_dir.emplace(); }
    void cleanup() { m_dir.reset(); }

    void secondWindowReadsButNeverWrites() {
        StateSnapshot prepared;
        prepared.ListBox1 = {QStringLiteral("first line")};
        QVERIFY(WriteStateFile(kStateFile, prepared).ok);
        {
            TForm1 first;
            first.FormCreate();
            QVERIFY(first.StatusText() != kReadOnly);
            {
                TForm1 second;
                second.FormCreate();
                QCOMPARE(second.StatusText(), kReadOnly);
                QCOMPARE(second.ListBox1->count(), 1);
                const QByteArray before = fileBytes();
                second.AppendHistoryLine(QStringLiteral("lost line"), 100);
                second.close();
                QCOMPARE(fileBytes(), before);
            }
            first.AppendHistoryLine(QStringLiteral("kept line"), 100);
            QCOMPARE(savedHistory(), (QStringList{"first line", "kept line"}));
            first.close();
        }
        // Both gone: the next window has the file again.
        TForm1 next;
        next.FormCreate();
        QVERIFY(next.StatusText() != kReadOnly);
        next.AppendHistoryLine(QStringLiteral("third line"), 100);
        QCOMPARE(savedHistory(), (QStringList{"first line", "kept line", "third line"}));
    }

    // quillmet-cli appending now: the window would overwrite its line, so it does not save.
    void windowStartedWhileAnAppenderRuns() {
        StateFileLock appender(kStateFile);
        QCOMPARE(appender.LockForAppender(), StateFileLock::Outcome::Acquired);
        TForm1 form;
        form.FormCreate();
        QCOMPARE(form.StatusText(), kReadOnly);
        form.Edit7->setText(QStringLiteral("http://localhost:8080/qm/qm4M.jpg"));
        form.close();
        QVERIFY(!QFile::exists(kStateFile));
    }

    // A damaged file is the holder's to keep aside; the read-only window leaves it be.
    void readOnlyWindowLeavesADamagedFileAlone() {
        QFile damaged(kStateFile);
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write("TPF0\x05TEdit") > 0);
        damaged.close();
        const QByteArray before = fileBytes();
        StateFileLock holder(kStateFile);
        QCOMPARE(holder.LockForWindow(), StateFileLock::Outcome::Acquired);
        TForm1 form;
        form.FormCreate();
        QCOMPARE(form.StatusText(), kReadOnly);
        form.close();
        QCOMPARE(fileBytes(), before);
        QCOMPARE(QDir().entryList({QStringLiteral("qm1.dat.damaged*")}), QStringList());
    }

private:
    std::optional<TempWorkDir> m_dir;
};

QTEST_MAIN(WindowLockTest)
#include "windowlock_test.moc"
