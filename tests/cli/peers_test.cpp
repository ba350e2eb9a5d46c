// build/quillmet-cli against scripted loopback peers and bad input: the exit code, the message,
// no crash, and qm1.dat exactly as it was. The upload runs in process against a scripted SMTP
// peer (the program's own port is 25).
#include "cli/CliProcess.h"
#include "cli/CliRunner.h"
#include "core/measure/DownloadRun.h"
#include "core/net/ScktComp.h"
#include "core/platform/WindowTimer.h"
#include "core/schedule/MeasurementSchedule.h"
#include "core/state/StateFile.h"
#include "core/upload/HttpUploadRun.h"
#include "core/upload/UploadRun.h"
#include "support/ProcessSignals.h"
#include "support/ScriptedPeer.h"
#include "support/SmtpPeer.h"
#include "support/TestHelpers.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>
#include <unistd.h>

namespace {

enum class Peer { None, NotFound, Silent, Refused, Stalled };
// What a peer does to end a run in one way.
enum class Ending {
    Refused,
    Unresolved,
    Reset,
    Silent,
    Stalled,
    NotFound,
    TooBig,
    CutShort,
    Other
};

constexpr qint64 kMiB = 1024 * 1024;

QByteArray sinkReply(const QByteArray& status, const QByteArray& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

// The peer as a measurement server: its descriptor on the first connection, the sink after.
void describeSink(ScriptedPeer& peer, qint64 maxBytes) {
    peer.readRequest()
        .send(sinkReply("200 OK", R"({"name":"t","version":"1","files":[],"upload":)"
                                  R"({"path":"/qm/up","max_bytes":)" +
                                      QByteArray::number(maxBytes) + "}}"))
        .close()
        .next();
}

CliOptions httpUploadOptions(const ScriptedPeer& peer) {
    CliOptions options;
    options.uploadHttp = true;
    options.server = QStringLiteral("127.0.0.1:%1").arg(peer.port());
    options.format = CliOptions::Format::Json;
    return options;
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class CliPeersTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(m_dir.emplace().isValid());
        StateSnapshot used;
        used.Edit7 = {QStringLiteral("http://speed.example.jp/qm/qm1M.jpg"), true};
        used.ListBox1 = {QStringLiteral("speed.example.jp,2013-05-19(日) 07:15:05,62,msec,"
                                        "1048576,byte,8192.0,kbps,8.000,Mbps")};
        QVERIFY(WriteStateFile(statePath(*m_dir), used).ok);
        m_before = bytesOf(statePath(*m_dir));
    }
    void cleanup() {
        if (!m_mounted.isEmpty())
            QProcess::execute(QStringLiteral("umount"), {m_mounted});
        m_mounted.clear();
        m_dir.reset();
    }

    void failsWithItsCodeAndLeavesTheHistory_data() {
        QTest::addColumn<Peer>("peer");
        QTest::addColumn<QStringList>("arguments"); // URL: the peer's, "%1" its port
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("withinMs");
        const QString url = QStringLiteral("http://127.0.0.1:%1/qm/qm1M.jpg");
        QTest::newRow("404") << Peer::NotFound << QStringList{url} << 6
                             << "quillmet-cli: 接続できませんでした（HTTP 404）\n"
                             << 10000;
        QTest::newRow("refused port") << Peer::Refused << QStringList{url} << 4
                                      << "quillmet-cli: Connection Failed（127.0.0.1:" << 10000;
        QTest::newRow("silent server")
            << Peer::Silent << QStringList{QStringLiteral("--timeout"), QStringLiteral("2"), url}
            << 4 << "quillmet-cli: Socket readln aborted（2 秒応答がないため打ち切りました）\n"
            << 3500;
        QTest::newRow("unanswered connect")
            << Peer::Stalled << QStringList{QStringLiteral("--timeout"), QStringLiteral("2"), url}
            << 4 << "" << 3500;
        QTest::newRow("host that does not resolve")
            << Peer::None
            << QStringList{QStringLiteral("--timeout"), QStringLiteral("5"),
                           QStringLiteral("http://quillmet-cli-test.invalid/qm/qm1M.jpg")}
            << 4 << "" << 10000;
        QTest::newRow("unknown option") << Peer::None << QStringList{QStringLiteral("--fast"), url}
                                        << 2 << "quillmet-cli: 知らないオプションです: --fast\n"
                                        << 10000;
        QTest::newRow("no URL") << Peer::None << QStringList{QStringLiteral("--json")} << 2
                                << "quillmet-cli: 測定する URL を指定してください\n"
                                << 10000;
        QTest::newRow("runs 0") << Peer::None
                                << QStringList{QStringLiteral("--runs"), QStringLiteral("0"), url}
                                << 2 << "" << 10000;
        QTest::newRow("URL of 100 KB")
            << Peer::None
            << QStringList{QStringLiteral("http://h/") + QString(100 * 1024, QLatin1Char('a')) +
                           QStringLiteral(".jpg")}
            << 3 << "quillmet-cli: エラー：URLが長すぎます（8192バイトまで）\n"
            << 10000;
        QTest::newRow("URL with a line feed")
            << Peer::NotFound << QStringList{url + QStringLiteral("\nX: y.jpg")} << 3
            << "quillmet-cli: URLに使えない文字が含まれています。\n"
            << 10000;
        // The host part is refused before anything is sent: a port 65536 above the peer's
        // would wrap around to it.
        QTest::newRow("port that wraps around")
            << Peer::NotFound << QStringList{QStringLiteral("http://127.0.0.1:%2/qm/qm1M.jpg")} << 3
            << "quillmet-cli: ポート番号は1から65535までの数字で入れてください。\n"
            << 10000;
        QTest::newRow("not http") << Peer::None << QStringList{QStringLiteral("ftp://h/a.jpg")} << 3
                                  << "quillmet-cli: エラー：http://から始まるURLを入れてください\n"
                                  << 10000;
    }
    void failsWithItsCodeAndLeavesTheHistory() {
        QFETCH(Peer, peer);
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(int, withinMs);

        std::optional<ScriptedPeer> scripted;
        std::optional<StalledListener> stalled;
        quint16 port = 0;
        switch (peer) {
        case Peer::NotFound:
            scripted.emplace();
            scripted->readRequest()
                .send("HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")
                .close();
            port = scripted->port();
            break;
        case Peer::Silent:
            scripted.emplace();
            scripted->readRequest();
            port = scripted->port();
            break;
        case Peer::Stalled:
            stalled.emplace();
            QVERIFY(stalled->isReady());
            port = stalled->port();
            break;
        case Peer::Refused:
            port = ClosedPort();
            break;
        case Peer::None:
            break;
        }
        for (QString& argument : arguments)
            argument.replace(QStringLiteral("%2"), QString::number(port + 65536))
                .replace(QStringLiteral("%1"), QString::number(port));
        arguments << QStringLiteral("--append-history");

        const CliResult r = RunCli(m_dir->path(), arguments, 30000);
        QVERIFY2(r.normalExit && r.exitCode == code, qPrintable(Describe(r)));
        QVERIFY2(r.ms <= withinMs, qPrintable(Describe(r)));
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.startsWith(QStringLiteral("quillmet-cli: ")), qPrintable(r.err));
        if (!message.isEmpty())
            QVERIFY2(r.err.startsWith(message), qPrintable(r.err));
        QCOMPARE(bytesOf(statePath(*m_dir)), m_before);
        if (peer == Peer::NotFound && code == 3)
            QCOMPARE(scripted->connectionCount(), 0); // refused before any request
    }

