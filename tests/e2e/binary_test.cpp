// The real program end to end: build/quillmet started in a folder of its own against the local
// sample host (scripts/sample-host on a port of its own), ended with SIGTERM, qm1.dat read back.
#include "core/state/StateFile.h"
#include "support/ProcessSignals.h"
#include "support/SampleHostScript.h"
#include "support/ScriptedPeer.h"
#include "support/TestHelpers.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <optional>
#include <sys/prctl.h>
#include <sys/stat.h>

namespace {

// The sample every run fetches: large enough that a fast loopback never gets the modal
// "too small" message box (2,500,000 bytes and up), which nobody could answer here.
const QString kSample = QStringLiteral("qm4M.jpg");
constexpr int kRunsWait = 60000;         // ms for both runs, which take about 23 s
constexpr int kRepeatSettle = 4500;      // ms: longer than the 3 s before a further run would start
constexpr int kNoRunSettle = 2000;       // ms: a run would have fetched its first round by then
constexpr double kLoopbackMaxMbps = 1e6; // 1 Tbit/s: far beyond any loopback copy
constexpr int kBoxSettle = 1000;         // ms: a refused connect and its box take a few
constexpr qint64 kSignalExitMs = 2000;   // ms from a termination signal to the end, at most

QString binaryDir() {
    return qEnvironmentVariable("QM_BINARY_DIR");
}

// Identity of a file's current contents: a rename over it or a rewrite changes it.
struct FileStamp {
    ino_t inode = 0;
    timespec modified{};
    bool operator==(const FileStamp& o) const {
        return inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec;
    }
};
std::optional<FileStamp> stampOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileStamp{st.st_ino, st.st_mtim};
}

// build/quillmet with arguments, headless, in a directory; killed if the test ends first.
class Program final {
public:
    Program(const QString& workDir, const QStringList& arguments) {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(workDir);
        // Nothing outlives a test that crashes or times out.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(binaryDir() + QStringLiteral("/quillmet"), arguments);
    }
    ~Program() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() { return m_process.waitForStarted(10000); }
    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    // Sends the signal and waits for the end; true when it ended by itself with exit code 0.
    // *tookMs: from the signal to the end.
    bool terminate(QString* why, int sig = SIGTERM, qint64* tookMs = nullptr) {
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(pid()), sig);
        const bool ended = m_process.waitForFinished(15000);
        if (tookMs)
            *tookMs = clock.elapsed();
        if (!ended) {
            *why = QStringLiteral("no exit within 15 s of signal %1").arg(sig);
            return false;
        }
        if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0) {
            *why = QStringLiteral("ended with status %1, code %2")
                       .arg(m_process.exitStatus())
                       .arg(m_process.exitCode());
            return false;
        }
        return true;
    }
    QString output() {
        return QString::fromLocal8Bit(m_process.readAllStandardOutput() +
                                      m_process.readAllStandardError());
    }

private:
    QProcess m_process;
};

StateSnapshot readBack(const QString& path, StateReadResult* result) {
    StateSnapshot state;
    *result = ReadStateFile(path, state);
    return state;
}

