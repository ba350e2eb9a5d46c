#include "core/net/Psock.h"
#include "support/Raised.h"
#include "support/ScriptedPeer.h"
#include "support/TestHelpers.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cerrno>

class PsockTest : public QObject {
    Q_OBJECT

private slots:
    void socketErrorStr_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        const QList<QPair<int, QString>> table = {
            {10004, "Interrupted system call"},
            {10009, "Bad file number"},
            {10013, "Permission denied"},
            {10014, "Bad address"},
            {10022, "Invalid argument"},
            {10024, "Too many open files"},
            {10035, "Operation would block"},
            {10036, "Operation now in progress"},
            {10037, "Operation already in progress"},
            {10038, "Socket operation on non-socket"},
            {10039, "Destination address required"},
            {10040, "Message too long"},
            {10041, "Wrong protocol type for socket"},
            {10042, "Bad protocol option"},
            {10043, "Protocol not supported"},
            {10044, "Socket type not supported"},
            {10045, "Operation not supported on socket"},
            {10046, "Protocol family not supported"},
            {10047, "Address family not supported by protocol family"},
            {10048, "Address already in use"},
            {10049, "Can't assign requested address"},
            {10050, "Network is down"},
            {10051, "Network is unreachable"},
            {10052, "Network dropped connection or reset"},
            {10053, "Software caused connection abort"},
            {10054, "Connection reset by peer"},
            {10055, "No buffer space available"},
            {10056, "Socket is already connected"},
            {10057, "Socket is not connected"},
            {10058, "Can't send after socket shutdown"},
            {10059, "Too many references, can't splice"},
            {10060, "Connection timed out"},
            {10061, "Connection refused"},
            {10062, "Too many levels of symbolic links"},
            {10063, "File name too long"},
            {10064, "Host is down"},
            {10065, "No route to Host"},
            {10066, "Directory not empty"},
            {10067, "Too many processes"},
            {10068, "Too many users"},
            {10069, "Disc quota exceeded"},
            {10070, "Stale NFS file handle"},
            {10071, "Too many levels of remote in path"},
            {10091, "Network subsystem is unavailable"},
            {10092, "Incompatible version of WINSOCK.DLL"},
            {10093, "Successful WSAStartup not yet performed"},
            {11001, "Host not found"},
            {11002, "Non-Authoritative Host not found"},
            {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
            {11004, "Valid name, no data record of requested type"},
        };
        for (const auto& [code, message] : table)
            QTest::addRow("%d", code) << code << QString::number(code) + ":" + message;
        QTest::newRow("zero") << 0 << "";
        QTest::newRow("not in the table") << 10001 << "Unknown Error No. 10001";
        QTest::newRow("between rows") << 10072 << "Unknown Error No. 10072";
    }
    void socketErrorStr() {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(SocketErrorStr(code)), text);
    }

    void exceptionClasses() {
        const Raised abort = RaisedBy([] { throw EAbortError("Socket readln aborted"); });
        QCOMPARE(abort.className, "EAbortError");
        try {
            throw EAbortError("x");
        } catch (const ESockError& e) {
            QCOMPARE(QString(e.ClassName()), "EAbortError");
        }
        QCOMPARE(RaisedBy([] { throw ESockError("y"); }).className, "ESockError");
    }

    void twoConnectionsInSequenceReplaceTheSocket() {
        ScriptedPeer peer;
        peer.send("one\r\n").close().next().send("two\r\n").close();
        TPowersock sock;
        int disconnects = 0;
        int connects = 0;
        sock.OnConnect = [&](QObject* sender) {
            QCOMPARE(sender, &sock);
            ++connects;
        };
        sock.OnDisconnect = [&](QObject*) { ++disconnects; };
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        for (const char* expected : {"one\r\n", "two\r\n"}) {
            sock.Connect();
            QVERIFY(sock.Connected());
            QCOMPARE(sock.ReadLn(), std::string(expected));
            QCOMPARE(sock.ReadLn(), std::string()); // closed by the peer
            sock.Disconnect();
            QVERIFY(!sock.Connected());
        }
        QCOMPARE(connects, 2);
        QVERIFY(disconnects >= 2);
        QCOMPARE(peer.connectionCount(), 2);
    }

    void dottedAddressNeedsNoLookupButANameDoes() {
        ScriptedPeer peer;
        peer.close();
        TPowersock sock;
        int resolved = 0;
        sock.OnHostResolved = [&](QObject*) { ++resolved; };
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        sock.Disconnect();
        QCOMPARE(resolved, 0);
        sock.Host = "localhost";
        sock.Connect();
        QCOMPARE(resolved, 1);
        QCOMPARE(QString::fromStdString(sock.GetRemoteIP()), "127.0.0.1");
        sock.Disconnect();
    }

    void onlyAWholeDottedAddressIsTakenAsOne_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("connects");
        QTest::newRow("dotted") << "127.0.0.1" << true;
        QTest::newRow("short form") << "127.1" << true;
        QTest::newRow("hex") << "0x7f.0.0.1" << true;
        QTest::newRow("blank and more") << "127.0.0.1 evil" << false;
        QTest::newRow("CR LF and a header") << "127.0.0.1\r\nX-Evil: 1" << false;
        QTest::newRow("tab and more") << "127.0.0.1\tx" << false;
    }
    void onlyAWholeDottedAddressIsTakenAsOne() {
        QFETCH(QString, host);
        QFETCH(bool, connects);
        ScriptedPeer peer;
        TPowersock sock;
        sock.Host = host.toStdString();
        sock.Port = peer.port();
        const Raised raised = RaisedBy([&] { sock.Connect(); });
        QCOMPARE(raised.message, connects ? QString() : QString("Null Remote Address"));
        QCOMPARE(sock.Connected(), connects);
        QTest::qWait(50);
        QCOMPARE(peer.connectionCount(), connects ? 1 : 0);
        if (connects)
            sock.Disconnect();
    }

    void unresolvableNameIsNullRemoteAddress() {
        TPowersock sock;
        int invalid = 0;
        int failed = 0;
        sock.OnInvalidHost = [&](bool&) { ++invalid; };
        sock.OnConnectionFailed = [&](QObject*) { ++failed; };
        sock.Host = "no-such-host.invalid";
        sock.Port = 80;
        const Raised raised = RaisedBy([&] { sock.Connect(); });
        QCOMPARE(raised.className, "ESockError");
        QCOMPARE(raised.message, "Null Remote Address");
        QCOMPARE(invalid, 1);
        QCOMPARE(failed, 0);
    }

    void invalidHostHandlerMayGrantOneMoreTry() {
        ScriptedPeer peer;
        peer.close();
        TPowersock sock;
        int calls = 0;
        sock.OnInvalidHost = [&](bool& handled) {
            ++calls;
            sock.Host = "127.0.0.1";
            handled = true;
        };
        sock.Host = "no-such-host.invalid";
        sock.Port = peer.port();
        sock.Connect();
        QVERIFY(sock.Connected());
        sock.Disconnect();

        // A second failure is final, whatever the handler says.
        sock.OnInvalidHost = [&](bool& handled) {
            ++calls;
            handled = true;
        };
        sock.Host = "no-such-host.invalid";
        QCOMPARE(RaisedBy([&] { sock.Connect(); }).message, "Null Remote Address");
        QCOMPARE(calls, 2);
    }

    void closedPortIsConnectionFailed() {
        TPowersock sock;
        int failed = 0;
        sock.OnConnectionFailed = [&](QObject*) { ++failed; };
        sock.Host = "127.0.0.1";
        sock.Port = ClosedPort();
        const Raised raised = RaisedBy([&] { sock.Connect(); });
        QCOMPARE(raised.className, "ESockError");
        QCOMPARE(raised.message, "Connection Failed");
        QCOMPARE(failed, 1);
        QVERIFY(!sock.Connected());
    }

    void connectWhileConnectedIsRefused() {
        ScriptedPeer peer;
        TPowersock sock;
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        QCOMPARE(RaisedBy([&] { sock.Connect(); }).message, "Already connected");
        sock.Disconnect();
    }

    void readLnConsumesNothingPastTheLineFeed() {
        ScriptedPeer peer;
        // The long line passes the first peeks, which start small.
        const std::string longLine = "X-Long: " + std::string(5000, 'v') + "\r\n";
        peer.send("HTTP/1.0 200 OK\r\n" + QByteArray::fromStdString(longLine) +
                  "LF only\nREST of the data")
            .close();
        TPowersock sock;
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        QTRY_VERIFY(sock.DataAvailable());
        QCOMPARE(sock.ReadLn(), std::string("HTTP/1.0 200 OK\r\n"));
        QCOMPARE(sock.ReadLn(), longLine);
        QCOMPARE(sock.ReadLn(), std::string("LF only\n"));
        std::string rest;
        sock.CaptureString(rest, -1);
        QCOMPARE(rest, std::string("REST of the data"));
        QCOMPARE(sock.ReceivedBytes, 16);
        sock.Disconnect();
    }

    void readLnJoinsALineArrivingInPieces() {
        ScriptedPeer peer;
        peer.sendInPieces("220 a line in pieces\r\nnext", {1, 3, 1}, 5).close();
        TPowersock sock;
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        QCOMPARE(sock.ReadLn(), std::string("220 a line in pieces\r\n"));
        // A partial line is dropped when the peer closes.
        QCOMPARE(sock.ReadLn(), std::string());
        sock.Disconnect();
    }

    void peerClosingReplacesTheSocketAndEndsTheRead() {
        ScriptedPeer peer;
        peer.pause(50).close();
        TPowersock sock;
        int disconnects = 0;
        sock.OnDisconnect = [&](QObject*) { ++disconnects; };
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        QCOMPARE(sock.ReadLn(), std::string());
        // The close was noticed while waiting: the socket is already replaced.
        QCOMPARE(disconnects, 1);
        QVERIFY(!sock.Connected());
        std::string text = "old";
        sock.CaptureString(text, -1);
        QCOMPARE(text, std::string());
        sock.Connect();
        QVERIFY(sock.Connected());
        sock.Disconnect();
    }

    void captureTakesEveryChunk() {
        QByteArray data;
        for (int i = 0; i < 3000; ++i)
            data += char('a' + i % 26);
        ScriptedPeer peer;
        peer.sendInPieces(data, {1, 1, 700, 1, 1500, 1}, 3).close();
        TPowersock sock;
        QList<int> counts;
        sock.OnPacketRecvd = [&](QObject*) { counts << sock.ReceivedBytes; };
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        std::string text;
        sock.CaptureString(text, -1);
        sock.Disconnect();
        QCOMPARE(QByteArray::fromStdString(text), data);
        QCOMPARE(sock.ReceivedBytes, data.size());
        QVERIFY(counts.size() > 3);
        QCOMPARE(counts.last(), data.size());
        for (int i = 1; i < counts.size(); ++i)
            QVERIFY(counts[i] > counts[i - 1]);
    }

    void captureWithALimitLeavesTheRest() {
        ScriptedPeer peer;
        peer.send("0123456789").close();
        TPowersock sock;
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        QTRY_VERIFY(sock.DataAvailable());
        std::string text;
        sock.CaptureString(text, 4);
        QCOMPARE(text, std::string("0123"));
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        sock.CaptureStream(buffer, 3);
        QCOMPARE(buffer.data(), QByteArray("456"));
        QTemporaryDir dir;
        const std::string name = dir.filePath("rest.bin").toStdString();
        sock.CaptureFile(name);
        QFile file(QString::fromStdString(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("789"));
        sock.Disconnect();
    }

    void writeSendsExactBytes() {
        ScriptedPeer peer;
        QTemporaryDir dir;
        QFile file(dir.filePath("send.bin"));
        QByteArray content(200000, '\0');
        for (int i = 0; i < content.size(); ++i)
            content[i] = char(i * 7);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();

        TPowersock sock;
        int sent = 0;
        sock.OnPacketSent = [&](QObject*) { ++sent; };
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        sock.Write(std::string("a\0b", 3));
        sock.Writeln("line");
        sock.SendFile(file.fileName().toStdString());
        QTRY_COMPARE(peer.received().size(), 3 + 6 + content.size());
        QCOMPARE(peer.received().left(9), QByteArray("a\0bline\r\n", 9));
        QCOMPARE(peer.received().mid(9), content);
        QVERIFY(sent >= 4); // one event per accepted part of at most 64 KiB
        sock.Disconnect();
    }

    void transactionReadsTheReplyCode_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("code");
        QTest::newRow("code and text") << QByteArray("250 OK\r\n") << 250;
        QTest::newRow("no digits") << QByteArray("OK\r\n") << 0;
        QTest::newRow("sixteen bits") << QByteArray("70000 big\r\n") << 70000 - 65536;
    }
    void transactionReadsTheReplyCode() {
        QFETCH(QByteArray, reply);
        QFETCH(int, code);
        ScriptedPeer peer;
        peer.send(reply);
        TPowersock sock;
        QStringList statuses;
        sock.ReportLevel = 1;
        sock.OnStatus = [&](QObject*, const std::string& s) {
            statuses << QString::fromStdString(s);
        };
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        QCOMPARE(QByteArray::fromStdString(sock.Transaction("HELO x")), reply);
        QCOMPARE(sock.ReplyCode, code);
        QCOMPARE(statuses, QStringList{QString::fromLatin1(reply)});
        QTRY_COMPARE(peer.received(), QByteArray("HELO x\r\n"));
        sock.Disconnect();
    }

    void statusMessagesFollowTheReportLevel_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("closeReported");
        QTest::addColumn<bool>("tracesReported");
        QTest::newRow("0") << 0 << false << false;
        QTest::newRow("4") << 4 << true << false;
        QTest::newRow("8") << 8 << true << true;
    }
    void statusMessagesFollowTheReportLevel() {
        QFETCH(int, level);
        QFETCH(bool, closeReported);
        QFETCH(bool, tracesReported);
        ScriptedPeer peer;
        TPowersock sock;
        QStringList statuses;
        sock.ReportLevel = level;
        sock.OnStatus = [&](QObject* sender, const std::string& s) {
            QCOMPARE(sender, &sock);
            statuses << QString::fromStdString(s);
            throw Exception("handlers may fail"); // swallowed
        };
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        sock.Disconnect();
        QCOMPARE(statuses.contains("Request Close Socket"), closeReported);
        QCOMPARE(statuses.contains("Connecting"), tracesReported);
        QCOMPARE(statuses.contains("Disconnecting"), tracesReported);
        QCOMPARE(QString::fromStdString(sock.Status()), "Request Close Socket");
    }

    void timeOutEndsEachWait_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("message");
        QTest::newRow("connect") << "connect"
                                 << "ESockError"
                                 << "Connection Timed out";
        QTest::newRow("line") << "readln"
                              << "EAbortError"
                              << "Socket readln aborted";
        QTest::newRow("capture") << "capture"
                                 << "EAbortError"
                                 << "Socket capture aborted";
        QTest::newRow("capture file") << "file"
                                      << "EAbortError"
                                      << "Socket send aborted";
    }
    void timeOutEndsEachWait() {
        QFETCH(QString, operation);
        QFETCH(QString, className);
        QFETCH(QString, message);
        ScriptedPeer silent;
        silent.send("partial line without end");
        StalledListener stalled;
        QVERIFY(stalled.isReady());
        QTemporaryDir dir;

        TPowersock sock;
        int failed = 0;
        sock.OnConnectionFailed = [&](QObject*) { ++failed; };
        sock.TimeOut = 150;
        sock.Host = "127.0.0.1";
        sock.Port = operation == "connect" ? stalled.port() : silent.port();
        QElapsedTimer clock;
        clock.start();
        const Raised raised = RaisedBy([&] {
            sock.Connect();
            std::string text;
            if (operation == "readln")
                sock.ReadLn();
            else if (operation == "capture")
                sock.CaptureString(text, -1);
            else if (operation == "file")
                sock.CaptureFile(dir.filePath("body").toStdString());
        });
        QCOMPARE(raised.className, className);
        QCOMPARE(raised.message, message);
        QVERIFY(clock.elapsed() >= 140);
        QCOMPARE(failed, operation == "connect" ? 1 : 0);
        sock.Disconnect();
    }

    void cancelEndsAWaitAndIsCleared() {
        ScriptedPeer peer;
        peer.pause(400).send("late\r\n");
        TPowersock sock; // TimeOut 0: it would wait for ever
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        QTimer::singleShot(100, &sock, [&] { sock.Abort(); });
        QElapsedTimer clock;
        clock.start();
        const Raised raised = RaisedBy([&] { sock.ReadLn(); });
        QCOMPARE(raised.className, "EAbortError");
        QCOMPARE(raised.message, "Socket readln aborted");
        QVERIFY(clock.elapsed() < 390);
        // The cancel flag was cleared: the component reads on.
        QCOMPARE(sock.ReadLn(), std::string("late\r\n"));
        sock.Disconnect();
    }

    void cancelDuringConnectIsConnectionCanceled() {
        StalledListener stalled;
        QVERIFY(stalled.isReady());
        TPowersock sock;
        int failed = 0;
        sock.OnConnectionFailed = [&](QObject*) { ++failed; };
        sock.Host = "127.0.0.1";
        sock.Port = stalled.port();
        QTimer::singleShot(100, &sock, [&] { sock.Cancel(); });
        QCOMPARE(RaisedBy([&] { sock.Connect(); }).message, "Connection Canceled");
        QCOMPARE(failed, 1);
        sock.Disconnect();
    }

    void overlongLineIsRefusedAndClosed() {
        ScriptedPeer peer;
        peer.send(QByteArray(65536, 'h') + "\r\n").pause(1000).close();
        TPowersock sock;
        int disconnects = 0;
        sock.OnDisconnect = [&](QObject*) { ++disconnects; };
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        const Raised raised = RaisedBy([&] { sock.ReadLn(); });
        QCOMPARE(raised.className, "ESockError");
        QCOMPARE(raised.message, "Header line too long");
        QVERIFY(!sock.Connected());
        QCOMPARE(disconnects, 1);
    }

    void lineOfExactlySixtyFourKibIsAccepted() {
        ScriptedPeer peer;
        const QByteArray line = QByteArray(65534, 'h') + "\r\n";
        peer.send(line).close();
        TPowersock sock;
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        QCOMPARE(QByteArray::fromStdString(sock.ReadLn()), line);
        sock.Disconnect();
    }

    void resetIsReportedWithItsErrorText() {
        ScriptedPeer peer;
        peer.send("some").pause(50).reset();
        TPowersock sock;
        int errors = 0;
        sock.OnError = [&](QObject*, std::uint16_t code, const std::string& text) {
            ++errors;
            QCOMPARE(code, 10054);
            QCOMPARE(text, std::string("10054:Connection reset by peer"));
        };
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        std::string text;
        const Raised raised = RaisedBy([&] { sock.CaptureString(text, -1); });
        QCOMPARE(raised.className, "ESockError");
        QCOMPARE(raised.message, "10054:Connection reset by peer");
        QCOMPARE(errors, 1);
        QCOMPARE(sock.GetLastErrorNo(), 10054);
        sock.Disconnect();
    }

    void eventLoopRunsWhileWaiting() {
        ScriptedPeer peer;
        peer.pause(300).send("done\r\n");
        TPowersock sock;
        int ticks = 0;
        QTimer timer;
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start();
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        QCOMPARE(sock.ReadLn(), std::string("done\r\n"));
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
        sock.Disconnect();
    }

    void applicationQuittingEndsAWaitAsACancel() {
        ScriptedPeer peer; // accepts and stays silent
        TPowersock sock;
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        Raised raised;
        qint64 waited = -1;
        QTimer::singleShot(0, &sock, [&] {
            sock.Connect();
            QTimer::singleShot(100, [] { QCoreApplication::exit(0); });
            QElapsedTimer clock;
            clock.start();
            raised = RaisedBy([&] { sock.ReadLn(); });
            waited = clock.elapsed();
            // Every later wait ends at once while the application quits.
            QCOMPARE(RaisedBy([&] { sock.ReadLn(); }).message, "Socket readln aborted");
            sock.Disconnect();
            // A name not looked up before: Qt leaks a cached answer asked for while quitting.
            sock.Host = "asked-while-quitting.invalid";
            QCOMPARE(RaisedBy([&] { sock.Connect(); }).message, "Host Lookup Canceled");
            sock.Host = "127.0.0.1";
            QCOMPARE(RaisedBy([&] { sock.Connect(); }).message, "Connection Canceled");
        });
        QCoreApplication::exec(); // returns once the wait above has unwound
        QCOMPARE(raised.className, "EAbortError");
        QCOMPARE(raised.message, "Socket readln aborted");
        QVERIFY(waited >= 90 && waited < 5000);
        sock.Disconnect();
    }

    void dataAvailableAndClearInput() {
        ScriptedPeer peer;
        peer.send("junk");
        TPowersock sock;
        sock.Host = "127.0.0.1";
        sock.Port = peer.port();
        sock.Connect();
        QTRY_VERIFY(sock.DataAvailable());
        sock.ClearInput();
        QVERIFY(!sock.DataAvailable());
        sock.Disconnect();
    }

    void localIpIsDotted() {
        TPowersock sock;
        const QString ip = QString::fromStdString(sock.GetLocalIP());
        QVERIFY2(QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+$").match(ip).hasMatch(),
                 qPrintable(ip));
    }
};

QTEST_MAIN(PsockTest)
#include "psock_test.moc"