    // A termination signal ends a run under way: the request is dropped, nothing is printed
    // or appended, and the exit code tells which signal it was.
    void signalEndsTheRun_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void signalEndsTheRun() {
        QFETCH(int, signal);
        ScriptedPeer peer;
        peer.readRequest();
        CliProcess cli(m_dir->path(), {QStringLiteral("--append-history"),
                                       QString::fromStdString(peer.url("/qm/qm1M.jpg"))});
        QTRY_VERIFY_WITH_TIMEOUT(peer.connectionCount() == 1 && CatchesSignal(cli.pid(), signal),
                                 10000);
        ::kill(static_cast<pid_t>(cli.pid()), signal);
        const CliResult r = cli.finish(5000);
        QVERIFY2(r.normalExit && r.exitCode == 128 + signal, qPrintable(Describe(r)));
        QVERIFY(r.out.isEmpty());
        QTRY_VERIFY(peer.clientClosed());
        QCOMPARE(bytesOf(statePath(*m_dir)), m_before);
    }

    // The upload's record, as JSON, with the window's SMTP dialogue and history line.
    void uploadRecordAsJson() {
        SmtpPeer peer;
        peer.setScript(SmtpPeer::normalScript());
        CliOptions options;
        options.upload = true;
        options.smtp = QStringLiteral("127.0.0.1");
        options.mail = QStringLiteral("taro@example.jp");
        options.format = CliOptions::Format::Json;
        CliRunner runner(options);
        runner.Upload()->ClientSocket3->setPort(peer.port());
        QByteArray out;
        QStringList said;
        runner.Out = [&](const QByteArray& bytes) { out += bytes; };
        runner.Err = [&](const QString& text) { said << text; };
        QCOMPARE(runner.Prepare(), 0);
        QCOMPARE(runner.Measure(), 0);
        QCOMPARE(said, QStringList());

        QVERIFY(out.endsWith('\n') && out.count('\n') == 1);
        const QJsonObject o = QJsonDocument::fromJson(out).object();
        QCOMPARE(o.value("kind").toString(), QStringLiteral("upload"));
        QCOMPARE(o.value("smtp").toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(o.value("host").toString(), QString()); // as an export of its line has it
        QVERIFY(!o.contains("url") && !o.contains("rounds"));
        QCOMPARE(o.value("bytes").toInteger(), qint64(peer.mailData().size()));
        QVERIFY(o.value("bytes").toInteger() > 312000);
        QVERIFY(o.value("kbps").toDouble() > 0 && o.value("mbit_s").toDouble() > 0);
        QCOMPARE(o.value("mark").toInt(), 0);
        const QString line = o.value("history_line").toString();
        QVERIFY2(line.startsWith(QStringLiteral("*upload(310KB),")), qPrintable(line));
        QCOMPARE(line.split(QLatin1Char(','))[4], QString::number(o.value("bytes").toInteger()));
        QCOMPARE(peer.commands().value(1), QByteArray("Mail From:taro@example.jp\r\n"));
    }

    // Five posts to the sink: a record of kind upload-http naming the server, its five rounds
    // with each body's length, the last one's in "bytes" and in the history line.
    void httpUploadRecordAsJson() {
        ScriptedPeer peer;
        describeSink(peer, 2 * kMiB);
        peer.readRequest().readBody().sendBodyCount().close();
        CliRunner runner(httpUploadOptions(peer));
        runner.HttpUpload()->RoundTimer->setInterval(20);
        QByteArray out;
        QStringList said;
        runner.Out = [&](const QByteArray& bytes) { out += bytes; };
        runner.Err = [&](const QString& text) { said << text; };
        QCOMPARE(runner.Prepare(), 0);
        QCOMPARE(runner.Measure(), 0);
        QCOMPARE(said, QStringList());
        QCOMPARE(peer.connectionCount(), 6);
        const QJsonObject o = QJsonDocument::fromJson(out).object();
        const QString server = QStringLiteral("127.0.0.1:%1").arg(peer.port());
        QCOMPARE(o.value("kind").toString(), QStringLiteral("upload-http"));
        QCOMPARE(o.value("server").toString(), server);
        QCOMPARE(o.value("host").toString(), server);
        const QJsonArray rounds = o.value("rounds").toArray();
        QCOMPARE(rounds.size(), 5);
        QCOMPARE(rounds[0].toObject().value("bytes").toInteger(), kMiB);
        QVERIFY(rounds[1].toObject().value("bytes").toInteger() >= kMiB);
        QCOMPARE(o.value("bytes").toInteger(), rounds[4].toObject().value("bytes").toInteger());
        const QString line = o.value("history_line").toString();
        QVERIFY2(line.startsWith(QStringLiteral("*upload-http(%1),").arg(server)),
                 qPrintable(line));
        QCOMPARE(line.split(QLatin1Char(','))[4], QString::number(o.value("bytes").toInteger()));
    }

    // A sink that answers before the body: the server's doing, exit 6, one error record per
    // run of a series naming the server, and no history line.
    void httpUploadEarlyReply() {
        ScriptedPeer peer;
        for (int run = 0; run < 2; ++run) {
            describeSink(peer, 2 * kMiB);
            peer.readRequest().send(sinkReply("200 OK", R"({"bytes":1048576})")).close().next();
        }
        CliOptions options = httpUploadOptions(peer);
        options.runs = 2;
        options.appendHistory = true;
        CliRunner runner(options);
        runner.StatePath = statePath(*m_dir);
        runner.Schedule()->RepeatTimer->setInterval(10);
        QByteArray out;
        QStringList said;
        runner.Out = [&](const QByteArray& bytes) { out += bytes; };
        runner.Err = [&](const QString& text) { said << text; };
        QCOMPARE(runner.Prepare(), 0);
        QCOMPARE(runner.Measure(), 6);
        QCOMPARE(said.size(), 2);
        QCOMPARE(out.count('\n'), 2);
        const QJsonObject o = QJsonDocument::fromJson(out.left(out.indexOf('\n'))).object();
        QCOMPARE(o.value("kind").toString(), QStringLiteral("error"));
        QCOMPARE(o.value("exit_code").toInt(), 6);
        QCOMPARE(o.value("server").toString(), QStringLiteral("127.0.0.1:%1").arg(peer.port()));
        QCOMPARE(o.value("message").toString(), said[0]);
        QCOMPARE(peer.connectionCount(), 4);
        QCOMPARE(bytesOf(statePath(*m_dir)), m_before);
    }

    // A server that refuses the sender: the dialogue's text and the server's reply, exit 6,
    // at once rather than after the silence limit.
    void uploadRefusedBySender() {
        SmtpPeer peer;
        peer.setScript({SmtpPeer::reply("220 peer.test ESMTP\r\n"),
                        SmtpPeer::reply("250 peer.test\r\n"),
                        SmtpPeer::reply("550 5.7.1 Sender rejected\r\n")});
        CliOptions options;
        options.upload = true;
        options.smtp = QStringLiteral("127.0.0.1");
        options.mail = QStringLiteral("taro@example.jp");
        CliRunner runner(options);
        runner.Upload()->ClientSocket3->setPort(peer.port());
        QByteArray out;
        QStringList said;
        runner.Out = [&](const QByteArray& bytes) { out += bytes; };
        runner.Err = [&](const QString& text) { said << text; };
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runner.Measure(), 6);
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(said, QStringList{"From送信失敗. 550 5.7.1 Sender rejected"});
        QVERIFY(out.isEmpty());
    }