// A user's state as it might be after some use. Labels the window keeps hidden are stored
// hidden; the record labels follow the on/off switch.
StateSnapshot preparedState(const QString& url, bool recordOn, const QString& recordKbps,
                            const QString& recordMbps) {
    StateSnapshot s;
    s.Edit3 = {QStringLiteral("smtp.example.jp"), false};
    s.Edit8 = {QStringLiteral("taro@example.jp"), false};
    s.Edit7 = {url, true};
    s.ListBox1 = {
        QStringLiteral("speed.example.jp,2013-05-19(日) 07:15:05,62,msec,1048576,byte,"
                       "8192.0,kbps,8.000,Mbps"),
        QStringLiteral("*upload(310KB),2013-05-20(月) 21:03:44,0,msec,319488,byte,"
                       "1702.4,kbps,1.663,Mbps"),
        // 256 bytes and more: stored with the long string tag.
        QStringLiteral("**") + QString(260, QLatin1Char('h')) +
            QStringLiteral(",2013-05-21(火) 00:00:01,-3,msec,0,byte,0.0,kbps,0.000,Mbps"),
    };
    const auto hidden = [](const QString& caption) { return LabelState{caption, 0, false}; };
    s.Label15 = hidden(QStringLiteral("http://speed.example.jp/qm/qm1M.jpg"));
    s.Label31 = hidden(QStringLiteral("http://127.0.0.1:8080/qm/qm8M.jpg"));
    s.Label32 = hidden(QStringLiteral("http://localhost:8080/qm/qm100K.jpg"));
    s.Label37 = hidden(QStringLiteral("http://localhost:8080/qm/qm100K.jpg"));
    s.Label38 = hidden(QStringLiteral("http://ミラー.example.jp/qm/qm15M.jpg"));
    s.Label33 = hidden(QStringLiteral("speed.example.jp(&A)"));
    s.Label34 = hidden(QStringLiteral("127.0.0.1:8080(&B)"));
    s.Label35 = hidden(QStringLiteral("保存3(&C)"));
    s.Label39 = hidden(QStringLiteral("保存4(&D)"));
    s.Label3a = hidden(QStringLiteral("ミラー.example.jp(&G)"));
    s.Label41 = {QStringLiteral("最速記録"), 0, recordOn};
    s.Label42 = {recordKbps, 0, recordOn};
    s.Label43 = {recordMbps, 0, recordOn};
    s.Label44 = hidden(recordOn ? QStringLiteral("true") : QStringLiteral("false"));
    return s;
}

struct HistoryLine {
    QString mark;
    QString host;
    QDateTime started;
    qint64 connectMs = -1;
    QString bytes;
    double kbps = 0;
    double mbps = 0;
    QString kbpsText;
    QString mbpsText;
};

// Splits a download history line, checking every field's exact form; says why when it fails.
std::optional<HistoryLine> parseLine(const QString& line, QString* why) {
    const QStringList f = line.split(QLatin1Char(','));
    if (f.size() != 10 || f[3] != QLatin1String("msec") || f[5] != QLatin1String("byte") ||
        f[7] != QLatin1String("kbps") || f[9] != QLatin1String("Mbps")) {
        *why = QStringLiteral("not ten fields with msec, byte, kbps, Mbps: ") + line;
        return std::nullopt;
    }
    HistoryLine h;
    static const QRegularExpression first(QStringLiteral("^(\\**)(.*)$"));
    const auto m = first.match(f[0]);
    h.mark = m.captured(1);
    h.host = m.captured(2);

    static const QRegularExpression date(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})\\(([日月火水木金土])\\) (\\d{2}:\\d{2}:\\d{2})$"));
    const auto d = date.match(f[1]);
    if (!d.hasMatch()) {
        *why = QStringLiteral("date-time field: ") + f[1];
        return std::nullopt;
    }
    h.started = QDateTime::fromString(d.captured(1) + QLatin1Char(' ') + d.captured(3),
                                      QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    static const QString weekdays = QStringLiteral("月火水木金土日"); // Monday first
    if (!h.started.isValid() ||
        weekdays.at(h.started.date().dayOfWeek() - 1) != d.captured(2).at(0)) {
        *why = QStringLiteral("date-time field: no such day or wrong weekday: ") + f[1];
        return std::nullopt;
    }

    static const QRegularExpression integer(QStringLiteral("^(0|[1-9]\\d*)$"));
    static const QRegularExpression oneDecimal(QStringLiteral("^(0|[1-9]\\d*)\\.\\d$"));
    static const QRegularExpression threeDecimals(QStringLiteral("^(0|[1-9]\\d*)\\.\\d{3}$"));
    if (!integer.match(f[2]).hasMatch() || !integer.match(f[4]).hasMatch()) {
        *why = QStringLiteral("connect time or bytes not a plain integer: ") + line;
        return std::nullopt;
    }
    if (!oneDecimal.match(f[6]).hasMatch() || !threeDecimals.match(f[8]).hasMatch()) {
        *why = QStringLiteral("speeds not in the 1- and 3-decimal formats: ") + line;
        return std::nullopt;
    }
    h.connectMs = f[2].toLongLong();
    h.bytes = f[4];
    h.kbpsText = f[6];
    h.mbpsText = f[8];
    h.kbps = f[6].toDouble();
    h.mbps = f[8].toDouble();
    return h;
}

} // namespace

class BinaryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(binaryDir() + QStringLiteral("/quillmet")).isExecutable(),
                 "build/quillmet is missing");
        const QString failure = m_host.Start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        m_port = m_host.Port();
        qInfo("%s", qPrintable(m_host.Output().trimmed()));
        m_sampleSize = QFileInfo(m_hostDir + QStringLiteral("/www/qm/") + kSample).size();
        QCOMPARE(m_sampleSize, qint64(4194304));
    }

    void cleanupTestCase() {
        if (m_port == 0)
            return;
        QCOMPARE(m_host.Run(QStringLiteral("stop")), 0);
    }

    void init() {
        QVERIFY(m_dir.emplace().isValid());
        m_logOffset = QFileInfo(accessLog()).size();
    }
    void cleanup() {
        // The folder of a failed test stays for a look.
        if (QTest::currentTestFailed()) {
            m_dir->setAutoRemove(false);
            qInfo("kept %s", qPrintable(m_dir->path()));
        }
        m_dir.reset();
    }

    // Two runs of five rounds against the sample host: exactly two lines appended, each in the
    // history layout with this host, the file's size and plausible speeds; the rest intact.
    void countTwoAppendsTwoHistoryLines() {
        const QString host = QStringLiteral("localhost:%1").arg(m_port);
        const StateSnapshot prepared =
            preparedState(QStringLiteral("http://%1/qm/%2").arg(host, kSample), true,
                          QStringLiteral("0"), QStringLiteral("0"));
        StateSnapshot before;
        QVERIFY(prepare(prepared, &before));
        const int oldLines = int(before.ListBox1.size());

        const QDateTime startedAt = QDateTime::currentDateTime();
        QElapsedTimer clock;
        clock.start();
        Program program(m_dir->path(), {QStringLiteral("2")});
        QVERIFY(program.started());

        // qm1.dat is rewritten after every history line: watch it fill.
        StateSnapshot seen;
        QDeadlineTimer deadline(kRunsWait);
        qint64 firstLineMs = -1;
        while (seen.ListBox1.size() < oldLines + 2) {
            QVERIFY2(program.running(),
                     qPrintable(QStringLiteral("quillmet ended early: ") + program.output()));
            QVERIFY2(!deadline.hasExpired(),
                     qPrintable(QStringLiteral("%1 of 2 history lines after %2 ms")
                                    .arg(seen.ListBox1.size() - oldLines)
                                    .arg(kRunsWait)));
            QTest::qWait(200);
            StateReadResult read;
            seen = readBack(statePath(*m_dir), &read);
            QVERIFY2(!read.failed(), qPrintable(read.reason));
            if (firstLineMs < 0 && seen.ListBox1.size() > oldLines)
                firstLineMs = clock.elapsed();
        }
        const qint64 secondLineMs = clock.elapsed();

        // Long enough for a third run to have fetched its first round, were one started.
        QTest::qWait(kRepeatSettle);
        QVERIFY(program.running());
        const auto savedAfterRuns = stampOf(statePath(*m_dir));
        QString why;
        QVERIFY2(program.terminate(&why), qPrintable(why + QLatin1Char('\n') + program.output()));
        const QDateTime endedAt = QDateTime::currentDateTime();
        QVERIFY2(stampOf(statePath(*m_dir)) != savedAfterRuns, "qm1.dat not written at the close");

        StateReadResult read;
        const StateSnapshot after = readBack(statePath(*m_dir), &read);
        QCOMPARE(read.status, StateReadResult::Status::Read);
        QCOMPARE(read.recordsRead, StateRecordCount);

        QCOMPARE(after.ListBox1.size(), oldLines + 2);
        QCOMPARE(after.ListBox1.mid(0, oldLines), before.ListBox1);
        std::vector<HistoryLine> lines;
        for (const QString& text : after.ListBox1.mid(oldLines)) {
            const auto line = parseLine(text, &why);
            QVERIFY2(line, qPrintable(why));
            qInfo("%s", qPrintable(text));
            // "*" marks an unsteady run; "**" would be a connect time below zero.
            QVERIFY2(line->mark.isEmpty() || line->mark == QLatin1String("*"), qPrintable(text));
            QCOMPARE(line->host, host);
            QCOMPARE(line->bytes, QString::number(m_sampleSize));
            QVERIFY2(line->connectMs <= 10000, qPrintable(text));
            QVERIFY2(line->kbps > 0 && line->mbps > 0, qPrintable(text));
            QVERIFY2(line->mbps < kLoopbackMaxMbps, qPrintable(text));
            // One speed in two units: kbps is 1,024 times Mbps up to the two roundings.
            QVERIFY2(qAbs(line->kbps - 1024 * line->mbps) <= 0.05 + 1024 * 0.0005,
                     qPrintable(text));
            QVERIFY2(line->started >= startedAt.addSecs(-1) && line->started <= endedAt,
                     qPrintable(text));
            lines.push_back(*line);
        }
        // Four pauses of 2.5 s within a run, then 3 s before the next: at least 13 s apart
        // (12 in whole seconds).
        const qint64 gap = lines[0].started.secsTo(lines[1].started);
        QVERIFY2(gap >= 12 && gap <= 40, qPrintable(QString::number(gap)));

        // Exactly ten fetches, all of them whole, by HTTP/1.0.
        const QStringList requests = newRequests();
        QCOMPARE(requests.size(), 10);
        const QString expected =
            QStringLiteral("\"GET /qm/%1 HTTP/1.0\" 200 %2 ").arg(kSample).arg(m_sampleSize);
        for (const QString& request : requests)
            QVERIFY2(request.contains(expected), qPrintable(request));

        // The record was on at 0: it holds the fastest unmarked run, none if all were marked.
        QString recordKbps = QStringLiteral("0");
        QString recordMbps = QStringLiteral("0");
        for (const HistoryLine& line : lines) {
            if (line.mark.isEmpty() && recordKbps.toDouble() < line.kbps) {
                recordKbps = line.kbpsText;
                recordMbps = line.mbpsText;
            }
        }
        QCOMPARE(after.Label42.Caption, recordKbps);
        QCOMPARE(after.Label43.Caption, recordMbps);

        // Everything else as it was.
        StateSnapshot rest = after;
        rest.ListBox1 = before.ListBox1;
        rest.Label42.Caption = before.Label42.Caption;
        rest.Label43.Caption = before.Label43.Caption;
        QCOMPARE(rest, before);

        qInfo("first line after %lld ms, second after %lld ms, %lld s apart; total %lld ms",
              firstLineMs, secondLineMs, gap, clock.elapsed());
    }

    // No count, or one outside 1 to 5, or more than one argument: no run at all, and the state
    // written at the close is the state read at the start.
    void withoutCountNothingRuns_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("recordOn");
        QTest::newRow("no argument") << QStringList() << true;
        QTest::newRow("0") << QStringList{QStringLiteral("0")} << false;
        QTest::newRow("6") << QStringList{QStringLiteral("6")} << true;
        QTest::newRow("two arguments")
            << QStringList{QStringLiteral("2"), QStringLiteral("2")} << false;
    }
    void withoutCountNothingRuns() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, recordOn);
        const StateSnapshot prepared =
            preparedState(QStringLiteral("http://127.0.0.1:%1/qm/%2").arg(m_port).arg(kSample),
                          recordOn, QStringLiteral("94811.3"), QStringLiteral("92.589"));
        StateSnapshot before;
        QVERIFY(prepare(prepared, &before));
        const auto prepared_stamp = stampOf(statePath(*m_dir));

        Program program(m_dir->path(), arguments);
        QVERIFY(program.started());
        QTRY_VERIFY_WITH_TIMEOUT(CatchesSignal(program.pid(), SIGTERM), 10000);
        QTest::qWait(kNoRunSettle);
        QVERIFY2(program.running(), qPrintable(program.output()));
        QString why;
        QVERIFY2(program.terminate(&why), qPrintable(why + QLatin1Char('\n') + program.output()));

        QVERIFY2(stampOf(statePath(*m_dir)) != prepared_stamp, "qm1.dat not written at the close");
        StateReadResult read;
        const StateSnapshot after = readBack(statePath(*m_dir), &read);
        QCOMPARE(read.status, StateReadResult::Status::Read);
        QCOMPARE(after, before);
        QCOMPARE(newRequests(), QStringList());
    }

    // Nothing keeps a signal from ending the start at once with 0: not a message box nobody can
    // answer (the exception report of a refused connect, opened by the command-line run inside
    // FormCreate, before the event loop runs), nor a FIFO named qm1.dat. The window closes in
    // order and writes qm1.dat: the state it read, or its own in the FIFO's place.
    void signalEndsTheStartAtOnce_data() {
        QTest::addColumn<int>("sig");
        QTest::addColumn<bool>("fifo");
        QTest::newRow("box open, SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("box open, SIGINT") << int(SIGINT) << false;
        QTest::newRow("box open, SIGHUP") << int(SIGHUP) << false;
        QTest::newRow("qm1.dat a FIFO") << int(SIGTERM) << true;
    }
    void signalEndsTheStartAtOnce() {
        QFETCH(int, sig);
        QFETCH(bool, fifo);
        StateSnapshot before;
        if (fifo)
            QCOMPARE(::mkfifo(QFile::encodeName(statePath(*m_dir)).constData(), 0644), 0);
        else
            QVERIFY(prepare(
                preparedState(QStringLiteral("http://127.0.0.1:%1/qm/qm1M.jpg").arg(ClosedPort()),
                              true, QStringLiteral("1.0"), QStringLiteral("0.001")),
                &before));
        const auto preparedStamp = stampOf(statePath(*m_dir));

        Program program(m_dir->path(), fifo ? QStringList() : QStringList{QStringLiteral("1")});
        QVERIFY(program.started());
        QTRY_VERIFY_WITH_TIMEOUT(CatchesSignal(program.pid(), sig), 10000);
        QTest::qWait(kBoxSettle);
        QVERIFY2(program.running(), qPrintable(program.output()));
        QString why;
        qint64 took = 0;
        QVERIFY2(program.terminate(&why, sig, &took),
                 qPrintable(why + QLatin1Char('\n') + program.output()));
        qInfo("ended %lld ms after signal %d", took, sig);
        QVERIFY2(took < kSignalExitMs, qPrintable(QString::number(took)));

        QVERIFY2(stampOf(statePath(*m_dir)) != preparedStamp, "qm1.dat not written at the close");
        StateReadResult read;
        const StateSnapshot after = readBack(statePath(*m_dir), &read);
        QCOMPARE(read.status, StateReadResult::Status::Read);
        if (!fifo)
            QCOMPARE(after, before);
    }

private:
    QString accessLog() const { return m_hostDir + QStringLiteral("/run/access.log"); }

    // Writes the state with the project's writer and reads it back as the program will.
    bool prepare(const StateSnapshot& state, StateSnapshot* readBackState) {
        const StateWriteResult written = WriteStateFile(statePath(*m_dir), state);
        if (!written.ok) {
            qWarning("%s", qPrintable(written.reason));
            return false;
        }
        // The file keeps a shown record label as "no Visible entry": it reads back hidden,
        // and the window shows it again from Label44.
        StateSnapshot expected = state;
        for (LabelState* label : {&expected.Label41, &expected.Label42, &expected.Label43})
            label->Visible = false;
        StateReadResult read;
        *readBackState = readBack(statePath(*m_dir), &read);
        if (read.status != StateReadResult::Status::Read || !(*readBackState == expected)) {
            qWarning("prepared state does not read back: %s", qPrintable(read.reason));
            return false;
        }
        return true;
    }

    // The sample host's log lines written since the test began.
    QStringList newRequests() const {
        QFile log(accessLog());
        if (!log.open(QIODevice::ReadOnly) || !log.seek(m_logOffset))
            return {QStringLiteral("cannot read ") + accessLog()};
        return QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    const QString m_hostDir = binaryDir() + QStringLiteral("/e2e-sample-host");
    SampleHostScript m_host{binaryDir(), m_hostDir};
    quint16 m_port = 0;
    qint64 m_sampleSize = 0;
    std::optional<QTemporaryDir> m_dir;
    qint64 m_logOffset = 0;
};

QTEST_GUILESS_MAIN(BinaryTest)
#include "binary_test.moc"
