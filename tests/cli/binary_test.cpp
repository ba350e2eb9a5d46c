// build/quillmet-cli end to end against the local sample host (scripts/sample-host on a port of
// its own): the records, the requests it makes, the history it appends and the window's lock.
#include "cli/CliProcess.h"
#include "core/state/StateFile.h"
#include "core/state/Tpf0.h"
#include "support/ProcessSignals.h"
#include "support/SampleHostScript.h"
#include "support/ScriptedPeer.h"
#include "support/TestHelpers.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>
#include <sys/stat.h>

namespace {

const QString kSample = QStringLiteral("qm4M.jpg"); // not too small even on loopback

QString binaryDir() {
    return qEnvironmentVariable("QM_BINARY_DIR");
}

// The window's history line: mark and host, date(weekday) time, then the four value pairs.
const QRegularExpression kHistoryLine(QStringLiteral(
    "^(\\**)([^,]*),\\d{4}-\\d{2}-\\d{2}\\([日月火水木金土]\\) \\d{2}:\\d{2}:\\d{2},"
    "(0|[1-9]\\d*),msec,(0|[1-9]\\d*),byte,(0|[1-9]\\d*)\\.\\d,kbps,(0|[1-9]\\d*)\\.\\d{3},Mbps$"));

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray encodedLine(const QString& line) {
    tpf0::Writer w;
    w.WriteText(line);
    return QByteArray::fromStdString(w.Data());
}

// Whether some process holds an open-file-description lock on the file (/proc/locks).
bool lockedByAnyone(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    const QString inode = QStringLiteral(":%1 ").arg(st.st_ino);
    for (const QString& line : QString::fromLatin1(locks.readAll()).split(QLatin1Char('\n'))) {
        if (line.contains(QLatin1String("OFDLCK")) && line.contains(inode))
            return true;
    }
    return false;
}

} // namespace

class CliBinaryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(binaryDir() + QStringLiteral("/quillmet-cli")).isExecutable(),
                 "build/quillmet-cli is missing");
        const QString failure = m_host.Start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        m_port = m_host.Port();
        m_url = QStringLiteral("http://localhost:%1/qm/%2").arg(m_port).arg(kSample);
        m_size = QFileInfo(m_hostDir + QStringLiteral("/www/qm/") + kSample).size();
        QCOMPARE(m_size, qint64(4194304));
    }
    void cleanupTestCase() {
        if (m_port != 0)
            QCOMPARE(m_host.Run(QStringLiteral("stop")), 0);
    }
    void init() {
        QVERIFY(m_dir.emplace().isValid());
        m_logOffset = QFileInfo(accessLog()).size();
    }
    void cleanup() {
        if (QTest::currentTestFailed())
            m_dir->setAutoRemove(false);
        m_dir.reset();
    }

    // The program that scripts run links no GUI library at all.
    void linksNoGuiLibrary() {
        QProcess ldd;
        ldd.start(QStringLiteral("ldd"), {binaryDir() + QStringLiteral("/quillmet-cli")});
        QVERIFY(ldd.waitForFinished(10000));
        const QString libraries = QString::fromLocal8Bit(ldd.readAllStandardOutput());
        QVERIFY2(libraries.contains(QLatin1String("libQt6Core")), qPrintable(libraries));
        QVERIFY2(!libraries.contains(QLatin1String("libQt6Gui")), qPrintable(libraries));
        QVERIFY2(!libraries.contains(QLatin1String("libQt6Widgets")), qPrintable(libraries));
    }

    // One JSON Lines record with every field of its type; nothing on standard error when it
    // is no terminal; five requests.
    void jsonRecord() {
        const CliResult r = RunCli(m_dir->path(), {QStringLiteral("--json"), m_url});
        QVERIFY2(r.normalExit && r.exitCode == 0 && r.err.isEmpty(), qPrintable(Describe(r)));
        QVERIFY(r.out.endsWith(QLatin1Char('\n')));
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        qInfo("%s", qPrintable(lines.front()));
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(lines.front().toUtf8(), &error);
        QVERIFY2(doc.isObject(), qPrintable(error.errorString()));
        const QJsonObject o = doc.object();

        QCOMPARE(o.value("kind").toString(), QStringLiteral("download"));
        QCOMPARE(o.value("url").toString(), m_url);
        QCOMPARE(o.value("host").toString(), QStringLiteral("localhost:%1").arg(m_port));
        QVERIFY(o.value("started").isString());
        const QDateTime started = QDateTime::fromString(o.value("started").toString(), Qt::ISODate);
        QVERIFY(started.isValid() && qAbs(started.secsTo(QDateTime::currentDateTime())) < 60);
        QVERIFY(QRegularExpression(QStringLiteral("[+-]\\d{2}:\\d{2}$"))
                    .match(o.value("started").toString())
                    .hasMatch());
        for (const char* number : {"connect_ms", "bytes", "kbps", "mbps", "mbit_s", "mark"})
            QVERIFY2(o.value(number).isDouble(), number);
        QCOMPARE(o.value("bytes").toInteger(), m_size);
        QVERIFY(o.value("mbit_s").toDouble() > 0);
        // The same speed in the window's Mbps (2^20 bits) and in megabits (10^6).
        QVERIFY(qAbs(o.value("mbit_s").toDouble() - o.value("mbps").toDouble() * 1.048576) <=
                0.002 + o.value("mbps").toDouble() * 1e-6);
        const QJsonArray rounds = o.value("rounds").toArray();
        QCOMPARE(rounds.size(), 5);
        for (const QJsonValue& round : rounds) {
            for (const char* number : {"bytes_per_s", "kbps", "mbps"})
                QVERIFY2(round.toObject().value(number).isDouble(), number);
            QVERIFY(round.toObject().value("bytes_per_s").toDouble() > 0);
        }
        const QJsonArray reasons = o.value("mark_reasons").toArray();
        QCOMPARE(o.value("mark").toInt() == 0, reasons.isEmpty());
        for (const QJsonValue& reason : reasons)
            QVERIFY(reason.toString() == QLatin1String("unsteady"));

        const QString line = o.value("history_line").toString();
        const auto m = kHistoryLine.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        QCOMPARE(m.captured(1).size(), o.value("mark").toInt());
        QCOMPARE(m.captured(2), o.value("host").toString());
        QCOMPARE(m.captured(3).toLongLong(), o.value("connect_ms").toInteger());
        QCOMPARE(m.captured(4).toLongLong(), m_size);
        QCOMPARE(line.split(QLatin1Char(','))[6].toDouble(), o.value("kbps").toDouble());
        QCOMPARE(line.split(QLatin1Char(','))[8].toDouble(), o.value("mbps").toDouble());

        QCOMPARE(newRequests().size(), 5);
    }

    // --server and --size measure the preset on that server, as the window's preset would.
    void presetOfTheGivenServer() {
        const CliResult r =
            RunCli(m_dir->path(), {QStringLiteral("--json"), QStringLiteral("--server"),
                                   QStringLiteral("localhost:%1").arg(m_port),
                                   QStringLiteral("--size"), QStringLiteral("4M")});
        QVERIFY2(r.normalExit && r.exitCode == 0 && r.err.isEmpty(), qPrintable(Describe(r)));
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("url").toString(), m_url);
        QCOMPARE(o.value("bytes").toInteger(), m_size);
        QCOMPARE(newRequests().size(), 5);
    }

    // An HTTP upload to the sample host's sink: a record of kind upload-http with five rounds
    // and their body lengths.
    void uploadHttpToTheSampleHost() {
        const QString server = QStringLiteral("127.0.0.1:%1").arg(m_port);
        const CliResult r = RunCli(m_dir->path(),
                                   {QStringLiteral("--upload-http"), QStringLiteral("--server"),
                                    server, QStringLiteral("--json")},
                                   120000);
        QVERIFY2(r.normalExit && r.exitCode == 0 && r.err.isEmpty(), qPrintable(Describe(r)));
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("kind").toString(), QStringLiteral("upload-http"));
        QCOMPARE(o.value("server").toString(), server);
        const QJsonArray rounds = o.value("rounds").toArray();
        QCOMPARE(rounds.size(), 5);
        QCOMPARE(rounds[0].toObject().value("bytes").toInteger(), 1048576);
        QCOMPARE(o.value("bytes").toInteger(), rounds[4].toObject().value("bytes").toInteger());
        const auto m = kHistoryLine.match(o.value("history_line").toString());
        // The kind's own star, after the stars of a mark (loopback rounds may be unsteady).
        QVERIFY(m.hasMatch());
        QCOMPARE(m.captured(1), QString(o.value("mark").toInt() + 1, QLatin1Char('*')));
        QCOMPARE(m.captured(2), QStringLiteral("upload-http(%1)").arg(server));
    }

    // Two runs in CSV, appended to a used qm1.dat: ten whole requests by HTTP/1.0, a header
    // and two rows, and exactly the two lines added to the file, every other byte kept.
    void csvTwoRunsAppendTwoLines() {
        StateSnapshot prepared;
        prepared.Edit7 = {QStringLiteral("http://speed.example.jp/qm/qm1M.jpg"), true};
        prepared.ListBox1 = {QStringLiteral("speed.example.jp,2013-05-19(日) 07:15:05,62,msec,"
                                            "1048576,byte,8192.0,kbps,8.000,Mbps"),
                             QStringLiteral("*upload(310KB),2013-05-20(月) 21:03:44,0,msec,"
                                            "319488,byte,1702.4,kbps,1.663,Mbps")};
        prepared.Label15 = {QStringLiteral("http://speed.example.jp/qm/qm1M.jpg"), 187, false};
        prepared.Label44 = {QStringLiteral("true"), 20, false};
        QVERIFY(WriteStateFile(statePath(*m_dir), prepared).ok);
        const QByteArray before = bytesOf(statePath(*m_dir));

        const CliResult r = RunCli(m_dir->path(),
                                   {QStringLiteral("--csv"), QStringLiteral("--runs"),
                                    QStringLiteral("2"), QStringLiteral("--append-history"), m_url},
                                   90000);
        QVERIFY2(r.normalExit && r.exitCode == 0 && r.err.isEmpty(), qPrintable(Describe(r)));
        const QStringList rows = r.out.split(QStringLiteral("\r\n"));
        QCOMPARE(rows.size(), 4); // header, two rows, and nothing after the last CR LF
        QVERIFY(rows[3].isEmpty());
        const QStringList header = rows[0].split(QLatin1Char(','));
        QCOMPARE(header.mid(0, 11), (QStringList{"kind", "host", "started", "connect_ms", "bytes",
                                                 "kbps", "mbps", "mbit_s", "mark", "url", "smtp"}));
        QCOMPARE(header.last(), QStringLiteral("history_line"));
        QStringList appended;
        for (const QString& row : rows.mid(1, 2)) {
            qInfo("%s", qPrintable(row));
            // The history line is the one quoted field: it holds commas.
            const qsizetype quote = row.indexOf(QLatin1Char('"'));
            QVERIFY(quote > 0 && row.endsWith(QLatin1Char('"')));
            const QStringList fields = row.left(quote - 1).split(QLatin1Char(','));
            QCOMPARE(fields.size() + 1, header.size());
            QCOMPARE(fields[0], QStringLiteral("download"));
            QCOMPARE(fields[4], QString::number(m_size));
            QCOMPARE(fields[9], m_url);
            appended << row.mid(quote + 1).chopped(1);
            QVERIFY2(kHistoryLine.match(appended.last()).hasMatch(), qPrintable(appended.last()));
        }

        const QStringList requests = newRequests();
        QCOMPARE(requests.size(), 10);
        const QString whole =
            QStringLiteral("\"GET /qm/%1 HTTP/1.0\" 200 %2 ").arg(kSample).arg(m_size);
        for (const QString& request : requests)
            QVERIFY2(request.contains(whole), qPrintable(request));

        // The file is the old one with the two encoded lines before the list's end.
        QByteArray after = bytesOf(statePath(*m_dir));
        const QByteArray added = encodedLine(appended[0]) + encodedLine(appended[1]);
        const qsizetype at = after.indexOf(added);
        QVERIFY(at > 0);
        QCOMPARE(after.remove(at, added.size()), before);
        StateSnapshot read;
        QCOMPARE(ReadStateFile(statePath(*m_dir), read).recordsRead, StateRecordCount);
        QCOMPARE(read.ListBox1, prepared.ListBox1 + appended);
    }

    // A window that has qm1.dat keeps the command line out before it measures anything;
    // after both have ended the file is what the window found.
    void windowHoldingTheLockRefusesTheAppend() {
        // The state as the window itself writes it.
        {
            Window window(m_dir->path());
            QVERIFY(window.started());
            QTRY_VERIFY_WITH_TIMEOUT(lockedByAnyone(lockPath()), 10000);
            QVERIFY(window.terminate());
        }
        const QByteArray before = bytesOf(statePath(*m_dir));
        QVERIFY(!before.isEmpty());

        Window window(m_dir->path());
        QVERIFY(window.started());
        QTRY_VERIFY_WITH_TIMEOUT(lockedByAnyone(lockPath()), 10000);
        const CliResult r = RunCli(
            m_dir->path(), {QStringLiteral("--json"), QStringLiteral("--append-history"), m_url});
        QVERIFY2(r.normalExit && r.exitCode == 5, qPrintable(Describe(r)));
        QVERIFY(r.out.isEmpty());
        QCOMPARE(r.err, QStringLiteral("quillmet-cli: Quillmet のウィンドウが開いているため、"
                                       "履歴に追記できません。ウィンドウを閉じてからもう一度"
                                       "実行してください。\n"));
        QVERIFY(window.terminate());
        QCOMPARE(bytesOf(statePath(*m_dir)), before);
        QCOMPARE(newRequests(), QStringList());
    }