    // Each way a run can end reaches its outcome once, and the exit code that the CLI makes
    // of it; the CLI decides by the outcome, whatever the texts say.
    void eachEndHasItsOutcomeAndExitCode_data() {
        QTest::addColumn<bool>("upload");
        QTest::addColumn<Ending>("ending");
        QTest::addColumn<RunEnd>("end");
        QTest::addColumn<int>("code");
        const auto row = [](const char* name, bool upload, Ending ending, RunEnd end, int code) {
            QTest::newRow(name) << upload << ending << end << code;
        };
        row("download refused", false, Ending::Refused, RunEnd::Refused, 4);
        row("download unresolved", false, Ending::Unresolved, RunEnd::Unresolved, 4);
        row("download reset", false, Ending::Reset, RunEnd::Reset, 4);
        row("download timed out", false, Ending::Silent, RunEnd::TimedOut, 4);
        row("download error reply", false, Ending::NotFound, RunEnd::ErrorReply, 6);
        row("download too big", false, Ending::TooBig, RunEnd::TooBig, 6);
        row("download cut short", false, Ending::CutShort, RunEnd::CutShort, 4);
        row("download other failure", false, Ending::Other, RunEnd::Failed, 4);
        row("upload refused", true, Ending::Refused, RunEnd::Refused, 4);
        row("upload unresolved", true, Ending::Unresolved, RunEnd::Unresolved, 4);
        row("upload reset", true, Ending::Reset, RunEnd::Reset, 4);
        row("upload silent", true, Ending::Silent, RunEnd::TimedOut, 4);
        row("upload connect timed out", true, Ending::Stalled, RunEnd::TimedOut, 4);
        row("upload cut short", true, Ending::CutShort, RunEnd::CutShort, 4);
        row("upload refused reply", true, Ending::NotFound, RunEnd::SmtpRefused, 6);
    }
    void eachEndHasItsOutcomeAndExitCode() {
        QFETCH(bool, upload);
        QFETCH(Ending, ending);
        QFETCH(RunEnd, end);
        QFETCH(int, code);
        ScriptedPeer http;
        SmtpPeer smtp;
        std::optional<StalledListener> stalled;
        quint16 port = upload ? smtp.port() : http.port();
        QString host = QStringLiteral("127.0.0.1");
        switch (ending) {
        case Ending::Refused:
            port = ClosedPort();
            break;
        case Ending::Unresolved:
            host = QStringLiteral("quillmet-cli-test.invalid");
            break;
        case Ending::Reset:
            http.readRequest().send("HTTP/1.0 200 OK\r\nContent-Length: 900000\r\n\r\n").reset();
            smtp.setScript({SmtpPeer::reply("220 peer.test\r\n"), SmtpPeer::resetting()});
            break;
        case Ending::Silent:
            http.readRequest();
            smtp.setScript({SmtpPeer::silence()});
            break;
        case Ending::Stalled:
            stalled.emplace();
            QVERIFY(stalled->isReady());
            port = stalled->port();
            break;
        case Ending::NotFound:
            http.readRequest().send("HTTP/1.0 404 Not Found\r\n\r\n").close();
            smtp.setScript({SmtpPeer::reply("554 no service\r\n")});
            break;
        case Ending::TooBig:
            http.readRequest()
                .send("HTTP/1.0 200 OK\r\nContent-Length: 26300001\r\n\r\n")
                .stream(26300001)
                .close();
            break;
        case Ending::CutShort:
            http.readRequest().send("HTTP/1.0 200 OK\r\nContent-Length: 9000\r\n\r\nabc").close();
            smtp.setScript({SmtpPeer::reply("220 peer.test\r\n"), SmtpPeer::closing()});
            break;
        case Ending::Other:
            http.readRequest().send(QByteArray(70000, 'x')).close();
            break;
        }
        CliOptions options;
        options.upload = upload;
        options.timeoutSeconds = 1;
        options.smtp = host;
        options.mail = QStringLiteral("taro@example.jp");
        options.url = QStringLiteral("http://%1:%2/qm/qm1M.jpg").arg(host).arg(port);
        CliRunner runner(options);
        runner.Upload()->ClientSocket3->setPort(port);
        runner.Out = [](const QByteArray&) {};
        runner.Err = [](const QString&) {};
        std::optional<RunOutcome> seen;
        connect(runner.Download(), &DownloadRun::failed, this,
                [&](const RunOutcome& o) { seen = o; });
        connect(runner.Upload(), &UploadRun::connectFailed, this,
                [&](const RunOutcome& o) { seen = o; });
        connect(runner.Upload(), &UploadRun::finished, this,
                [&](const UploadResult& r) { seen = r.outcome; });
        QCOMPARE(runner.Measure(), code);
        QVERIFY(seen);
        QCOMPARE(seen->end, end);
        if (end == RunEnd::ErrorReply)
            QCOMPARE(seen->replyCode, 404);
        if (end == RunEnd::SmtpRefused) {
            QCOMPARE(seen->smtpStep, 0);
            QCOMPARE(seen->reply, QStringLiteral("554 no service"));
        }
    }

