// The results journal: appends under the lock, rotation, and what a damaged file gives back.
#include "core/history/ResultsJournal.h"
#include "core/state/StateFileLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <numeric>
#include <optional>
#include <sys/resource.h>

namespace {

QJsonObject lineRecord(int n) {
    return QJsonObject{{QStringLiteral("kind"), QStringLiteral("line")},
                       {QStringLiteral("version"), 1},
                       {QStringLiteral("n"), n},
                       {QStringLiteral("notes"), QJsonArray{QStringLiteral("改行\nを含む注記")}}};
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool appendRaw(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::Append) && f.write(data) == data.size();
}

QList<int> numbers(const JournalRead& read) {
    QList<int> n;
    for (const QJsonObject& r : read.records)
        n << r.value(QStringLiteral("n")).toInt();
    return n;
}

// A child run of this binary appends records: QM_JOURNAL_CHILD="<path> <first> <count>".
int runChild(const QByteArray& spec) {
    const QList<QByteArray> parts = spec.split(' ');
    const ResultsJournal journal(QString::fromLocal8Bit(parts.value(0)));
    const int first = parts.value(1).toInt(), count = parts.value(2).toInt();
    for (int i = first; i < first + count; ++i) {
        if (!journal.Append(lineRecord(i)).ok())
            return 1;
    }
    return 0;
}

} // namespace

class JournalTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(m_dir.emplace().isValid());
        m_path = m_dir->filePath(QStringLiteral("data/quillmet/results.jsonl"));
    }

    void appendedRecordsReadBackInOrderOneLineEach() {
        const ResultsJournal journal(m_path);
        QVERIFY(journal.Read().records.isEmpty());
        for (int i = 0; i < 3; ++i)
            QVERIFY(journal.Append(lineRecord(i)).ok()); // the folders are made
        const JournalRead read = journal.Read();
        QCOMPARE(read.records.size(), 3);
        QCOMPARE(read.records[1], lineRecord(1));
        QCOMPARE(read.damaged, 0);
        QVERIFY(read.message.isEmpty());
        QCOMPARE(readAll(m_path).count('\n'), 3);
    }

    // The window holds qm1.dat's locks for its whole life and quillmet-cli for its whole run:
    // neither keeps a journal append out.
    void stateFileHoldersDoNotKeepAppendsOut() {
        const ResultsJournal journal(m_path);
        QVERIFY(journal.Append(lineRecord(0)).ok());
        StateFileLock window(m_path);
        QCOMPARE(window.LockForWindow(), StateFileLock::Outcome::Acquired);
        StateFileLock appender(m_path);
        QCOMPARE(appender.LockForAppender(), StateFileLock::Outcome::Held);
        QVERIFY(journal.Append(lineRecord(1)).ok());
        QCOMPARE(numbers(journal.Read()), (QList<int>{0, 1}));
    }

    void appendWaitsWhileAnotherProcessHoldsTheJournal() {
        StateFileLock other(m_path);
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
        QCOMPARE(other.LockForJournal(), StateFileLock::Outcome::Acquired);
        QProcess child;
        child.setProcessEnvironment(childEnvironment(0, 1));
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted());
        QVERIFY(!child.waitForFinished(500));
        QVERIFY(!QFile::exists(m_path));
        other.Release();
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(numbers(ResultsJournal(m_path).Read()), QList<int>{0});
    }

    void processesAppendingAtOnceLoseNoLine() {
        constexpr int kEach = 150;
        QList<QProcess*> children;
        for (int c = 0; c < 3; ++c) {
            auto* child = new QProcess(this);
            child->setProcessEnvironment(childEnvironment(c * kEach, kEach));
            child->start(QCoreApplication::applicationFilePath(), {});
            children << child;
        }
        for (QProcess* child : children) {
            QVERIFY(child->waitForFinished(60000));
            QCOMPARE(child->exitCode(), 0);
        }
        const JournalRead read = ResultsJournal(m_path).Read();
        QCOMPARE(read.damaged, 0);
        QList<int> seen = numbers(read);
        std::sort(seen.begin(), seen.end());
        QList<int> all(3 * kEach);
        std::iota(all.begin(), all.end(), 0);
        QCOMPARE(seen, all);
    }

    void fullFileIsRotatedAndOnlyOneOlderFileKept() {
        const qint64 oneLine =
            QJsonDocument(lineRecord(10)).toJson(QJsonDocument::Compact).size() + 1;
        const ResultsJournal journal(m_path, 3 * oneLine); // three lines fit, a fourth does not
        for (int i = 10; i < 17; ++i)
            QVERIFY(journal.Append(lineRecord(i)).ok());
        // 10..12 filled the first file, 13..15 the second; the first is gone.
        QCOMPARE(numbers(ResultsJournal(journal.OlderPath()).Read()), (QList<int>{13, 14, 15}));
        QCOMPARE(readAll(m_path).count('\n'), 1);
        QCOMPARE(numbers(journal.Read()), (QList<int>{13, 14, 15, 16}));
        QVERIFY(QFileInfo(m_path).size() <= 3 * oneLine);
    }

    void damagedAndTornLinesAreSkippedAndCounted() {
        const ResultsJournal journal(m_path);
        QVERIFY(journal.Append(lineRecord(1)).ok());
        QVERIFY(appendRaw(journal.OlderPath(), "{\"n\":0}\n[1,2]\nnot json\n\n"));
        QVERIFY(appendRaw(m_path, "{\"kind\":\"line\",\"n\":"));      // a crash mid-write
        QVERIFY(journal.Append(lineRecord(2)).ok());                  // keeps its own line
        QVERIFY(appendRaw(m_path, "{\"kind\":\"line\",\"started\"")); // torn at the end
        const JournalRead read = journal.Read();
        QCOMPARE(numbers(read), (QList<int>{0, 1, 2}));
        QCOMPARE(read.damaged, 4);
    }

    void folderThatCannotBeMadeIsReportedAndNothingWritten() {
        QVERIFY(appendRaw(m_dir->filePath(QStringLiteral("data")), "a file, not a folder"));
        const JournalAppend result = ResultsJournal(m_path).Append(lineRecord(0));
        QCOMPARE(result.status, JournalAppend::Status::FolderFailed);
        QVERIFY(result.message.contains(QStringLiteral("作成できませんでした")));
        QCOMPARE(readAll(m_dir->filePath(QStringLiteral("data"))),
                 QByteArray("a file, not a folder"));
    }

    // A write cut short (here by the file size limit, as a full disk would) takes back the
    // part it wrote: the lines before stay as they were, with no half line after them.
    void failedWriteLeavesTheJournalAsItWas() {
        const ResultsJournal journal(m_path);
        QVERIFY(journal.Append(lineRecord(0)).ok());
        const QByteArray before = readAll(m_path);
        struct rlimit old {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tight = old;
        tight.rlim_cur = static_cast<rlim_t>(before.size() + 10);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &tight), 0);
        const JournalAppend result = journal.Append(lineRecord(1));
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        QCOMPARE(result.status, JournalAppend::Status::WriteFailed);
        QVERIFY(result.message.contains(m_path));
        QCOMPARE(readAll(m_path), before);
    }

    void linkInTheJournalsPlaceIsNotWrittenThrough() {
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
        const QString target = m_dir->filePath(QStringLiteral("elsewhere"));
        QVERIFY(QFile::link(target, m_path));
        QVERIFY(!ResultsJournal(m_path).Append(lineRecord(0)).ok());
        QVERIFY(!QFile::exists(target));
    }

private:
    QProcessEnvironment childEnvironment(int first, int count) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QM_JOURNAL_CHILD"),
                   QStringLiteral("%1 %2 %3").arg(m_path).arg(first).arg(count));
        return env;
    }

    std::optional<QTemporaryDir> m_dir;
    QString m_path;
};

int main(int argc, char** argv) {
    const QByteArray child = qgetenv("QM_JOURNAL_CHILD");
    if (!child.isEmpty())
        return runChild(child);
    QCoreApplication app(argc, argv);
    JournalTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "journal_test.moc"
