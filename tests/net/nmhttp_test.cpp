#include "core/net/Nmhttp.h"
#include "support/Raised.h"
#include "support/ScriptedPeer.h"
#include "support/TestHelpers.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray kAccept1 =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n";
const QByteArray kAccept2 =
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
const QByteArray kContentType = "Content-type: application/x-www-form-urlencoded\r\n";

QByteArray GetRequest(const QByteArray& path, const QByteArray& host) {
    return "GET " + path + " HTTP/1.0\r\nHost: " + host + "\r\n" + kAccept1 + kAccept2 +
           kContentType + "\r\n";
}

QByteArray Reply(const QByteArray& status, const QByteArray& body,
                 const QByteArray& headers = QByteArray()) {
    return status + "\r\nServer: scripted\r\n" + headers + "\r\n" + body;
}

// Records the component's events by name, in the order they fire.
struct EventLog {
    QStringList events;

    void attach(TNMHTTP& http) {
        http.OnAboutToSend = [this](QObject*) { events << "AboutToSend"; };
        http.OnHostResolved = [this](QObject*) { events << "HostResolved"; };
        http.OnConnect = [this](QObject*) { events << "Connect"; };
        http.OnPacketRecvd = [this](QObject*) { events << "PacketRecvd"; };
        http.OnSuccess = [this](CmdType cmd) { events << QString("Success(%1)").arg(cmd); };
        http.OnFailure = [this](CmdType cmd) { events << QString("Failure(%1)").arg(cmd); };
        http.OnDisconnect = [this](QObject*) { events << "Disconnect"; };
        http.OnRedirect = [this](bool&) { events << "Redirect"; };
        http.OnAuthenticationNeeded = [this](QObject*) { events << "AuthenticationNeeded"; };
        http.OnConnectionFailed = [this](QObject*) { events << "ConnectionFailed"; };
        http.OnInvalidHost = [this](bool&) { events << "InvalidHost"; };
        http.OnStatus = [this](QObject*, const std::string& s) {
            events << "Status:" + QString::fromStdString(s);
        };
    }
    // Runs of one event (packets, the double close) count once.
    QStringList runs() const {
        QStringList out;
        for (const QString& e : events) {
            if (out.isEmpty() || out.last() != e)
                out << e;
        }
        return out;
    }
    // Runs, less a close noticed from the peer's side before the outcome: whether the
    // peer's close arrives while the body is still awaited is a matter of timing.
    QStringList ordered() const {
        QStringList out = runs();
        for (int i = 1; i < out.size(); ++i) {
            if (out[i - 1] == "Disconnect" &&
                (out[i].startsWith("Success") || out[i].startsWith("Failure"))) {
                out.removeAt(i - 1);
                break;
            }
        }
        return out;
    }
};

// Serves each reply on one connection, in order, from a child process: the client under
// test then shares no memory or event loop with its peer.
struct ForkedPeer {
    quint16 port = 0;
    pid_t pid = -1;

    explicit ForkedPeer(const QList<QByteArray>& replies) {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener, 4) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            if (listener >= 0)
                ::close(listener);
            return;
        }
        pid = ::fork();
        if (pid == 0) {
            for (const QByteArray& reply : replies) {
                const int connection = ::accept(listener, nullptr, nullptr);
                if (connection < 0)
                    ::_exit(1);
                // The request ends with an empty line.
                std::string request;
                char chunk[4096];
                while (request.find("\r\n\r\n") == std::string::npos) {
                    const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
                    if (n <= 0)
                        ::_exit(1);
                    request.append(chunk, static_cast<std::size_t>(n));
                }
                for (qsizetype sent = 0; sent < reply.size();) {
                    const ssize_t n =
                        ::send(connection, reply.constData() + sent,
                               static_cast<std::size_t>(reply.size() - sent), MSG_NOSIGNAL);
                    if (n <= 0)
                        ::_exit(1);
                    sent += n;
                }
                ::close(connection);
            }
            ::_exit(0);
        }
        ::close(listener);
        if (pid > 0)
            port = ntohs(address.sin_port);
    }
    ~ForkedPeer() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    // Whether the child served every reply and ended.
    bool finished() {
        int status = 0;
        if (pid <= 0 || ::waitpid(pid, &status, 0) != pid)
            return false;
        pid = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

long MinorFaults() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

} // namespace