    // A redirect's failure names the host and port that were tried, not the URL's.
    void failureAfterARedirectNamesTheHostTried() {
        const quint16 closed = ClosedPort();
        ScriptedPeer http;
        http.readRequest()
            .send("HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" + QByteArray::number(closed) +
                  "/qm/qm1M.jpg\r\n\r\n")
            .close();
        CliOptions options;
        options.timeoutSeconds = 2;
        options.url = urlOf(http, "/qm/qm1M.jpg");
        CliRunner runner(options);
        QStringList said;
        runner.Out = [](const QByteArray&) {};
        runner.Err = [&](const QString& text) { said << text; };
        QCOMPARE(runner.Measure(), 4);
        QVERIFY2(
            said.join(QLatin1Char('\n'))
                .contains(QStringLiteral("（127.0.0.1:%1 で測定できませんでした）").arg(closed)),
            qPrintable(said.join(QLatin1Char('\n'))));
    }

    // --timeout bounds the reply header from the request, and --max-time the whole run,
    // however the server paces its bytes: exit 4 at the bound, the history unchanged.
    void boundsOfATrickle_data() {
        QTest::addColumn<bool>("dripHeader"); // else an endless slow body
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("fromMs");
        QTest::addColumn<int>("toMs");
        QTest::addColumn<QString>("message");
        QTest::newRow("a header line every 2 s")
            << true << QStringList{QStringLiteral("--timeout"), QStringLiteral("3")} << 2900 << 4500
            << "quillmet-cli: 3 秒のうちに応答ヘッダーが届かないため打ち切りました";
        QTest::newRow("a slow body that never ends")
            << false
            << QStringList{QStringLiteral("--timeout"), QStringLiteral("5"),
                           QStringLiteral("--max-time"), QStringLiteral("2")}
            << 1900 << 3500 << "quillmet-cli: 2 秒を過ぎても測定が終わらないため打ち切りました";
    }
    void boundsOfATrickle() {
        QFETCH(bool, dripHeader);
        QFETCH(QStringList, arguments);
        QFETCH(int, fromMs);
        QFETCH(int, toMs);
        QFETCH(QString, message);
        ScriptedPeer peer;
        if (dripHeader)
            peer.readRequest()
                .send("HTTP/1.0 200 OK\r\n")
                .sendInPieces(QByteArray("X-Drip: 1\r\n").repeated(60), {11}, 2000);
        else
            peer.readRequest()
                .send("HTTP/1.0 200 OK\r\nContent-Length: 10000000\r\n\r\n")
                .sendInPieces(QByteArray(100 * 1000, 'x'), {100}, 100);
        arguments << QStringLiteral("--append-history")
                  << QString::fromStdString(peer.url("/qm/qm1M.jpg"));
        const CliResult r = RunCli(m_dir->path(), arguments, 30000);
        QVERIFY2(r.normalExit && r.exitCode == 4, qPrintable(Describe(r)));
        QVERIFY2(r.ms >= fromMs && r.ms <= toMs, qPrintable(Describe(r)));
        QVERIFY2(r.err.startsWith(message), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        QCOMPARE(bytesOf(statePath(*m_dir)), m_before);
    }

    // A body that keeps coming, slower than the time-out but never silent that long, is
    // measured: the time-out is the longest silence, not the longest transfer.
    void slowSteadyBodyIsMeasured() {
        ScriptedPeer peer;
        peer.readRequest()
            .send("HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n")
            .sendInPieces(QByteArray(3000, 'x'), {750}, 450)
            .close();
        CliOptions options;
        options.timeoutSeconds = 1;
        options.maxTimeSeconds = 60;
        options.format = CliOptions::Format::Json;
        options.url = QString::fromStdString(peer.url("/qm/qm1M.jpg"));
        CliRunner runner(options);
        runner.Download()->Timer1->setInterval(10);
        QByteArray out;
        QStringList said;
        runner.Out = [&](const QByteArray& bytes) { out += bytes; };
        runner.Err = [&](const QString& text) { said << text; };
        const int code = runner.Measure();
        QVERIFY2(code == 0, qPrintable(said.join(QLatin1Char('\n'))));
        QCOMPARE(QJsonDocument::fromJson(out).object().value("bytes").toInteger(), 3000);
        QCOMPARE(peer.connectionCount(), 5);
    }

    // Standard output on a full device: exit 8 and the reason on standard error, no half
    // record in the file; the history still gets the run.
    void fullOutputIsTold_data() {
        QTest::addColumn<bool>("tmpfs"); // else /dev/full
        QTest::newRow("/dev/full") << false;
        QTest::newRow("tmpfs with 100 bytes left") << true;
    }
    void fullOutputIsTold() {
        QFETCH(bool, tmpfs);
        QString outFile = QStringLiteral("/dev/full");
        QByteArray filler;
        if (tmpfs) {
            if (::geteuid() != 0)
                QSKIP("mounting a tmpfs needs root");
            const QString mountPoint = m_dir->filePath(QStringLiteral("small"));
            QVERIFY(QDir().mkpath(mountPoint));
            QCOMPARE(QProcess::execute(QStringLiteral("mount"),
                                       {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                        QStringLiteral("-o"), QStringLiteral("size=16k"),
                                        QStringLiteral("tmpfs"), mountPoint}),
                     0);
            m_mounted = mountPoint;
            outFile = mountPoint + QStringLiteral("/out.jsonl");
            filler = QByteArray(16 * 1024 - 100, '#');
            QFile f(outFile);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(filler) == filler.size());
        }
        ScriptedPeer peer;
        peer.readRequest()
            .send("HTTP/1.0 200 OK\r\nContent-Length: 2000\r\n\r\n")
            .stream(2000)
            .close();
        const CliResult r = RunCli(m_dir->path(),
                                   {QStringLiteral("--json"), QStringLiteral("--append-history"),
                                    QString::fromStdString(peer.url("/qm/qm1M.jpg"))},
                                   30000, outFile);
        QVERIFY2(r.normalExit && r.exitCode == 8, qPrintable(Describe(r)));
        QVERIFY2(r.err.contains(
                     QStringLiteral("quillmet-cli: 測定結果を標準出力に書き込めませんでした（")),
                 qPrintable(r.err));
        if (tmpfs)
            QCOMPARE(bytesOf(outFile), filler);
        QVERIFY(bytesOf(statePath(*m_dir)) != m_before);
    }

