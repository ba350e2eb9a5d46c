// The window's hold on qm1.dat without a window: who clears up and writes, and when a failed
// save is tried again.
#include "core/state/StateSession.h"
#include "support/TempWorkDir.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <optional>

namespace {
const QString kFile = QString::fromLatin1(StateFileName);

bool writeOld(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() &&
           file.setFileTime(QDateTime::currentDateTime().addSecs(-120),
                            QFileDevice::FileModificationTime);
}
} // namespace

class StateSessionTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_cwd.emplace(); }
    void cleanup() { m_cwd.reset(); }

    // The holder of the lock keeps a damaged file aside and removes a killed save's temporary;
    // a session that found the lock held leaves both, captures nothing and writes nothing.
    void startUpDependsOnTheLock_data() {
        QTest::addColumn<bool>("held");
        QTest::newRow("lock free") << false;
        QTest::newRow("another window has it") << true;
    }
    void startUpDependsOnTheLock() {
        QFETCH(bool, held);
        const QString stale = QStringLiteral("qm1.dat.tmp-deadbeef");
        QVERIFY(writeOld(kFile, "TPF0\x05TE") && writeOld(stale, "partial"));
        StateFileLock other(kFile);
        QVERIFY(!held || other.LockForWindow() == StateFileLock::Outcome::Acquired);
        StateSession session;
        StateSnapshot state;
        session.Open(state, QDateTime::currentDateTime());
        QCOMPARE(session.ReadOnly(), held);
        QCOMPARE(QFile::exists(stale), held);
        QCOMPARE(QFile::exists(kFile), held);
        int captured = 0;
        const StateSave save = session.Save([&] { return ++captured, state; });
        QCOMPARE(save.outcome, held ? StateSave::Outcome::ReadOnly : StateSave::Outcome::Saved);
        QCOMPARE(captured, held ? 0 : 1);
        QCOMPARE(QFileInfo(kFile).size() == 7, held); // the damaged file's
    }

    // Each try writes what the window holds then; a question that a termination signal ended
    // leaves one more try, after which nobody is asked.
    void failedSaveIsTriedAgainAsTheAnswersSay_data() {
        QTest::addColumn<QString>("answers"); // per question: y(es), n(o), s(ignal)
        QTest::addColumn<int>("roomAfter");   // the question after which a save can succeed
        QTest::addColumn<StateSave::Outcome>("outcome");
        QTest::newRow("retried, then saved") << "yy" << 2 << StateSave::Outcome::Saved;
        QTest::newRow("given up") << "n" << 1 << StateSave::Outcome::GaveUp;
        QTest::newRow("signal, room made") << "s" << 1 << StateSave::Outcome::Saved;
        QTest::newRow("signal, still failing") << "s" << 0 << StateSave::Outcome::Failed;
        QTest::newRow("quiet: nobody asked") << "" << 0 << StateSave::Outcome::Failed;
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
        QCOMPARE(
            (answers.isEmpty() ? session.Save(capture) : session.Save(capture, answer)).outcome,
            outcome);
        QCOMPARE(asked, answers.size());
        StateSnapshot saved;
        ReadStateFile(kFile, saved);
        QCOMPARE(saved.ListBox1 == QStringList{QString::number(asked)},
                 outcome == StateSave::Outcome::Saved);
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_GUILESS_MAIN(StateSessionTest)
#include "statesession_test.moc"
