// build/quillmet-cli against scripted loopback peers and bad input: the exit code, the message,
// no crash, and qm1.dat exactly as it was. The upload runs in process against a scripted SMTP
// peer (the program's own port is 25).
#include "cli/CliProcess.h"
#include "cli/CliRunner.h"
#include "core/net/ScktComp.h"
#include "core/state/StateFile.h"
#include "core/upload/UploadRun.h"
#include "support/ProcessSignals.h"
#include "support/ScriptedPeer.h"
#include "support/SmtpPeer.h"
#include "support/TestHelpers.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

namespace {

enum class Peer { None, NotFound, Silent, Refused, Stalled };

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
    void cleanup() { m_dir.reset(); }

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
            argument = argument.arg(port);
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

private:
    std::optional<QTemporaryDir> m_dir;
    QByteArray m_before;
};

QTEST_GUILESS_MAIN(CliPeersTest)
#include "peers_test.moc"
