// The start-up read: a damaged qm1.dat is kept aside before anything can replace it, and the
// temporaries of killed saves are cleared away, nothing else.
#include "app/StateFileCare.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace {

const QDateTime kNow(QDate(2026, 12, 8), QTime(14, 25, 0));
const QString kKeptName = QStringLiteral("qm1.dat.damaged-20261208-142500");

StateSnapshot usedState() {
    StateSnapshot s;
    s.Edit3.Text = QStringLiteral("smtp.example.jp");
    s.Edit8.Text = QStringLiteral("taro@example.jp");
    s.Edit7.Text = QStringLiteral("http://localhost:8080/qm/qm1M.jpg");
    s.ListBox1 = {QStringLiteral("localhost:8080,2026-12-07(月) 10:00:00,12,msec,1048576,byte,"
                                 "81920.0,kbps,80.000,Mbps")};
    s.Label44.Caption = QStringLiteral("true");
    return s;
}

QByteArray digestOf(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result();
}

// Sets a file's (or a link's own) modification time to `age` seconds ago.
bool ageBy(const QString& path, int age) {
    const timespec when[2] = {{::time(nullptr) - age, 0}, {::time(nullptr) - age, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), when, AT_SYMLINK_NOFOLLOW) ==
           0;
}

} // namespace

class StateFileCareTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_dir.emplace(); }
    void cleanup() { m_dir.reset(); }

    void damagedFileIsKeptAsideWhole_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("recordsRead");
        QTest::newRow("cut in the history") << "cut" << 4;
        QTest::newRow("not a state file") << "text" << 0;
        QTest::newRow("empty") << "empty" << 0;
        QTest::newRow("larger than the limit") << "oversized" << 18;
    }
    void damagedFileIsKeptAsideWhole() {
        QFETCH(QString, damage);
        QFETCH(int, recordsRead);
        const std::string good = EncodeState(usedState());
        {
            QFile file(path());
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (damage == "cut")
                file.write(good.data(), qint64(good.find("localhost:8080,2026")));
            else if (damage == "text")
                file.write("url=http://localhost:8080/qm/qm1M.jpg\n");
            else if (damage == "oversized")
                file.write(good.data(), qint64(good.size()));
            if (damage == "oversized")
                QVERIFY(file.resize(MaxStateFileSize + 1));
        }
        const QByteArray original = digestOf(path());
        const qint64 size = QFileInfo(path()).size();

        StateSnapshot state;
        state.ListBox1 = {QStringLiteral("a line the window held")};
        const StateLoad load = LoadStateFile(path(), state, kNow);

        QCOMPARE(load.read.recordsRead, recordsRead);
        QCOMPARE(load.keptAs, m_dir->filePath(kKeptName));
        QVERIFY(!QFileInfo::exists(path())); // the next save cannot touch it
        QCOMPARE(QFileInfo(load.keptAs).size(), size);
        QCOMPARE(digestOf(load.keptAs), original);
        QCOMPARE(
            StateLoadNotice(load),
            QStringLiteral("qm1.dat を読み込めなかったため %1 として残しました").arg(kKeptName));
        // The read itself keeps its rule: what came before the damage stays.
        if (recordsRead > 3)
            QCOMPARE(state.Edit7.Text, usedState().Edit7.Text);
        QCOMPARE(state.ListBox1, recordsRead == 18 ? usedState().ListBox1 : QStringList());
    }

    void readableOrMissingFileStaysPut_data() {
        QTest::addColumn<bool>("exists");
        QTest::newRow("a good file") << true;
        QTest::newRow("no file") << false;
    }
    void readableOrMissingFileStaysPut() {
        QFETCH(bool, exists);
        if (exists)
            QVERIFY(WriteStateFile(path(), usedState()).ok);
        StateSnapshot state;
        const StateLoad load = LoadStateFile(path(), state, kNow);
        QVERIFY(load.keptAs.isEmpty());
        QCOMPARE(StateLoadNotice(load), QString());
        QCOMPARE(m_dir->entries(), exists ? QStringList{QStringLiteral("qm1.dat")} : QStringList());
    }

    // A name already taken is never replaced: the next free one with a number goes instead,
    // and when none is free the file stays where it is and the user is told why.
    void keptNameIsNeverReused() {
        QVERIFY(writeBytes(path(), "damaged"));
        QVERIFY(writeBytes(m_dir->filePath(kKeptName), "kept earlier"));
        StateSnapshot state;
        const StateLoad load = LoadStateFile(path(), state, kNow);
        QCOMPARE(load.keptAs, m_dir->filePath(kKeptName + QStringLiteral("-2")));
        QCOMPARE(readBytes(load.keptAs), QByteArray("damaged"));
        QCOMPARE(readBytes(m_dir->filePath(kKeptName)), QByteArray("kept earlier"));

        QVERIFY(writeBytes(path(), "damaged again"));
        for (int n = 3; n <= 100; ++n)
            QVERIFY(writeBytes(m_dir->filePath(kKeptName + QStringLiteral("-%1").arg(n)), "x"));
        const StateLoad full = LoadStateFile(path(), state, kNow);
        QVERIFY(full.keptAs.isEmpty());
        QCOMPARE(readBytes(path()), QByteArray("damaged again"));
        QCOMPARE(
            StateLoadNotice(full),
            QStringLiteral("qm1.dat を読み込めず、別名で残すこともできませんでした: File exists"));
    }

    // Only regular files of the writer's own pattern, unchanged for over a minute, go.
    void onlyStaleTemporariesOfTheWriterGo() {
        QVERIFY(WriteStateFile(path(), usedState()).ok);
        const QStringList stale = {QStringLiteral("qm1.dat.tmp-0"),
                                   QStringLiteral("qm1.dat.tmp-deadbeef")};
        const QStringList kept = {
            QStringLiteral("qm1.dat.tmp-12345678"), // young: a save may be under way
            QStringLiteral("qm1.dat.tmp-DEADBEEF"), QStringLiteral("qm1.dat.tmp-123456789"),
            QStringLiteral("qm1.dat.tmp-"),         QStringLiteral("qm1.dat.tmp-12g4"),
            QStringLiteral("qm1.dat.tmp-abc.bak"),  QStringLiteral("xqm1.dat.tmp-abc"),
            QStringLiteral("other.dat.tmp-abc"),    QStringLiteral("target")};
        for (const QString& name : stale + kept)
            QVERIFY(writeBytes(m_dir->filePath(name), "partial"));
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("qm1.dat.tmp-abcd")));
        QVERIFY(QFile::link(QStringLiteral("target"), m_dir->filePath("qm1.dat.tmp-abce")));
        for (const QString& name : m_dir->entries()) {
            if (name != QStringLiteral("qm1.dat.tmp-12345678"))
                QVERIFY(ageBy(m_dir->filePath(name), 120));
        }
        QVERIFY(ageBy(m_dir->filePath(QStringLiteral("qm1.dat.tmp-12345678")), 30));

        StateSnapshot state;
        const StateLoad load = LoadStateFile(path(), state, kNow);
        QCOMPARE(load.staleTemporaries, 2);
        QStringList expected = kept;
        expected << QStringLiteral("qm1.dat") << QStringLiteral("qm1.dat.tmp-abcd")
                 << QStringLiteral("qm1.dat.tmp-abce");
        expected.sort();
        QCOMPARE(m_dir->entries(), expected);
        QCOMPARE(load.read.status, StateReadResult::Status::Read);
    }

private:
    struct Dir {
        QTemporaryDir dir;
        QString filePath(const QString& name) const { return dir.filePath(name); }
        QString path() const { return dir.path(); }
        QStringList entries() const {
            return QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                           QDir::Name);
        }
    };
    QString path() const { return m_dir->filePath(QStringLiteral("qm1.dat")); }
    static bool writeBytes(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    static QByteArray readBytes(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    std::optional<Dir> m_dir;
};

QTEST_GUILESS_MAIN(StateFileCareTest)
#include "statefilecare_test.moc"