    // A failed run does not end a series: the others are measured and appended, the failed
    // one has an error record in its place, and the exit code is the failure's. The appends
    // clear away what killed saves left.
    void seriesGoesOnPastAFailure() {
        ScriptedPeer peer;
        const auto served = [&peer] {
            peer.readRequest()
                .send("HTTP/1.0 200 OK\r\nContent-Length: 2000\r\n\r\n")
                .stream(2000)
                .close();
        };
        for (int round = 0; round < 5; ++round) {
            served();
            peer.next();
        }
        peer.readRequest().send("HTTP/1.0 404 Not Found\r\n\r\n").close();
        peer.next();
        served(); // and every later connection
        // A killed save's temporary goes; one that a save may still be writing stays.
        const QString stale = statePath(*m_dir) + QStringLiteral(".tmp-1a2b3c");
        const QString live = statePath(*m_dir) + QStringLiteral(".tmp-4d5e6f");
        for (const QString& name : {stale, live}) {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("partial") == 7);
        }
        {
            QFile f(stale);
            QVERIFY(f.open(QIODevice::ReadWrite) &&
                    f.setFileTime(QDateTime::currentDateTime().addSecs(-120),
                                  QFileDevice::FileModificationTime));
        }
        CliOptions options;
        options.runs = 3;
        options.format = CliOptions::Format::Json;
        options.appendHistory = true;
        options.url = QString::fromStdString(peer.url("/qm/qm1M.jpg"));
        CliRunner runner(options);
        runner.StatePath = statePath(*m_dir);
        runner.Download()->Timer1->setInterval(10);
        runner.Schedule()->RepeatTimer->setInterval(10);
        QByteArray out;
        runner.Out = [&](const QByteArray& bytes) { out += bytes; };
        runner.Err = [](const QString&) {};
        QCOMPARE(runner.Prepare(), 0);
        QCOMPARE(runner.Measure(), 6);
        QCOMPARE(peer.connectionCount(), 11);

