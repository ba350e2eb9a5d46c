// The results journal: appends under the lock, rotation, and what a damaged file gives back.
#include "core/history/ResultsJournal.h"
#include "core/state/StateFileLock.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QJsonObject record(int n) {
    return {{QStringLiteral("kind"), QStringLiteral("line")},
            {QStringLiteral("n"), n},
            {QStringLiteral("notes"), QStringLiteral("改行\nを含む注記")}};
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

} // namespace

class JournalTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("data%1/quillmet/results.jsonl").arg(++m_case));
    }

    void appendedRecordsReadBackInOrderOneLineEach() {
        const ResultsJournal journal(m_path);
        for (int i = 0; i < 3; ++i)
            QVERIFY(journal.Append(record(i)).ok()); // the folders are made
        const JournalRead read = journal.Read();
        QCOMPARE(read.records, (QList<QJsonObject>{record(0), record(1), record(2)}));
        QCOMPARE(read.damaged, 0);
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count('\n'), 3);
    }

    // The window holds qm1.dat's lock for its whole life, quillmet-cli for its whole run:
    // neither keeps a journal append out; another journal append does, in another process.
    void appendWaitsOnlyForAnotherAppend() {
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
        StateFileLock holder(m_path), other(m_path);
        QCOMPARE(holder.LockForAppender(), StateFileLock::Outcome::Acquired);
        QVERIFY(ResultsJournal(m_path).Append(record(0)).ok());
        holder.Release();
        QCOMPARE(holder.LockForWindow(), StateFileLock::Outcome::Acquired);
        QCOMPARE(other.LockForJournal(), StateFileLock::Outcome::Acquired);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QM_JOURNAL_CHILD"), m_path);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(!child.waitForFinished(500));
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count('\n'), 1); // the child has not written
        other.Release();
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(numbers(ResultsJournal(m_path).Read()), (QList<int>{0, 1}));
    }

    void fullFileIsRotatedAndOnlyOneOlderFileKept() {
        const qint64 oneLine = QJsonDocument(record(10)).toJson(QJsonDocument::Compact).size() + 1;
        const ResultsJournal journal(m_path, 3 * oneLine); // three lines fit, a fourth does not
        for (int i = 10; i < 17; ++i)
            QVERIFY(journal.Append(record(i)).ok());
        // 10..12 filled the first file, 13..15 the second; the first is gone.
        QCOMPARE(numbers(ResultsJournal(journal.OlderPath()).Read()), (QList<int>{13, 14, 15}));
        QCOMPARE(numbers(journal.Read()), (QList<int>{13, 14, 15, 16}));
    }

    void damagedAndTornLinesAreSkippedAndCounted() {
        const ResultsJournal journal(m_path);
        QVERIFY(journal.Append(record(1)).ok());
        QVERIFY(appendRaw(journal.OlderPath(), "{\"n\":0}\n[1,2]\nnot json\n\n"));
        QVERIFY(appendRaw(m_path, "{\"kind\":\"line\",\"n\":"));      // a crash mid-write
        QVERIFY(journal.Append(record(2)).ok());                      // keeps its own line
        QVERIFY(appendRaw(m_path, "{\"kind\":\"line\",\"started\"")); // torn at the end
        const JournalRead read = journal.Read();
        QCOMPARE(numbers(read), (QList<int>{0, 1, 2}));
        QCOMPARE(read.damaged, 4);
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_case = 0;
};

int main(int argc, char** argv) {
    // A child run of this binary appends record 1 to the journal its environment names.
    const QByteArray child = qgetenv("QM_JOURNAL_CHILD");
    if (!child.isEmpty())
        return ResultsJournal(QString::fromLocal8Bit(child)).Append(record(1)).ok() ? 0 : 1;
    QCoreApplication app(argc, argv);
    JournalTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "journal_test.moc"
