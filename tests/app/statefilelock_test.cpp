// The qm1.dat lock between windows and history appenders, and the append that keeps every
// other byte of the file.
#include "core/state/StateFile.h"
#include "core/state/StateFileAppend.h"
#include "core/state/StateFileLock.h"
#include "core/state/Tpf0.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray encodedLine(const QString& line) {
    tpf0::Writer w;
    w.WriteText(line);
    return QByteArray::fromStdString(w.Data());
}

// A used state with label widths the window measured: a writer that re-encoded the file
// from what the reader keeps would lose them.
StateSnapshot usedState(int lines) {
    StateSnapshot s;
    s.Edit3 = {QStringLiteral("smtp.example.jp"), false};
    s.Edit8 = {QStringLiteral("taro@example.jp"), false};
    s.Edit7 = {QStringLiteral("http://localhost:8080/qm/qm4M.jpg"), true};
    for (int i = 0; i < lines; ++i)
        s.ListBox1 << QStringLiteral("host%1,2013-05-19(日) 07:15:05,62,msec,1048576,byte,"
                                     "8192.0,kbps,8.000,Mbps")
                          .arg(i);
    s.Label15 = {QStringLiteral("http://speed.example.jp/qm/qm1M.jpg"), 187, false};
    s.Label33 = {QStringLiteral("speed.example.jp(&A)"), 101, false};
    s.Label41 = {QStringLiteral("最速記録"), 48, true};
    s.Label42 = {QStringLiteral("94811.3"), 43, true};
    s.Label43 = {QStringLiteral("92.589"), 37, true};
    s.Label44 = {QStringLiteral("true"), 20, false};
    return s;
}

const QString kLine = QStringLiteral(
    "*localhost:8080,2026-12-08(火) 09:15:05,3,msec,4194304,byte,8335036.7,kbps,8139.684,Mbps");

} // namespace

class StateFileLockTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(m_dir.emplace().isValid());
        m_state = m_dir->filePath(QStringLiteral("qm1.dat"));
    }

    // Who keeps whom out: a window keeps out windows and appenders; an appender keeps out
    // windows but not other appenders' checks.
    void windowsAndAppenders() {
        {
            StateFileLock window(m_state);
            QCOMPARE(window.LockForWindow(), StateFileLock::Outcome::Acquired);
            QVERIFY(QFile::exists(m_state + QStringLiteral(".lock")));
            StateFileLock second(m_state);
            QCOMPARE(second.LockForWindow(), StateFileLock::Outcome::Held);
            QVERIFY(!second.Locked());
            StateFileLock appender(m_state);
            QCOMPARE(appender.LockForAppender(), StateFileLock::Outcome::Held);
        }
        {
            StateFileLock appender(m_state);
            QCOMPARE(appender.LockForAppender(), StateFileLock::Outcome::Acquired);
            StateFileLock window(m_state);
            QCOMPARE(window.LockForWindow(), StateFileLock::Outcome::Held);
            appender.Release();
            QCOMPARE(window.LockForWindow(), StateFileLock::Outcome::Acquired);
        }
        // Everything was released with its owner; the lock file stays.
        StateFileLock later(m_state);
        QCOMPARE(later.LockForWindow(), StateFileLock::Outcome::Acquired);
        QVERIFY(QFile::exists(m_state + QStringLiteral(".lock")));
    }

    // A second appender waits for the one writing, and is told before it waits.
    void appenderWaitsForAppender() {
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const QByteArray lockPath = QFile::encodeName(m_state + QStringLiteral(".lock"));
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // The other appender: both locks, held for 600 ms.
            const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT, 0666);
            struct flock open {};
            open.l_type = F_RDLCK;
            open.l_start = 0;
            open.l_len = 1;
            struct flock writer {};
            writer.l_type = F_WRLCK;
            writer.l_start = 1;
            writer.l_len = 1;
            const bool held = fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &open) == 0 &&
                              ::fcntl(fd, F_OFD_SETLK, &writer) == 0;
            const char byte = held ? '1' : '0';
            [[maybe_unused]] const auto n = ::write(ready[1], &byte, 1);
            ::usleep(600000);
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte = 0;
        QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
        ::close(ready[0]);
        QCOMPARE(byte, '1');

        StateFileLock appender(m_state);
        int told = 0;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(appender.LockForAppender([&] { ++told; }), StateFileLock::Outcome::Acquired);
        const qint64 waited = clock.elapsed();
        int status = 0;
        ::waitpid(child, &status, 0);
        QCOMPARE(told, 1);
        QVERIFY2(waited >= 300, qPrintable(QString::number(waited)));
    }

    void lockFileThatCannotBeCreatedFails() {
        StateFileLock lock(m_dir->filePath(QStringLiteral("no/such/folder/qm1.dat")));
        QCOMPARE(lock.LockForAppender(), StateFileLock::Outcome::Failed);
        QVERIFY(lock.Reason().contains(QStringLiteral("qm1.dat.lock")));
        QCOMPARE(lock.LockForWindow(), StateFileLock::Outcome::Failed);
    }

    // The new line goes in before the list's end; the rest of the file keeps its bytes.
    void appendKeepsEveryOtherByte_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("cap");
        QTest::addColumn<bool>("dropsFirst");
        QTest::newRow("empty history") << 0 << 100 << false;
        QTest::newRow("three lines") << 3 << 100 << false;
        QTest::newRow("at the download cap") << 100 << 100 << true;
        QTest::newRow("upload onto 80 lines") << 80 << 50 << true;
        QTest::newRow("upload onto 49 lines") << 49 << 50 << false;
    }
    void appendKeepsEveryOtherByte() {
        QFETCH(int, lines);
        QFETCH(int, cap);
        QFETCH(bool, dropsFirst);
        const StateSnapshot before = usedState(lines);
        const QByteArray old = QByteArray::fromStdString(EncodeState(before));
        QVERIFY(writeAll(m_state, old));

        QVERIFY(StateFileUnreadableReason(m_state).isEmpty());
        const StateAppendResult result = AppendHistoryLineToFile(m_state, kLine, cap);
        QVERIFY2(result.ok(), qPrintable(result.reason));

        QByteArray expected = old;
        if (lines == 0) {
            // No list yet: the entry is written where the window writes it.
            expected = QByteArray::fromStdString(EncodeState([&] {
                StateSnapshot s = before;
                s.ListBox1 = {kLine};
                return s;
            }()));
        } else {
            const QByteArray last = encodedLine(before.ListBox1.last());
            const qsizetype end = old.indexOf(last) + last.size();
            expected.insert(end, encodedLine(kLine));
            if (dropsFirst)
                expected.remove(old.indexOf(encodedLine(before.ListBox1.first())),
                                encodedLine(before.ListBox1.first()).size());
        }
        QCOMPARE(readAll(m_state), expected);

        StateSnapshot after;
        QCOMPARE(ReadStateFile(m_state, after).status, StateReadResult::Status::Read);
        QStringList history = before.ListBox1;
        history << kLine;
        if (dropsFirst)
            history.removeFirst();
        QCOMPARE(after.ListBox1, history);
    }

    // A line of 256 bytes and more, and text that Shift-JIS cannot hold, come back.
    void appendedLinesComeBackWhole_data() {
        QTest::addColumn<QString>("line");
        QTest::newRow("long") << QString(300, QLatin1Char('h')) + kLine;
        QTest::newRow("not in cp932") << QStringLiteral("😀.example,") + kLine;
    }
    void appendedLinesComeBackWhole() {
        QFETCH(QString, line);
        QVERIFY(writeAll(m_state, QByteArray::fromStdString(EncodeState(usedState(2)))));
        QVERIFY(AppendHistoryLineToFile(m_state, line, 100).ok());
        StateSnapshot after;
        QCOMPARE(ReadStateFile(m_state, after).status, StateReadResult::Status::Read);
        QCOMPARE(after.ListBox1.last(), line);
    }

    // No file yet: one that the window reads as its initial state with this line.
    void missingFileBecomesInitialStateWithTheLine() {
        QVERIFY(StateFileUnreadableReason(m_state).isEmpty());
        QVERIFY(AppendHistoryLineToFile(m_state, kLine, 100).ok());
        StateSnapshot after;
        QCOMPARE(ReadStateFile(m_state, after).recordsRead, StateRecordCount);
        StateSnapshot expected;
        expected.ListBox1 = {kLine};
        QCOMPARE(after, expected);
    }

    // A linked state file is written through, beside the file the link names; a lock named
    // by a dangling link is refused instead of creating what it names.
    void linksAreWrittenThroughAndLockLinksNotFollowed() {
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("real")));
        const QString real = m_dir->filePath(QStringLiteral("real/qm1.dat"));
        QVERIFY(WriteStateFile(real, usedState(2)).ok);
        QVERIFY(QFile::link(QStringLiteral("real/qm1.dat"), m_state));
        QVERIFY(AppendHistoryLineToFile(m_state, kLine, 100).ok());
        QVERIFY(QFileInfo(m_state).isSymLink());
        StateSnapshot after;
        QCOMPARE(ReadStateFile(real, after).status, StateReadResult::Status::Read);
        QCOMPARE(after.ListBox1.last(), kLine);
        QCOMPARE(QDir(m_dir->filePath(QStringLiteral("real"))).entryList(QDir::Files),
                 QStringList{QStringLiteral("qm1.dat")});

        const QString named = m_dir->filePath(QStringLiteral("elsewhere"));
        QVERIFY(QFile::link(named, m_state + QStringLiteral(".lock")));
        StateFileLock lock(m_state);
        QCOMPARE(lock.LockForAppender(), StateFileLock::Outcome::Failed);
        QVERIFY(lock.Reason().contains(QStringLiteral("qm1.dat.lock")));
        QVERIFY(!QFileInfo::exists(named));
    }

    // A file the reader cannot read whole is never rewritten.
    void partlyReadableFileIsLeftAlone_data() {
        QTest::addColumn<QByteArray>("data");
        const QByteArray whole = QByteArray::fromStdString(EncodeState(usedState(3)));
        QTest::newRow("cut in the history") << whole.left(whole.indexOf("ListBox1") + 200);
        QTest::newRow("cut in the last record") << whole.chopped(3);
        QByteArray renamed = whole;
        renamed.replace("Label44", "Label45");
        QTest::newRow("a record naming another control") << renamed;
        QTest::newRow("not a state file") << QByteArray("<html>not found</html>");
    }
    void partlyReadableFileIsLeftAlone() {
        QFETCH(QByteArray, data);
        QVERIFY(writeAll(m_state, data));
        QVERIFY(!StateFileUnreadableReason(m_state).isEmpty());
        const StateAppendResult result = AppendHistoryLineToFile(m_state, kLine, 100);
        QCOMPARE(result.status, StateAppendResult::Status::Unreadable);
        QCOMPARE(readAll(m_state), data);
    }

private:
    std::optional<QTemporaryDir> m_dir;
    QString m_state;
};

QTEST_GUILESS_MAIN(StateFileLockTest)
#include "statefilelock_test.moc"