private:
    // build/quillmet, headless, with no count: it only holds its state.
    class Window final {
    public:
        explicit Window(const QString& dir) {
            auto env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            m_process.setProcessEnvironment(env);
            m_process.setWorkingDirectory(dir);
            m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
            m_process.start(binaryDir() + QStringLiteral("/quillmet"), QStringList());
        }
        ~Window() {
            if (m_process.state() != QProcess::NotRunning) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
        bool started() { return m_process.waitForStarted(10000); }
        bool terminate() {
            if (!QTest::qWaitFor([&] { return CatchesSignal(m_process.processId(), SIGTERM); },
                                 10000))
                return false;
            ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
            return m_process.waitForFinished(15000) &&
                   m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
        }

    private:
        QProcess m_process;
    };

    QString lockPath() const { return statePath(*m_dir) + QStringLiteral(".lock"); }
    QString accessLog() const { return m_hostDir + QStringLiteral("/run/access.log"); }
    QStringList newRequests() const {
        QFile log(accessLog());
        if (!log.open(QIODevice::ReadOnly) || !log.seek(m_logOffset))
            return {QStringLiteral("cannot read ") + accessLog()};
        return QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    const QString m_hostDir = binaryDir() + QStringLiteral("/cli-sample-host");
    SampleHostScript m_host{binaryDir(), m_hostDir};
    quint16 m_port = 0;
    QString m_url;
    qint64 m_size = 0;
    std::optional<QTemporaryDir> m_dir;
    qint64 m_logOffset = 0;
};

QTEST_GUILESS_MAIN(CliBinaryTest)
#include "binary_test.moc"