class NmhttpTest : public QObject {
    Q_OBJECT

private slots:
    void nthWord_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("word");
        const QString url = "http://host.example/file.jpg";
        QTest::newRow("scheme") << url << 1 << "http:";
        QTest::newRow("empty piece") << url << 2 << "";
        QTest::newRow("host") << url << 3 << "host.example";
        QTest::newRow("file") << url << 4 << "file.jpg";
        QTest::newRow("past the end") << url << 5 << "";
        QTest::newRow("zero") << url << 0 << "";
        QTest::newRow("no delimiter") << "abc" << 1 << "abc";
        QTest::newRow("trailing delimiter") << "a/b/" << 3 << "";
        QTest::newRow("empty text") << "" << 1 << "";
    }
    void nthWord() {
        QFETCH(QString, text);
        QFETCH(int, n);
        QFETCH(QString, word);
        QCOMPARE(QString::fromStdString(NthWord(text.toStdString(), '/', n)), word);
    }

    void nthPos_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("position");
        QTest::newRow("first") << "http://h/f" << 1 << 6;
        QTest::newRow("second") << "http://h/f" << 2 << 7;
        QTest::newRow("third") << "http://h/f" << 3 << 9;
        QTest::newRow("fewer delimiters") << "http://h" << 3 << 9;
        QTest::newRow("nth is the last character") << "http://h/" << 3 << 10;
        QTest::newRow("none") << "abc" << 1 << 4;
    }
    void nthPos() {
        QFETCH(QString, text);
        QFETCH(int, n);
        QFETCH(int, position);
        QCOMPARE(NthPos(text.toStdString(), '/', n), position);
    }

    void getSendsExactlyTheSixLines_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("host");
        QTest::newRow("full URL") << "http://127.0.0.1:%1/dir/x.jpg" << QByteArray("/dir/x.jpg")
                                  << QByteArray("127.0.0.1");
        QTest::newRow("scheme and host only")
            << "http://127.0.0.1:%1" << QByteArray("/") << QByteArray("127.0.0.1");
        QTest::newRow("no scheme")
            << "127.0.0.1:%1/a/b.jpg" << QByteArray("/a/b.jpg") << QByteArray("127.0.0.1");
        QTest::newRow("host name") << "http://localhost:%1/qm/qm1M.jpg"
                                   << QByteArray("/qm/qm1M.jpg") << QByteArray("localhost");
        QTest::newRow("query kept") << "http://127.0.0.1:%1/x.jpg?a=1&b=2"
                                    << QByteArray("/x.jpg?a=1&b=2") << QByteArray("127.0.0.1");
    }
    void getSendsExactlyTheSixLines() {
        QFETCH(QString, url);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, host);
        ScriptedPeer peer;
        peer.readRequest().send(Reply("HTTP/1.1 200 OK", "body")).close();
        TNMHTTP http;
        http.Get(url.arg(peer.port()).toStdString());
        QCOMPARE(peer.received(), GetRequest(path, host));
        QCOMPARE(http.ReplyCode, 200);
        QCOMPARE(http.Body, std::string("body"));
    }

    void bodyInManyChunksIsCapturedWhole() {
        QByteArray body;
        for (int i = 0; i < 5000; ++i)
            body += char(i % 251);
        const QByteArray header = "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n";
        ScriptedPeer peer;
        peer.readRequest().sendInPieces(header + body, {1, 7, 1, 1, 900, 1, 2000}, 3).close();
        TNMHTTP http;
        QList<int> seen;
        http.OnPacketRecvd = [&](QObject*) { seen << http.ReceivedBytes; };
        http.Get(peer.url("/big.jpg"));
        QCOMPARE(QByteArray::fromStdString(http.Header), header);
        QCOMPARE(QByteArray::fromStdString(http.Body), body);
        QCOMPARE(http.ReceivedBytes, 5000);
        QCOMPARE(http.ContentLength, 5000);
        QVERIFY(seen.size() > 2);
        QCOMPARE(seen.last(), 5000);
        for (int i = 1; i < seen.size(); ++i)
            QVERIFY(seen[i] > seen[i - 1]);
    }

    // A run fetches the same file five times: the body's storage is kept, so the later
    // rounds write into memory the first one already touched. The peer is another process,
    // so the page faults counted here are the client's alone.
    void laterGetsReuseTheBodyStorage() {
        const int size = 16 * 1024 * 1024;
        QByteArray first(size, 'a');
        QByteArray second(size, 'b');
        second[size / 2] = 'c';
        const QByteArray header =
            "HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(size) + "\r\n\r\n";
        ForkedPeer peer({header + first, header + second, Reply("HTTP/1.0 200 OK", "small")});
        QVERIFY(peer.port != 0);
        const std::string url = "http://127.0.0.1:" + std::to_string(peer.port) + "/qm16M.jpg";
        TNMHTTP http;
        http.TimeOut = 10000;

        http.Get(url);
        QVERIFY(QByteArray::fromStdString(http.Body) == first);
        const std::size_t capacity = http.Body.capacity();
        QVERIFY(capacity >= std::size_t(size));

        const long faultsBefore = MinorFaults();
        http.Get(url);
        const long faults = MinorFaults() - faultsBefore;
        QVERIFY(QByteArray::fromStdString(http.Body) == second);
        QCOMPARE(http.Body.capacity(), capacity);
        // Fresh storage would take one fault per 4 KiB page: 4,096 here.
        QVERIFY2(faults < 400, qPrintable(QString::number(faults)));

        // A smaller reply neither shrinks nor moves it.
        http.Get(url);
        QCOMPARE(http.Body, std::string("small"));
        QCOMPARE(http.Body.capacity(), capacity);
        QVERIFY(peer.finished());
    }

    // Counted, not even a first Get's body meets fresh pages (4,096 would hold this one).
    void countOnlyBodyIsCountedAndNotKept() {
        const int size = 16 * 1024 * 1024;
        ForkedPeer peer({okHeader(size) + QByteArray(size, 'z')});
        TNMHTTP http;
        http.CountOnlyBody = true;
        const long faultsBefore = MinorFaults();
        http.Get("http://127.0.0.1:" + std::to_string(peer.port) + "/qm16M.jpg");
        QVERIFY(MinorFaults() - faultsBefore < 400);
        QCOMPARE(http.ReceivedBytes, size);
        QCOMPARE(http.Body, std::string());
    }

    void contentLengthIsReadAsWritten_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("malformed"); // the message when the value is not a number
        QTest::newRow("none") << QByteArray() << 0 << QString();
        QTest::newRow("one blank") << QByteArray("Content-Length: 123\r\n") << 123 << QString();
        QTest::newRow("two blanks") << QByteArray("Content-Length:  123\r\n") << 123 << QString();
        QTest::newRow("no blank") << QByteArray("Content-Length:123\r\n") << 0 << QString();
        QTest::newRow("any case") << QByteArray("CONTENT-length: 77\r\n") << 77 << QString();
        QTest::newRow("LF only") << QByteArray("Content-Length: 9\n") << 9 << QString();
        QTest::newRow("text before the digits") << QByteArray("Content-Length: x5\r\n") << 0
                                                << "Content-Length が正しくありません (x5)";
        QTest::newRow("no digits") << QByteArray("Content-Length: many\r\n") << 0
                                   << "Content-Length が正しくありません (many)";
        QTest::newRow("negative") << QByteArray("Content-Length: -5\r\n") << 0
                                  << "Content-Length が正しくありません (-5)";
        QTest::newRow("empty") << QByteArray("Content-Length: \r\n") << 0
                               << "Content-Length が正しくありません ()";
        QTest::newRow("too big") << QByteArray("Content-Length: 99999999999\r\n") << INT32_MAX
                                 << QString();
    }
    void contentLengthIsReadAsWritten() {
        QFETCH(QByteArray, line);
        QFETCH(int, length);
        QFETCH(QString, malformed);
        ScriptedPeer peer;
        peer.readRequest().send(Reply("HTTP/1.1 200 OK", "0123456789", line)).close();
        TNMHTTP http;
        const Raised raised = RaisedBy([&] { http.Get(peer.url("/x.jpg")); });
        // A length that is not a number cannot say where the body ends: no body is taken.
        if (!malformed.isEmpty()) {
            QCOMPARE(raised.className, "ESockError");
            QCOMPARE(raised.message, malformed);
            QCOMPARE(http.ContentLength, 0);
            QCOMPARE(http.ReceivedBytes, 0);
            return;
        }
        // More announced than the 10 bytes that came: the reply was cut short.
        QCOMPARE(raised.message,
                 length > 10 ? QString("受信が途中で切れました (10 / %1 バイト)").arg(length)
                             : QString());
        QCOMPARE(http.ContentLength, length);
        QCOMPARE(http.ReceivedBytes, 10); // the body is read to the close regardless
        QCOMPARE(http.Body, std::string("0123456789"));
    }

    void statusLineGivesTheOutcome_data() {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("200") << QByteArray("HTTP/1.1 200 OK") << 200 << "Success(0)";
        QTest::newRow("204") << QByteArray("HTTP/1.0 204 No Content") << 204 << "Success(0)";
        QTest::newRow("404") << QByteArray("HTTP/1.0 404 Not Found") << 404 << "Failure(0)";
        QTest::newRow("500") << QByteArray("HTTP/1.1 500 Oops") << 500 << "Failure(0)";
        QTest::newRow("no reason") << QByteArray("HTTP/1.1 404") << 404 << "Failure(0)";
        QTest::newRow("no number") << QByteArray("HTTP/1.1 OK") << 0 << "Success(0)";
        QTest::newRow("not HTTP") << QByteArray("hello") << 0 << "Success(0)";
    }
    void statusLineGivesTheOutcome() {
        QFETCH(QByteArray, status);
        QFETCH(int, code);
        QFETCH(QString, outcome);
        ScriptedPeer peer;
        peer.readRequest().send(Reply(status, "page")).close();
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        http.Get(peer.url("/x"));
        QCOMPARE(http.ReplyCode, code);
        QCOMPARE(log.events.count(outcome), 1);
        QCOMPARE(log.events.filter(QRegularExpression("^(Success|Failure)")).size(), 1);
        QCOMPARE(http.Body, std::string("page"));
    }

    void notFoundFiresOnFailureWithThePage() {
        const QByteArray page = "<html><body>Not Found</body></html>";
        ScriptedPeer peer;
        peer.readRequest().send(Reply("HTTP/1.1 404 Not Found", page)).close();
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        const Raised raised = RaisedBy([&] { http.Get(peer.url("/missing.jpg")); });
        QCOMPARE(raised.message, QString());
        QCOMPARE(QByteArray::fromStdString(http.Body), page);
        QCOMPARE(log.ordered(), (QStringList{"AboutToSend", "Connect", "PacketRecvd", "Failure(0)",
                                             "Disconnect"}));
    }

    void eventOrderOfASuccessfulGet() {
        ScriptedPeer peer;
        peer.readRequest()
            .sendInPieces(Reply("HTTP/1.1 200 OK", QByteArray(3000, 'b')), {40, 1000}, 5)
            .close();
        TNMHTTP http;
        http.ReportLevel = 2;
        EventLog log;
        log.attach(http);
        http.Get("http://localhost:" + std::to_string(peer.port()) + "/x.jpg");
        QCOMPARE(log.ordered(),
                 (QStringList{"AboutToSend", "HostResolved", "Connect", "PacketRecvd", "Success(0)",
                              "Status:Transaction Completed", "Disconnect"}));
        const int disconnects = log.events.count("Disconnect");
        QVERIFY(disconnects == 1 || disconnects == 2);
    }

    void unauthorisedAsksForAuthenticationAfterTheClose() {
        ScriptedPeer peer;
        peer.readRequest().send(Reply("HTTP/1.0 401 Unauthorized", "no")).close();
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        http.Get(peer.url("/private"));
        QCOMPARE(log.ordered(), (QStringList{"AboutToSend", "Connect", "PacketRecvd", "Failure(0)",
                                             "Disconnect", "AuthenticationNeeded"}));
        QCOMPARE(peer.connectionCount(), 1);
    }

    void redirectToAnotherHostAndPort() {
        ScriptedPeer target;
        target.readRequest().send(Reply("HTTP/1.1 200 OK", "final")).close();
        ScriptedPeer first;
        first.readRequest()
            .send(Reply("HTTP/1.1 302 Found", "moved",
                        "Set-Cookie: id=42\r\nLocation: " +
                            QByteArray::fromStdString(target.url("/next.jpg")) + "\r\n"))
            .close();
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        http.Get(first.url("/first.jpg"));
        QCOMPARE(log.events.count("Redirect"), 1);
        QCOMPARE(log.events.filter(QRegularExpression("^(Success|Failure)")),
                 QStringList{"Success(0)"});
        QCOMPARE(log.events.indexOf("Redirect") < log.events.indexOf("Success(0)"), true);
        QCOMPARE(first.received(), GetRequest("/first.jpg", "127.0.0.1"));
        QCOMPARE(first.connectionCount(), 1);
        QCOMPARE(target.connectionCount(), 1);
        QCOMPARE(http.HeaderInfo.Cookie, std::string("id=42"));
        const QByteArray second = target.received();
        QVERIFY(second.startsWith("GET /next.jpg HTTP/1.0\r\nHost: 127.0.0.1\r\n"));
        QVERIFY(second.contains("\r\nCookie: id=42\r\n"));
        QCOMPARE(http.Port, target.port());
        QCOMPARE(http.Body, std::string("final"));
        QCOMPARE(http.ReplyCode, 200);
    }

    void redirectToAPathStaysOnHostAndPort() {
        ScriptedPeer peer;
        peer.readRequest()
            .send(Reply("HTTP/1.0 301 Moved", "", "Location: /moved/x.jpg\r\n"))
            .close()
            .next()
            .readRequest()
            .send(Reply("HTTP/1.0 200 OK", "here"))
            .close();
        TNMHTTP http;
        http.Get(peer.url("/x.jpg"));
        QCOMPARE(peer.connectionCount(), 2);
        QCOMPARE(peer.received(1), GetRequest("/moved/x.jpg", "127.0.0.1"));
        QCOMPARE(http.Body, std::string("here"));
    }

    void codesFrom303RepeatTheSameUrl() {
        ScriptedPeer peer;
        peer.readRequest()
            .send(Reply("HTTP/1.0 303 See Other", "", "Location: /ignored\r\n"))
            .close()
            .next()
            .readRequest()
            .send(Reply("HTTP/1.0 200 OK", "again"))
            .close();
        TNMHTTP http;
        http.Get(peer.url("/same"));
        QCOMPARE(peer.received(1), GetRequest("/same", "127.0.0.1"));
        QCOMPARE(http.Body, std::string("again"));
    }

    void redirectToABareNameGoesToTheHostOnPort80() {
        ScriptedPeer port80(80); // only when this test may listen there
        port80.readRequest().send(Reply("HTTP/1.0 200 OK", "on 80")).close();
        ScriptedPeer peer;
        peer.readRequest().send(Reply("HTTP/1.0 302 Found", "", "Location: other.jpg\r\n")).close();
        TNMHTTP http;
        http.TimeOut = 5000; // whatever else may own port 80 here must not hold us
        QList<int> ports;
        http.OnAboutToSend = [&](QObject*) { ports << http.Port; };
        const Raised raised = RaisedBy([&] { http.Get(peer.url("/x.jpg")); });
        QCOMPARE(ports, (QList<int>{peer.port(), 80}));
        QCOMPARE(http.Host, std::string("127.0.0.1"));
        if (port80.isListening()) {
            QCOMPARE(raised.message, QString());
            QCOMPARE(port80.received(), GetRequest("/other.jpg", "127.0.0.1"));
            QCOMPARE(http.Body, std::string("on 80"));
        }
    }

    // Only an http:// or a relative Location is followed: an ftp:// one to this very peer
    // ends the request before a second GET could go out.
    void redirectOnlyToHttp() {
        ScriptedPeer peer;
        const std::string location = "ftp://127.0.0.1:" + std::to_string(peer.port()) + "/x.jpg";
        peer.readRequest()
            .send(Reply("HTTP/1.0 302 Found", "",
                        QByteArray::fromStdString("Location: " + location + "\r\n")))
            .close();
        TNMHTTP http;
        const Raised raised = RaisedBy([&] { http.Get(peer.url("/a.jpg")); });
        QCOMPARE(raised.message,
                 QString::fromStdString("リダイレクト先に対応していません: " + location));
        QCOMPARE(peer.connectionCount(), 1);
    }

    void handledRedirectStops() {
        ScriptedPeer peer;
        peer.readRequest().send(Reply("HTTP/1.0 302 Found", "", "Location: /b\r\n")).close();
        TNMHTTP http;
        http.OnRedirect = [](bool& handled) { handled = true; };
        http.Get(peer.url("/a"));
        QCOMPARE(peer.connectionCount(), 1);
        QCOMPARE(http.ReplyCode, 302);
    }

    void endlessRedirectsAreBounded() {
        ScriptedPeer peer; // every connection replays this script
        peer.readRequest().send(Reply("HTTP/1.0 302 Found", "", "Location: /loop\r\n")).close();
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        const Raised raised = RaisedBy([&] { http.Get(peer.url("/start")); });
        QCOMPARE(raised.className, "ESockError");
        QCOMPARE(raised.message, "Too many redirects");
        QCOMPARE(peer.connectionCount(), 1 + TNMHTTP::MaxRepetitions);
        QCOMPARE(log.events.count("Redirect"), 1 + TNMHTTP::MaxRepetitions);
        QVERIFY(!http.Connected());
    }

    void closeWithoutAByteIsASuccess() {
        ScriptedPeer peer;
        peer.readRequest().close();
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        http.Get(peer.url("/x.jpg"));
        QCOMPARE(http.ReplyCode, 0);
        QCOMPARE(http.Header, std::string());
        QCOMPARE(http.Body, std::string());
        QCOMPARE(http.ReceivedBytes, 0);
        QCOMPARE(log.events.filter(QRegularExpression("^(Success|Failure)")),
                 QStringList{"Success(0)"});
    }

    void portAcrossThreeGets() {
        ScriptedPeer port80(80);
        port80.readRequest().send(Reply("HTTP/1.0 200 OK", "80")).close();
        ScriptedPeer peer;
        peer.readRequest().send(Reply("HTTP/1.0 200 OK", "ok")).close();
        TNMHTTP http;
        http.TimeOut = 5000;
        http.Get(peer.url("/a.jpg"));
        QCOMPARE(http.Port, peer.port());
        // No ":" at all: the port of the last request stays.
        http.Get("127.0.0.1/b.jpg");
        QCOMPARE(http.Port, peer.port());
        QCOMPARE(peer.received(1), GetRequest("/b.jpg", "127.0.0.1"));
        // A scheme without a port means 80 again.
        const Raised raised = RaisedBy([&] { http.Get("http://127.0.0.1/c.jpg"); });
        QCOMPARE(http.Port, 80);
        QCOMPARE(peer.connectionCount(), 2);
        if (port80.isListening()) {
            QCOMPARE(raised.message, QString());
            QCOMPARE(port80.received(), GetRequest("/c.jpg", "127.0.0.1"));
        }
    }

    void urlPartsSelectHostAndPort_data() {
        QTest::addColumn<QString>("startHost");
        QTest::addColumn<int>("startPort");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("host and port") << "" << 0 << "http://a.invalid:8080/d/x.jpg"
                                       << "a.invalid" << 8080;
        QTest::newRow("scheme resets the port") << "old.invalid" << 8080 << "http://a.invalid/x"
                                                << "a.invalid" << 80;
        QTest::newRow("no colon keeps the port") << "old.invalid" << 8080 << "a.invalid/x"
                                                 << "a.invalid" << 8080;
        QTest::newRow("path only keeps host and port") << "old.invalid" << 8081 << "/x.jpg"
                                                       << "old.invalid" << 8081;
        QTest::newRow("port 0 becomes 80") << "old.invalid" << 0 << "/x"
                                           << "old.invalid" << 80;
        QTest::newRow("gopher") << "" << 0 << "gopher://a.invalid/x"
                                << "a.invalid" << 70;
        QTest::newRow("ftp in capitals") << "" << 0 << "FTP://a.invalid/"
                                         << "a.invalid" << 21;
        QTest::newRow("host:port without scheme") << "" << 0 << "a.invalid:99/x"
                                                  << "a.invalid" << 99;
    }
    void urlPartsSelectHostAndPort() {
        QFETCH(QString, startHost);
        QFETCH(int, startPort);
        QFETCH(QString, url);
        QFETCH(QString, host);
        QFETCH(int, port);
        TNMHTTP http;
        http.Host = startHost.toStdString();
        http.Port = startPort;
        // Stop before connecting: the parse is all this looks at.
        http.OnAboutToSend = [](QObject*) { throw Exception("stop"); };
        QCOMPARE(RaisedBy([&] { http.Get(url.toStdString()); }).message, "stop");
        QCOMPARE(QString::fromStdString(http.Host), host);
        QCOMPARE(http.Port, port);
    }

    void badUrlsRaiseBeforeConnecting_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << ""
                               << "Exception"
                               << "Empty URL";
        QTest::newRow("https") << "https://127.0.0.1/x"
                               << "Exception"
                               << "HTTP Secure Socket is not supported";
        QTest::newRow("port not a number") << "http://127.0.0.1:8x/"
                                           << "EConvertError"
                                           << "'8x' は整数ではありません";
        QTest::newRow("empty port") << "http://127.0.0.1:/"
                                    << "EConvertError"
                                    << "'' は整数ではありません";
    }
    void badUrlsRaiseBeforeConnecting() {
        QFETCH(QString, url);
        QFETCH(QString, className);
        QFETCH(QString, message);
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        const Raised raised = RaisedBy([&] { http.Get(url.toStdString()); });
        QCOMPARE(raised.className, className);
        QCOMPARE(raised.message, message);
        QCOMPARE(log.events, QStringList());
    }

    void unresolvableNameRaisesNullRemoteAddress() {
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        const Raised raised = RaisedBy([&] { http.Get("http://no-such-host.invalid/x.jpg"); });
        QCOMPARE(raised.className, "ESockError");
        QCOMPARE(raised.message, "Null Remote Address");
        QCOMPARE(log.runs(), (QStringList{"AboutToSend", "InvalidHost", "Disconnect"}));
    }

    void closedPortRaisesConnectionFailed() {
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        const Raised raised = RaisedBy(
            [&] { http.Get("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x.jpg"); });
        QCOMPARE(raised.className, "ESockError");
        QCOMPARE(raised.message, "Connection Failed");
        QCOMPARE(log.runs(), (QStringList{"AboutToSend", "ConnectionFailed", "Disconnect"}));
    }

    void timeOutEndsTheRequest_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("message");
        QTest::newRow("no answer to the connect") << "stalled"
                                                  << "ESockError"
                                                  << "Connection Timed out";
        QTest::newRow("no reply") << "silent"
                                  << "EAbortError"
                                  << "Socket readln aborted";
        QTest::newRow("body never ends") << "header only"
                                         << "EAbortError"
                                         << "Socket capture aborted";
    }
    void timeOutEndsTheRequest() {
        QFETCH(QString, server);
        QFETCH(QString, className);
        QFETCH(QString, message);
        StalledListener stalled;
        QVERIFY(stalled.isReady());
        ScriptedPeer peer;
        peer.readRequest();
        if (server == "header only")
            peer.send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nonly part");
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        http.TimeOut = 200;
        const quint16 port = server == "stalled" ? stalled.port() : peer.port();
        const Raised raised =
            RaisedBy([&] { http.Get("http://127.0.0.1:" + std::to_string(port) + "/x.jpg"); });
        QCOMPARE(raised.className, className);
        QCOMPARE(raised.message, message);
        QCOMPARE(log.events.filter(QRegularExpression("^(Success|Failure)")), QStringList());
        QCOMPARE(log.events.last(), "Disconnect");
        QVERIFY(!http.Connected());
        if (server != "stalled")
            QTRY_VERIFY(peer.clientClosed());
    }

    // The time-out is the longest silence: a slow body that keeps coming outlasts it.
    void slowBodyOutlastsTheTimeOut() {
        ScriptedPeer peer;
        // 16 pieces 80 ms apart: 1.2 s of body against a time-out of 300 ms.
        peer.readRequest()
            .send("HTTP/1.0 200 OK\r\n\r\n")
            .sendInPieces(QByteArray(1600, 'x'), {100}, 80)
            .close();
        TNMHTTP http;
        http.TimeOut = 300;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(RaisedBy([&] { http.Get(peer.url("/x.jpg")); }).message, QString());
        QCOMPARE(http.ReceivedBytes, 1600);
        QVERIFY(clock.elapsed() >= 1100);
    }

    void abortFromATimerEndsTheWait() {
        ScriptedPeer peer;
        peer.readRequest(); // then silence; TimeOut 0 would wait for ever
        TNMHTTP http;
        QTimer::singleShot(150, &http, [&] { http.Abort(); });
        QElapsedTimer clock;
        clock.start();
        const Raised raised = RaisedBy([&] { http.Get(peer.url("/x.jpg")); });
        QCOMPARE(raised.className, "EAbortError");
        QCOMPARE(raised.message, "Socket readln aborted");
        QVERIFY(clock.elapsed() >= 140);
    }

    void timerKeepsFiringWhileGetWaits() {
        ScriptedPeer peer;
        peer.readRequest().pause(300).send(Reply("HTTP/1.0 200 OK", "late")).close();
        TNMHTTP http;
        int ticks = 0;
        QTimer timer;
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start();
        http.Get(peer.url("/x.jpg"));
        QCOMPARE(http.Body, std::string("late"));
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    }

    void quittingTheApplicationEndsGet() {
        ScriptedPeer peer;
        peer.readRequest(); // never answers
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        Raised raised;
        QTimer::singleShot(0, &http, [&] {
            QTimer::singleShot(100, [] { QCoreApplication::exit(0); });
            raised = RaisedBy([&] { http.Get(peer.url("/x.jpg")); });
        });
        QElapsedTimer clock;
        clock.start();
        QCoreApplication::exec();
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(raised.className, "EAbortError");
        QCOMPARE(raised.message, "Socket readln aborted");
        QCOMPARE(log.events.last(), "Disconnect");
        QVERIFY(!http.Connected());
    }

    void overlongHeaderLineIsRefused() {
        ScriptedPeer peer;
        peer.readRequest()
            .send("HTTP/1.0 200 OK\r\nX-Long: " + QByteArray(70000, 'v') + "\r\n\r\n")
            .pause(2000)
            .close();
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        const Raised raised = RaisedBy([&] { http.Get(peer.url("/x.jpg")); });
        QCOMPARE(raised.className, "ESockError");
        QCOMPARE(raised.message, "Header line too long");
        QCOMPARE(log.events.filter(QRegularExpression("^(Success|Failure)")), QStringList());
        QTRY_VERIFY(peer.clientClosed());
    }

    void bodyPastSixtyFourMibIsRefused() {
        ScriptedPeer peer;
        peer.readRequest()
            .send("HTTP/1.0 200 OK\r\n\r\n")
            .stream(qint64(TNMHTTP::MaxReplyInMemory) + 1)
            .close();
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        const Raised raised = RaisedBy([&] { http.Get(peer.url("/huge.jpg")); });
        QCOMPARE(raised.className, "ESockError");
        QCOMPARE(raised.message, "Reply body too large");
        QCOMPARE(log.events.filter(QRegularExpression("^(Success|Failure)")), QStringList());
        QVERIFY(!http.Connected());
    }

    void endlessHeaderIsCutAtOneMib_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("toFile");
        QTest::newRow("long lines") << "X-Filler: " + QByteArray(60000, 'v') + "\r\n" << false;
        QTest::newRow("short lines") << QByteArray("X: y\r\n") << false;
        QTest::newRow("short lines to a file") << QByteArray("X: y\r\n") << true;
    }
    void endlessHeaderIsCutAtOneMib() {
        QFETCH(QByteArray, line);
        QFETCH(bool, toFile);
        ScriptedPeer peer;
        peer.readRequest()
            .send("HTTP/1.0 200 OK\r\n")
            // Far more than the socket buffers hold, so the peer is still sending when we close.
            .stream(qint64(TNMHTTP::MaxReplyHeader) * 64, line)
            .close();
        QTemporaryDir dir;
        TNMHTTP http;
        http.OutputFileMode = toFile;
        if (toFile)
            http.Header = dir.filePath("head.txt").toStdString();
        EventLog log;
        log.attach(http);
        const Raised raised = RaisedBy([&] { http.Get(peer.url("/x.jpg")); });
        QCOMPARE(raised.className, "ESockError");
        QCOMPARE(raised.message, "Reply header too large");
        QCOMPARE(log.events.filter(QRegularExpression("^(Success|Failure)")), QStringList());
        // Cut where the bound lies, not before it: the next line would have passed it.
        const qint64 kept = toFile ? QFileInfo(QString::fromStdString(http.Header)).size()
                                   : qint64(http.Header.size());
        QVERIFY2(kept <= qint64(TNMHTTP::MaxReplyHeader), qPrintable(QString::number(kept)));
        QVERIFY2(kept > qint64(TNMHTTP::MaxReplyHeader) - line.size(),
                 qPrintable(QString::number(kept)));
        QVERIFY(!http.Connected());
        QTRY_VERIFY(peer.clientClosed());
    }

    void controlCharactersAreRefusedBeforeConnecting_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("host"); // set before the request
        QTest::newRow("CR LF and a header in the path")
            << "http://127.0.0.1:%1/x.jpg\r\nX-Injected: yes"
            << "";
        QTest::newRow("LF alone") << "http://127.0.0.1:%1/x\n.jpg"
                                  << "";
        QTest::newRow("tab") << "http://127.0.0.1:%1/x\t.jpg"
                             << "";
        QTest::newRow("DEL") << "http://127.0.0.1:%1/x\x7f.jpg"
                             << "";
        QTest::newRow("in the host") << "http://127.0.0.1\r\nX-Evil: 1:%1/x.jpg"
                                     << "";
        QTest::newRow("in the host kept from before") << "/x.jpg"
                                                      << "127.0.0.1\r\nX-Evil: 1";
    }
    void controlCharactersAreRefusedBeforeConnecting() {
        QFETCH(QString, url);
        QFETCH(QString, host);
        ScriptedPeer peer;
        peer.readRequest().send(Reply("HTTP/1.0 200 OK", "sent")).close();
        TNMHTTP http;
        http.Host = host.toStdString();
        http.Port = peer.port();
        EventLog log;
        log.attach(http);
        const QString full = url.contains("%1") ? url.arg(peer.port()) : url;
        const Raised raised = RaisedBy([&] { http.Get(full.toStdString()); });
        QCOMPARE(raised.className, "Exception");
        QCOMPARE(raised.message, QString::fromUtf8(kUrlCharacterRefused));
        QCOMPARE(log.events, QStringList());
        QTest::qWait(50);
        QCOMPARE(peer.connectionCount(), 0);
    }

    void redirectToAControlCharacterIsRefused() {
        ScriptedPeer peer;
        peer.readRequest()
            .send(Reply("HTTP/1.0 302 Found", "", "Location: /a\rX-Injected: yes\r\n"))
            .close();
        TNMHTTP http;
        const Raised raised = RaisedBy([&] { http.Get(peer.url("/x.jpg")); });
        QCOMPARE(raised.message, QString::fromUtf8(kUrlCharacterRefused));
        QTest::qWait(50);
        QCOMPARE(peer.connectionCount(), 1);
    }

    void pathBytesAboveAsciiArePercentEncoded_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("sent");
        const QString a250(250, 'a');
        QTest::newRow("Japanese") << "/画像/テスト.jpg"
                                  << QByteArray("/%E7%94%BB%E5%83%8F/"
                                                "%E3%83%86%E3%82%B9%E3%83%88.jpg");
        QTest::newRow("only those bytes")
            << "/a b/%41é.jpg?q=~" << QByteArray("/a%20b/%41%C3%A9.jpg?q=~");
        // A raw blank would end the target: the rest would read as the protocol.
        QTest::newRow("blanks") << "/a b.jpg HTTP/1.1 X.jpg"
                                << QByteArray("/a%20b.jpg%20HTTP/1.1%20X.jpg");
        QTest::newRow("ASCII cut at 256 as ever")
            << "/" + QString(300, 'a') << "/" + QByteArray(255, 'a');
        QTest::newRow("a character that just fits") << "/" + QString(246, 'a') + "画"
                                                    << "/" + QByteArray(246, 'a') + "%E7%94%BB";
        QTest::newRow("a character that does not fit goes whole") << "/" + QString(247, 'a') + "画"
                                                                  << "/" + QByteArray(247, 'a');
        QTest::newRow("never between the %XX of one character") << "/" + a250 + "é"
                                                                << "/" + a250.toLatin1();
    }
    void pathBytesAboveAsciiArePercentEncoded() {
        QFETCH(QString, path);
        QFETCH(QByteArray, sent);
        ScriptedPeer peer;
        peer.readRequest().send(Reply("HTTP/1.0 200 OK", "ok")).close();
        TNMHTTP http;
        http.Get(peer.url(path.toStdString()));
        QCOMPARE(peer.received(), GetRequest(sent, "127.0.0.1"));
    }

    void bodyCutShortRaisesInsteadOfSucceeding_data() {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<int>("announced"); // -1: no Content-Length line
        QTest::addColumn<int>("sent");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("cut short") << QByteArray("HTTP/1.1 200 OK") << 2000000 << 100000
                                   << "受信が途中で切れました (100000 / 2000000 バイト)"
                                   << "";
        QTest::newRow("whole") << QByteArray("HTTP/1.1 200 OK") << 100000 << 100000 << ""
                               << "Success(0)";
        QTest::newRow("longer than announced") << QByteArray("HTTP/1.1 200 OK") << 10 << 100 << ""
                                               << "Success(0)";
        QTest::newRow("no length") << QByteArray("HTTP/1.1 200 OK") << -1 << 100 << ""
                                   << "Success(0)";
        QTest::newRow("error page cut short")
            << QByteArray("HTTP/1.1 404 Not Found") << 5000 << 10 << ""
            << "Failure(0)";
    }
    void bodyCutShortRaisesInsteadOfSucceeding() {
        QFETCH(QByteArray, status);
        QFETCH(int, announced);
        QFETCH(int, sent);
        QFETCH(QString, message);
        QFETCH(QString, outcome);
        const QByteArray length = announced < 0
                                      ? QByteArray()
                                      : "Content-Length: " + QByteArray::number(announced) + "\r\n";
        ScriptedPeer peer;
        peer.readRequest().send(Reply(status, "", length)).stream(sent).close();
        TNMHTTP http;
        EventLog log;
        log.attach(http);
        const Raised raised = RaisedBy([&] { http.Get(peer.url("/x.jpg")); });
        QCOMPARE(raised.className, message.isEmpty() ? QString() : QString("ESockError"));
        QCOMPARE(raised.message, message);
        QCOMPARE(log.events.filter(QRegularExpression("^(Success|Failure)")),
                 outcome.isEmpty() ? QStringList() : QStringList{outcome});
        QCOMPARE(http.ReceivedBytes, sent);
        QVERIFY(!http.Connected());
    }

    void headAnnouncesALengthWithoutABody() {
        ScriptedPeer peer;
        peer.readRequest().send(Reply("HTTP/1.0 200 OK", "", "Content-Length: 5000\r\n")).close();
        TNMHTTP http;
        QList<int> outcomes;
        http.OnSuccess = [&](CmdType done) { outcomes << done; };
        http.Head(peer.url("/x.jpg"));
        QCOMPARE(outcomes, QList<int>{CmdHEAD});
        QCOMPARE(http.ContentLength, 5000);
    }

    void requestOperations_data() {
        QTest::addColumn<int>("cmd");
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("OPTIONS") << int(CmdOPTIONS) << QByteArray("OPTIONS /r HTTP/1.0\r\n")
                                 << QByteArray() << QByteArray();
        QTest::newRow("HEAD") << int(CmdHEAD) << QByteArray("HEAD /r HTTP/1.0\r\n") << QByteArray()
                              << QByteArray();
        QTest::newRow("PUT") << int(CmdPUT) << QByteArray("PUT /r HTTP/1.0\r\n")
                             << QByteArray("Content-Length: 6\r\n") << QByteArray("a b&c!");
        QTest::newRow("PATCH") << int(CmdPATCH) << QByteArray("PATCH /r HTTP/1.0\r\n")
                               << QByteArray("Content-Length: 6\r\n") << QByteArray("a b&c!");
        QTest::newRow("COPY") << int(CmdCOPY) << QByteArray("COPY /r HTTP/1.0\r\n")
                              << QByteArray("URI-header: /to\r\n") << QByteArray();
        QTest::newRow("MOVE") << int(CmdMOVE) << QByteArray("MOVE /r HTTP/1.0\r\n")
                              << QByteArray("URI-header: /to\r\n") << QByteArray();
        QTest::newRow("DELETE") << int(CmdDELETE) << QByteArray("DELETE /r HTTP/1.0\r\n")
                                << QByteArray() << QByteArray();
        QTest::newRow("LINK") << int(CmdLINK) << QByteArray("LINK /r HTTP/1.0\r\n")
                              << QByteArray("Link: /to\r\nContent-Length: 8\r\n") << QByteArray();
        QTest::newRow("UNLINK") << int(CmdUNLINK) << QByteArray("UNLINK /r HTTP/1.0\r\n")
                                << QByteArray("Link: /to\r\nContent-Length: 8\r\n") << QByteArray();
        QTest::newRow("TRACE") << int(CmdTRACE) << QByteArray("TRACE /r HTTP/1.0\r\n")
                               << QByteArray("Content-Length: 6\r\n") << QByteArray("a b&c!");
        QTest::newRow("WRAPPED") << int(CmdWRAPPED) << QByteArray()
                                 << QByteArray("Content-Length: 6\r\n") << QByteArray("a b&c!");
    }
    void requestOperations() {
        QFETCH(int, cmd);
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, extra);
        QFETCH(QByteArray, data);
        ScriptedPeer peer;
        peer.readRequest().pause(50).send(Reply("HTTP/1.0 200 OK", "done")).close();
        TNMHTTP http;
        QList<int> outcomes;
        http.OnSuccess = [&](CmdType done) { outcomes << done; };
        const std::string url = peer.url("/r");
        const std::string payload = "a b&c!";
        switch (CmdType(cmd)) {
        case CmdOPTIONS:
            http.Options(url);
            break;
        case CmdHEAD:
            http.Head(url);
            break;
        case CmdPUT:
            http.Put(url, payload);
            break;
        case CmdPATCH:
            http.Patch(url, payload);
            break;
        case CmdCOPY:
            http.Copy(url, "/to");
            break;
        case CmdMOVE:
            http.Move(url, "/to");
            break;
        case CmdDELETE:
            http.Delete(url);
            break;
        case CmdLINK:
            http.Link(url, "/to");
            break;
        case CmdUNLINK:
            http.UnLink(url, "/to");
            break;
        case CmdTRACE:
            http.Trace(url, payload);
            break;
        case CmdWRAPPED:
            http.Wrapped(url, payload);
            break;
        default:
            QFAIL("no such operation in the table");
        }
        QCOMPARE(outcomes, QList<int>{cmd});
        QTRY_COMPARE(peer.received(), first + "Host: 127.0.0.1\r\n" + kAccept1 + kAccept2 +
                                          kContentType + extra + "\r\n" + data);
    }

    void proxyAndHeaderInfoLines() {
        ScriptedPeer proxy;
        proxy.readRequest().send(Reply("HTTP/1.0 200 OK", "via proxy")).close();
        TNMHTTP http;
        http.Proxy = "127.0.0.1";
        http.ProxyPort = proxy.port();
        http.HeaderInfo.LocalProgram = "Quillmet";
        http.HeaderInfo.LocalMailAddress = "me@example.invalid";
        http.HeaderInfo.Cookie = "a=b";
        http.HeaderInfo.Referer = "http://ref.invalid/";
        http.HeaderInfo.UserId = "user";
        http.HeaderInfo.Password = "pass";
        http.Get("http://target.invalid/dir/x.jpg");
        QCOMPARE(proxy.received(), "GET http://target.invalid/dir/x.jpg HTTP/1.0\r\n"
                                   "Proxy-Connection: Keep-Alive\r\n"
                                   "Host: target.invalid\r\n" +
                                       kAccept1 + kAccept2 +
                                       "User-Agent: Quillmet\r\n"
                                       "From: me@example.invalid\r\n"
                                       "Cookie: a=b\r\n"
                                       "Referer: http://ref.invalid/\r\n"
                                       "Authorization: Basic dXNlcjpwYXNz\r\n" +
                                       kContentType + "\r\n");
        QCOMPARE(http.Body, std::string("via proxy"));
    }

    void postSendsEncodedFormData() {
        ScriptedPeer peer;
        peer.readRequest().pause(50).send(Reply("HTTP/1.0 200 OK", "posted")).close();
        TNMHTTP http;
        http.Post(peer.url("/form"), "a b&c=d/\xC3\xA9");
        const QByteArray data = "a+b%26c%3Dd%2F%C3%A9";
        QTRY_COMPARE(peer.received(), "POST /form HTTP/1.0\r\nHost: 127.0.0.1\r\n" + kAccept1 +
                                          kAccept2 + kContentType + "Content-Length: 20\r\n\r\n" +
                                          data);
    }

    void fileModesUseTheNamedFiles() {
        QTemporaryDir dir;
        const QByteArray reply = Reply("HTTP/1.0 200 OK", "file body", "Content-Length: 9\r\n");
        ScriptedPeer peer;
        peer.readRequest().pause(50).send(reply).close();
        QFile upload(dir.filePath("send.dat"));
        QVERIFY(upload.open(QIODevice::WriteOnly));
        upload.write("raw upload bytes");
        upload.close();

        TNMHTTP http;
        http.InputFileMode = true;
        http.OutputFileMode = true;
        http.Body = dir.filePath("body.jpg").toStdString();
        http.Header = dir.filePath("head.txt").toStdString();
        http.Put(peer.url("/up"), upload.fileName().toStdString());

        QFile body(QString::fromStdString(http.Body));
        QVERIFY(body.open(QIODevice::ReadOnly));
        QCOMPARE(body.readAll(), QByteArray("file body"));
        QFile head(QString::fromStdString(http.Header));
        QVERIFY(head.open(QIODevice::ReadOnly));
        QCOMPARE(head.readAll(), reply.left(reply.indexOf("\r\n\r\n") + 4));
        QCOMPARE(http.ContentLength, 9);
        QTRY_VERIFY(peer.received().endsWith("Content-Length: 16\r\n\r\nraw upload bytes"));
    }
};

QTEST_MAIN(NmhttpTest)
#include "nmhttp_test.moc"