        const QList<QByteArray> lines = out.split('\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[3].isEmpty());
        QCOMPARE(QJsonDocument::fromJson(lines[0]).object().value("kind").toString(), "download");
        QCOMPARE(QJsonDocument::fromJson(lines[2]).object().value("kind").toString(), "download");
        const QJsonObject error = QJsonDocument::fromJson(lines[1]).object();
        QCOMPARE(error.value("kind").toString(), QStringLiteral("error"));
        QCOMPARE(error.value("exit_code").toInt(), 6);
        QCOMPARE(error.value("message").toString(),
                 QStringLiteral("接続できませんでした（HTTP 404）"));
        QVERIFY(QDateTime::fromString(error.value("started").toString(), Qt::ISODate).isValid());
        StateSnapshot after;
        QVERIFY(!ReadStateFile(statePath(*m_dir), after).failed());
        QCOMPARE(after.ListBox1.size(), 3);
        QVERIFY(!QFileInfo::exists(stale));
        QVERIFY(QFileInfo::exists(live));
    }

    // The CLI decides by outcomes: no Japanese text of a message, status or log line is
    // compared against anywhere in its source.
    void cliSourceComparesNoDisplayText() {
        const QDir dir(qEnvironmentVariable("QM_SOURCE_DIR") + QStringLiteral("/src/cli"));
        const QStringList files = dir.entryList({QStringLiteral("*.cpp")}, QDir::Files);
        QVERIFY(!files.isEmpty());
        // A string literal holding a non-ASCII character next to a comparison.
        const QRegularExpression literal(QStringLiteral("\"[^\"\\n]*[^\\x00-\\x7f][^\"\\n]*\""));
        const QRegularExpression compared(
            QStringLiteral("(==|!=|endsWith|startsWith|contains|compare|indexOf)\\s*\\(?\\s*"
                           "(QStringLiteral|QLatin1String|QString)?\\s*\\(?\\s*$"));
        for (const QString& name : files) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(f.readAll());
            for (auto it = literal.globalMatch(text); it.hasNext();) {
                const auto m = it.next();
                const QString before =
                    text.mid(qMax(0, m.capturedStart() - 80),
                             m.capturedStart() - qMax(0, m.capturedStart() - 80));
                QVERIFY2(!compared.match(before).hasMatch(),
                         qPrintable(name + QStringLiteral(": ") + m.captured()));
            }
        }
    }

private:
    std::optional<QTemporaryDir> m_dir;
    QByteArray m_before;
    QString m_mounted;
};

QTEST_GUILESS_MAIN(CliPeersTest)
#include "peers_test.moc"
