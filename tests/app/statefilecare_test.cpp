// The start-up read: a damaged qm1.dat is kept aside before anything can replace it, and the
// temporaries of killed saves are cleared away, nothing else; the window's session around it.
#include "core/state/StateFileCare.h"
#include "core/state/StateSession.h"
#include "support/TempWorkDir.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace {

const QString kFile = QStringLiteral("qm1.dat");
const QDateTime kNow(QDate(2026, 12, 8), QTime(14, 25, 0));
const QString kKept = QStringLiteral("qm1.dat.damaged-20261208-142500");

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QStringList entries() {
    return QDir().entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDir::Name);
}

} // namespace

class StateFileCareTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_cwd.emplace(); }
    void cleanup() { m_cwd.reset(); }

    void damagedFileIsKeptAsideWhole_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("recordsRead");
        QTest::newRow("cut in the history") << "cut" << 4;
        QTest::newRow("not a state file") << "text" << 0;
        QTest::newRow("larger than the limit, records in front") << "oversized" << 18;
    }
    void damagedFileIsKeptAsideWhole() {
        QFETCH(QString, damage);
        QFETCH(int, recordsRead);
        StateSnapshot used;
        used.Edit7.Text = QStringLiteral("http://localhost:8080/qm/qm1M.jpg");
        used.ListBox1 = {QStringLiteral("localhost:8080,2026-12-07(月) 10:00:00,12,msec,1048576,"
                                        "byte,81920.0,kbps,80.000,Mbps")};
        const QByteArray good = QByteArray::fromStdString(EncodeState(used));
        if (damage == "text")
            QVERIFY(writeBytes(kFile, "url=http://localhost:8080/qm/qm1M.jpg\n"));
        else
            QVERIFY(writeBytes(kFile, damage == "cut" ? good.left(good.indexOf("localhost:8080,"))
                                                      : good));
        if (damage == "oversized")
            QVERIFY(QFile::resize(kFile, MaxStateFileSize + 1));
        const QByteArray original = contents(kFile);

        StateSnapshot state;
        const StateLoad load = LoadStateFile(kFile, state, kNow);
        QCOMPARE(load.read.recordsRead, recordsRead);
        QCOMPARE(entries(), QStringList{kKept}); // the next save cannot touch it
        QVERIFY(contents(kKept) == original);
        QCOMPARE(StateLoadNotice(load),
                 QStringLiteral("qm1.dat を読み込めなかったため %1 として残しました").arg(kKept));
        // The read keeps its rule: what came before the damage stays, the history only whole.
        QCOMPARE(state.Edit7.Text, recordsRead > 3 ? used.Edit7.Text : QString());
        QCOMPARE(state.ListBox1, recordsRead == 18 ? used.ListBox1 : QStringList());
    }

    // A name already taken is never replaced; when no name is free the file stays in place and
    // the user is told why.
    void keptNameIsNeverReused() {
        QVERIFY(writeBytes(kFile, "damaged") && writeBytes(kKept, "kept earlier"));
        StateSnapshot state;
        QCOMPARE(LoadStateFile(kFile, state, kNow).keptAs, kKept + QStringLiteral("-2"));
        QCOMPARE(contents(kKept + QStringLiteral("-2")), QByteArray("damaged"));
        QCOMPARE(contents(kKept), QByteArray("kept earlier"));
        for (int n = 3; n <= 100; ++n)
            QVERIFY(writeBytes(kKept + QStringLiteral("-%1").arg(n), "x"));
        QVERIFY(writeBytes(kFile, "damaged again"));
        const StateLoad full = LoadStateFile(kFile, state, kNow);
        QVERIFY(full.keptAs.isEmpty());
        QCOMPARE(contents(kFile), QByteArray("damaged again"));
        QCOMPARE(
            StateLoadNotice(full),
            QStringLiteral("qm1.dat を読み込めず、別名で残すこともできませんでした: File exists"));
    }

    // Only regular files of the writer's own pattern, unchanged for over a minute, go.
    void onlyStaleTemporariesOfTheWriterGo() {
        QVERIFY(WriteStateFile(kFile, StateSnapshot()).ok);
        const QStringList stale = {QStringLiteral("qm1.dat.tmp-0"),
                                   QStringLiteral("qm1.dat.tmp-deadbeef")};
        const QStringList files = {
            QStringLiteral("qm1.dat.tmp-DEADBEEF"), QStringLiteral("qm1.dat.tmp-123456789"),
            QStringLiteral("qm1.dat.tmp-"),         QStringLiteral("qm1.dat.tmp-12g4"),
            QStringLiteral("qm1.dat.tmp-abc.bak"),  QStringLiteral("xqm1.dat.tmp-abc"),
            QStringLiteral("qm1.dat.tmp-abcf")}; // the young one: a save may be under way
        for (const QString& name : stale + files)
            QVERIFY(writeBytes(name, "partial"));
        QVERIFY(QDir().mkdir(QStringLiteral("qm1.dat.tmp-abcd")));
        QVERIFY(QFile::link(kFile, QStringLiteral("qm1.dat.tmp-abce")));
        QStringList expected = entries();
        for (const QString& name : expected) {
            const time_t when = ::time(nullptr) - (name.endsWith(QLatin1String("abcf")) ? 30 : 120);
            const timespec times[2] = {{when, 0}, {when, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(name).constData(), times,
                                 AT_SYMLINK_NOFOLLOW),
                     0);
        }
        for (const QString& name : stale)
            expected.removeOne(name);

        StateSnapshot state;
        const StateLoad load = LoadStateFile(kFile, state, kNow);
        QCOMPARE(load.staleTemporaries, 2);
        QCOMPARE(entries(), expected);
        QCOMPARE(load.read.status, StateReadResult::Status::Read);
    }

    // The holder of the lock clears up; a session that found it held only reads.
    void sessionClearsUpAndWritesOnlyWithTheLock_data() {
        QTest::addColumn<bool>("held");
        QTest::newRow("lock free") << false;
        QTest::newRow("another window has it") << true;
    }
    void sessionClearsUpAndWritesOnlyWithTheLock() {
        QFETCH(bool, held);
        const QString stale = QStringLiteral("qm1.dat.tmp-deadbeef");
        const timespec old[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
        QVERIFY(writeBytes(kFile, "damaged") && writeBytes(stale, "partial"));
        QCOMPARE(::utimensat(AT_FDCWD, "qm1.dat.tmp-deadbeef", old, 0), 0);
        StateFileLock other(kFile);
        QVERIFY(!held || other.LockForWindow() == StateFileLock::Outcome::Acquired);
        StateSession session;
        StateSnapshot state;
        session.Open(state, kNow);
        QCOMPARE(session.ReadOnly(), held);
        const QString lock = kFile + QStringLiteral(".lock");
        QCOMPARE(entries(), (held ? QStringList{kFile, lock, stale} : QStringList{kKept, lock}));
        int captured = 0;
        const StateSave save = session.Save([&] { return ++captured, state; });
        QCOMPARE(save.outcome, held ? StateSave::Outcome::ReadOnly : StateSave::Outcome::Saved);
        QCOMPARE(captured, held ? 0 : 1);
        QCOMPARE(contents(kFile) == "damaged", held);
    }

    // Each try saves what the window holds then; a question a signal ended leaves one more try.
    void failedSaveIsTriedAgainAsTheAnswersSay_data() {
        QTest::addColumn<QString>("answers"); // per question: y(es), n(o), s(ignal)
        QTest::addColumn<int>("roomAfter");   // the question after which a save can succeed
        QTest::addColumn<StateSave::Outcome>("outcome");
        QTest::newRow("retried, then saved") << "yy" << 2 << StateSave::Outcome::Saved;
        QTest::newRow("given up") << "n" << 1 << StateSave::Outcome::GaveUp;
        QTest::newRow("signal, room made") << "s" << 1 << StateSave::Outcome::Saved;
        QTest::newRow("signal, still failing") << "s" << 0 << StateSave::Outcome::Failed;
    }
    void failedSaveIsTriedAgainAsTheAnswersSay() {
        QFETCH(QString, answers);
        QFETCH(int, roomAfter);
        QFETCH(StateSave::Outcome, outcome);
        QVERIFY(QDir().mkpath(kFile + QStringLiteral("/blocker"))); // no file can replace it
        StateSession session;
        StateSnapshot state;
        int asked = 0;
        const auto capture = [&] { return state.ListBox1 = {QString::number(asked)}, state; };
        const auto answer = [&](const QString& question) {
            const QChar said = answers.at(asked++);
            if (asked == roomAfter)
                QDir(kFile).removeRecursively();
            if (said == QLatin1Char('s'))
                session.SetUnattended();
            return question.contains(kFile) && said == QLatin1Char('y');
        };
        QCOMPARE(session.Save(capture, answer).outcome, outcome);
        QCOMPARE(asked, answers.size());
        StateSnapshot saved;
        ReadStateFile(kFile, saved);
        QCOMPARE(saved.ListBox1.value(0) == QString::number(asked),
                 outcome == StateSave::Outcome::Saved);
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_GUILESS_MAIN(StateFileCareTest)
#include "statefilecare_test.moc"
