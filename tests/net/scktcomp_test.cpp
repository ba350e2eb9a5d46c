#include "core/net/ScktComp.h"
#include "support/EventErrorRecorder.h"
#include "support/SockPeer.h"
#include "support/TestHelpers.h"

#include <QEventLoop>
#include <QHostInfo>
#include <QTimer>
#include <QtTest>
#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>

namespace {

// Records the component's events as "Name:Active" and what each read returned.
struct EventLog {
    QStringList events;
    QByteArray data;
    int writes = 0;

    void attach(TClientSocket& socket) {
        const auto note = [this, &socket](const char* name) {
            return [this, &socket, name](QObject* sender, TCustomWinSocket* s) {
                QVERIFY(sender == &socket);
                QVERIFY(s == socket.Socket());
                events << QString("%1:%2").arg(name).arg(socket.Active() ? 1 : 0);
            };
        };
        socket.OnLookup = note("Lookup");
        socket.OnConnecting = note("Connecting");
        socket.OnConnect = note("Connect");
        socket.OnDisconnect = note("Disconnect");
        socket.OnWrite = [this, &socket](QObject*, TCustomWinSocket*) {
            ++writes;
            events << QString("Write:%1").arg(socket.Active() ? 1 : 0);
        };
        socket.OnRead = [this](QObject*, TCustomWinSocket* s) {
            const std::string text = s->ReceiveString();
            data += QByteArray::fromStdString(text);
            events << "Read:" + QString::fromStdString(text);
        };
    }
};

QString LookupError(int code) {
    return QString("'ASync Lookup' API でWindows ソケットエラー: %1 (%2)")
        .arg(QString::fromLocal8Bit(hstrerror(code - 11000)))
        .arg(code);
}

void ConnectTo(TClientSocket& socket, const SockPeer& peer) {
    socket.setAddress("127.0.0.1");
    socket.setPort(peer.port());
    socket.setActive(true);
}

} // namespace

class ScktCompTest : public QObject {
    Q_OBJECT

private slots:
    void normalEventOrder_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("address");
        QTest::newRow("host name") << "localhost"
                                   << "";
        QTest::newRow("host as dotted address") << "127.0.0.1"
                                                << "";
        QTest::newRow("address only") << ""
                                      << "127.0.0.1";
        QTest::newRow("host wins over address") << "localhost"
                                                << "192.0.2.1";
    }
    void normalEventOrder() {
        QFETCH(QString, host);
        QFETCH(QString, address);
        EventErrorRecorder messages;
        SockPeer peer;
        peer.setGreeting("220 ready\r\n");
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        socket.OnRead = [&](QObject*, TCustomWinSocket* s) {
            const std::string text = s->ReceiveString();
            log.events << "Read:" + QString::fromStdString(text);
            if (text.rfind("220", 0) == 0)
                QCOMPARE(s->SendString("HELO here\r\n"), 11);
        };
        socket.setHost(host.toStdString());
        socket.setAddress(address.toStdString());
        socket.setPort(peer.port());
        socket.setActive(true);
        QVERIFY(!socket.Active());

        QTRY_COMPARE(peer.received(), QByteArray("HELO here\r\n"));
        peer.send("250 hello\r\n");
        QTRY_COMPARE(log.events.size(), 6);
        peer.close();
        QTRY_COMPARE(log.events.size(), 7);

        const QStringList expected{"Lookup:0",    "Connecting:0",       "Connect:1",
                                   "Write:1",     "Read:220 ready\r\n", "Read:250 hello\r\n",
                                   "Disconnect:0"};
        QCOMPARE(log.events, expected);
        QVERIFY(!socket.Active());
        QVERIFY(!socket.Socket()->Connected());
        QCOMPARE(socket.Socket()->SocketHandle(), -1);
        QCOMPARE(messages.texts(), QStringList{});
        QCOMPARE(peer.connections(), 1);
    }

    void writeEventComesBeforeTheFirstRead() {
        SockPeer peer;
        peer.setGreeting("220 ready\r\n");
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        // The greeting is already waiting when the connect event ends, so the socket
        // is readable and writable at the same moment.
        socket.OnConnect = [&](QObject*, TCustomWinSocket* s) {
            log.events << "Connect:1";
            QTRY_COMPARE(s->ReceiveBytes(nullptr, -1), 11);
        };
        ConnectTo(socket, peer);
        QTRY_COMPARE(log.data, QByteArray("220 ready\r\n"));
        QCOMPARE(log.events, (QStringList{"Lookup:0", "Connecting:0", "Connect:1", "Write:1",
                                          "Read:220 ready\r\n"}));
    }

    void disconnectEventComesWhileStillConnected_data() {
        QTest::addColumn<bool>("peerCloses");
        QTest::newRow("we deactivate") << false;
        QTest::newRow("peer closes") << true;
    }
    void disconnectEventComesWhileStillConnected() {
        QFETCH(bool, peerCloses);
        SockPeer peer;
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        bool connectedInside = false;
        int portInside = 0;
        socket.OnDisconnect = [&](QObject*, TCustomWinSocket* s) {
            log.events << "Disconnect";
            connectedInside = s->Connected();
            portInside = s->RemotePortNumber();
            socket.setActive(true); // no effect: still connected until we return
            log.events << QString("Active:%1").arg(socket.Active() ? 1 : 0);
        };
        ConnectTo(socket, peer);
        QTRY_VERIFY(socket.Active());
        if (peerCloses)
            peer.close();
        else
            socket.Deactivate();
        QTRY_VERIFY(log.events.contains("Disconnect"));

        QVERIFY(connectedInside);
        QCOMPARE(portInside, int(peer.port()));
        QCOMPARE(log.events.count("Lookup:0"), 1); // no second opening
        QCOMPARE(log.events.last(), "Active:0");
        QVERIFY(!socket.Active());
        QVERIFY(!socket.Socket()->Connected());
        QCOMPARE(socket.Socket()->SocketHandle(), -1);
        QCOMPARE(socket.Socket()->RemoteAddr().sin_port, in_port_t(0));
        QCOMPARE(socket.Socket()->RemoteAddr().sin_addr.s_addr, in_addr_t(0));
        QTRY_VERIFY(peer.clientGone() || peerCloses);
        QCOMPARE(peer.connections(), 1);
    }

    void deactivatingWhilePendingHasNoEffect_data() {
        QTest::addColumn<bool>("duringLookup");
        QTest::newRow("lookup pending") << true;
        QTest::newRow("connect pending") << false;
    }
    void deactivatingWhilePendingHasNoEffect() {
        QFETCH(bool, duringLookup);
        SockPeer peer;
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        // A host name is looked up first; a bare address goes straight to the connect.
        socket.setHost(duringLookup ? "localhost" : "");
        socket.setAddress(duringLookup ? "" : "127.0.0.1");
        socket.setPort(peer.port());
        socket.setActive(true);
        QCOMPARE(socket.Socket()->LookupState(), duringLookup ? lsLookupAddress : lsIdle);
        QVERIFY(socket.Socket()->SocketHandle() >= 0);
        QVERIFY(!socket.Socket()->Connected());
        socket.setActive(false);
        socket.Deactivate();
        QVERIFY(socket.Socket()->SocketHandle() >= 0);
        QTRY_COMPARE(log.writes, 1);
        QCOMPARE(log.events, (QStringList{"Lookup:0", "Connecting:0", "Connect:1", "Write:1"}));
        QTRY_COMPARE(peer.connections(), 1);
    }

    void hostMayChangeWhileLookupPending() {
        SockPeer peer;
        TClientSocket socket;
        socket.setHost("localhost");
        socket.setPort(peer.port());
        socket.Activate();
        QCOMPARE(socket.Socket()->LookupState(), lsLookupAddress);
        socket.setHost("elsewhere.invalid");
        socket.setPort(1);
        QCOMPARE(socket.Host(), std::string("elsewhere.invalid"));
        QTRY_VERIFY(socket.Active());
        QCOMPARE(socket.Socket()->RemotePortNumber(), int(peer.port()));
        QCOMPARE(socket.Socket()->RemoteAddressText(), std::string("127.0.0.1"));
    }

    void openingTwiceWhilePendingIsRefused() {
        EventErrorRecorder messages;
        SockPeer peer;
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        socket.setHost("localhost");
        socket.setPort(peer.port());
        socket.Activate();
        try {
            socket.Activate();
            QFAIL("a second opening was accepted");
        } catch (const ESocketError& e) {
            QCOMPARE(QString::fromUtf8(e.what()), "ソケットは既に開かれています");
        }
        QTRY_VERIFY(socket.Active());
        try {
            socket.Socket()->OpenConnection("localhost", "", "", peer.port(), false);
            QFAIL("opening a connected socket was accepted");
        } catch (const ESocketError& e) {
            QCOMPARE(QString::fromUtf8(e.what()), "ソケットは既に開かれています");
        }
        QVERIFY(socket.Active());
        QTRY_COMPARE(log.writes, 1);
        QCOMPARE(log.events, (QStringList{"Lookup:0", "Connecting:0", "Connect:1", "Write:1"}));
        QCOMPARE(peer.connections(), 1);
        QCOMPARE(messages.texts(), QStringList{});
    }

    void settersWhileActiveRaise_data() {
        QTest::addColumn<QString>("property");
        QTest::newRow("Host") << "Host";
        QTest::newRow("Address") << "Address";
        QTest::newRow("Service") << "Service";
        QTest::newRow("Port") << "Port";
        QTest::newRow("ClientType") << "ClientType";
    }
    void settersWhileActiveRaise() {
        QFETCH(QString, property);
        SockPeer peer;
        TClientSocket socket;
        socket.setHost("LocalHost");
        socket.setPort(peer.port());
        socket.setService("");
        socket.Activate();
        QTRY_VERIFY(socket.Active());

        // Each entry: the current value again (differing in case where that counts),
        // another value, and the value read back.
        struct Setter {
            std::function<void()> same, other;
            std::function<QString()> read;
        };
        const QMap<QString, Setter> setters{
            {"Host",
             {[&] { socket.setHost("localhost"); }, [&] { socket.setHost("example.invalid"); },
              [&] { return QString::fromStdString(socket.Host()); }}},
            {"Address",
             {[&] { socket.setAddress(""); }, [&] { socket.setAddress("127.0.0.2"); },
              [&] { return QString::fromStdString(socket.Address()); }}},
            {"Service",
             {[&] { socket.setService(""); }, [&] { socket.setService("smtp"); },
              [&] { return QString::fromStdString(socket.Service()); }}},
            {"Port",
             {[&] { socket.setPort(peer.port()); }, [&] { socket.setPort(25); },
              [&] { return QString::number(socket.Port()); }}},
            {"ClientType",
             {[&] { socket.setClientType(ctNonBlocking); },
              [&] { socket.setClientType(ctBlocking); },
              [&] { return QString::number(socket.ClientType()); }}},
        };
        const Setter& setter = setters[property];
        const QString before = setter.read();
        setter.same();
        QCOMPARE(setter.read(), before);
        try {
            setter.other();
            QFAIL("the value was changed on an active socket");
        } catch (const ESocketError& e) {
            QCOMPARE(QString::fromUtf8(e.what()), "使用中のソケットは値を変更できません");
            QCOMPARE(e.ClassName(), "ESocketError");
        }
        QCOMPARE(setter.read(), before);
        QVERIFY(socket.Active());

        socket.Deactivate();
        setter.other();
        QVERIFY(setter.read() != before);
    }

    void sendBeforeConnectSendsNothing() {
        SockPeer peer;
        TClientSocket socket;
        TClientSocket other;
        QCOMPARE(socket.Socket()->SendString("early\r\n"), 0);
        int sentWhileConnecting = -2;
        socket.OnConnecting = [&](QObject*, TCustomWinSocket* s) {
            sentWhileConnecting = s->SendString("connecting\r\n");
        };
        socket.setHost("localhost");
        socket.setPort(peer.port());
        socket.Activate();
        QCOMPARE(socket.Socket()->SendString("lookup\r\n"), 0);
        QTRY_VERIFY(socket.Active());
        QCOMPARE(sentWhileConnecting, 0);
        QCOMPARE(other.Socket()->SendString("other\r\n"), 0);
        QCOMPARE(other.Socket()->SendBytes("other", 5), 0);
        QCOMPARE(socket.Socket()->SendString("first\r\n"), 7);
        QTRY_COMPARE(peer.received(), QByteArray("first\r\n"));
    }

    void sendLargerThanSendSpaceTakesPart() {
        SockPeer peer;
        peer.pauseAccepting(); // connections complete, nobody reads
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        ConnectTo(socket, peer);
        QTRY_COMPARE(log.writes, 1);

        const std::string text(32 << 20, 'q');
        const int accepted = socket.Socket()->SendString(text);
        QVERIFY2(accepted > 0 && accepted < int(text.size()),
                 qPrintable(QString::number(accepted)));
        QCOMPARE(socket.Socket()->SendString(text), -1); // the socket would block now
        QTest::qWait(20);
        QCOMPARE(log.writes, 1);

        // Once the peer reads there is room again, and the socket says so.
        peer.resumeAccepting();
        QTRY_COMPARE(log.writes, 2);
        socket.Deactivate();
        QTRY_VERIFY(peer.clientGone());
        QCOMPARE(peer.received().size(), accepted); // the rest was never sent
        QVERIFY(peer.received().count('q') == accepted);
    }

    void receiveWithNothingWaiting() {
        SockPeer peer;
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        char buffer[16];
        QCOMPARE(socket.Socket()->ReceiveString(), std::string());
        QCOMPARE(socket.Socket()->ReceiveBytes(nullptr, -1), 0);
        QCOMPARE(socket.Socket()->ReceiveBytes(buffer, sizeof buffer), 0);

        std::string text = "unset";
        int waiting = -2, received = -2;
        socket.OnWrite = [&](QObject*, TCustomWinSocket* s) {
            text = s->ReceiveString();
            waiting = s->ReceiveBytes(nullptr, -1);
            received = s->ReceiveBytes(buffer, sizeof buffer);
        };
        ConnectTo(socket, peer);
        QTRY_COMPARE(received, -1);
        QCOMPARE(text, std::string());
        QCOMPARE(waiting, 0);

        peer.send("later");
        QTRY_COMPARE(log.data, QByteArray("later"));
    }

    void peerClosingAfterDataGivesReadsThenDisconnect_data() {
        QTest::addColumn<int>("piece"); // 0: everything waiting at once
        QTest::addColumn<QStringList>("reads");
        QTest::newRow("whole") << 0 << QStringList{"Read:0123456789"};
        // A handler that takes only part of what is waiting is told again.
        QTest::newRow("in pieces") << 4 << QStringList{"Read:0123", "Read:4567", "Read:89"};
    }
    void peerClosingAfterDataGivesReadsThenDisconnect() {
        QFETCH(int, piece);
        QFETCH(QStringList, reads);
        SockPeer peer;
        peer.setGreeting("0123456789", true);
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        if (piece > 0) {
            socket.OnRead = [&](QObject*, TCustomWinSocket* s) {
                QTRY_COMPARE(s->ReceiveBytes(nullptr, -1) + log.data.size(), 10);
                char buffer[16];
                const int n = s->ReceiveBytes(buffer, piece);
                log.data += QByteArray(buffer, n);
                log.events << "Read:" + QString::fromLatin1(buffer, n);
            };
        }
        ConnectTo(socket, peer);
        QTRY_VERIFY(log.events.contains("Disconnect:0"));
        QCOMPARE(log.events, QStringList({"Lookup:0", "Connecting:0", "Connect:1", "Write:1"}) +
                                 reads + QStringList{"Disconnect:0"});
        QCOMPARE(log.data, QByteArray("0123456789"));
        QVERIFY(!socket.Active());
    }

    void unresolvableHostDisconnectsBeforeTheReport() {
        EventErrorRecorder messages;
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        int reportsAtDisconnect = -1;
        socket.OnDisconnect = [&](QObject*, TCustomWinSocket*) {
            log.events << "Disconnect";
            reportsAtDisconnect = int(messages.texts().size());
        };
        socket.setHost("no-such-host.invalid");
        socket.setPort(25);
        socket.Activate(); // the failure is not the caller's
        QTRY_COMPARE_WITH_TIMEOUT(messages.texts().size(), 1, 30000);
        QCOMPARE(reportsAtDisconnect, 0);
        // Not found, or no name server to ask (depends on the machine's resolver).
        const QString report = messages.texts().first();
        QVERIFY2(report == LookupError(11001) || report == LookupError(11002), qPrintable(report));
        QCOMPARE(log.events, (QStringList{"Lookup:0", "Disconnect"}));
        QVERIFY(!socket.Active());
        QCOMPARE(socket.Socket()->SocketHandle(), -1);
        QCOMPARE(socket.Socket()->LookupState(), lsIdle);
    }

    void refusedConnection_data() {
        QTest::addColumn<int>("handler"); // 0 none, 1 keeps the code, 2 clears it
        QTest::addColumn<QStringList>("reports");
        const QString refused = "非同期ソケットエラー 10061";
        QTest::newRow("no OnError") << 0 << QStringList{refused, refused};
        QTest::newRow("OnError keeps the code") << 1 << QStringList{refused, refused};
        QTest::newRow("OnError clears the code") << 2 << QStringList{};
    }
    void refusedConnection() {
        QFETCH(int, handler);
        QFETCH(QStringList, reports);
        EventErrorRecorder messages;
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        QList<QPair<int, int>> errors;
        if (handler != 0) {
            socket.OnError = [&](QObject* sender, TCustomWinSocket* s, TErrorEvent event,
                                 int& code) {
                QVERIFY(sender == &socket && s == socket.Socket());
                errors << qMakePair(int(event), code);
                if (handler == 2)
                    code = 0;
            };
        }
        socket.setAddress("127.0.0.1");
        socket.setPort(ClosedPort());
        // Twice: a failed connect leaves nothing in the way of the next try.
        for (int attempt = 1; attempt <= 2; ++attempt) {
            socket.Activate();
            QTRY_VERIFY(messages.texts().size() == attempt || errors.size() == attempt);
            QTest::qWait(20);
            QVERIFY(!socket.Active());
            QVERIFY(!socket.Socket()->Connected());
        }
        QCOMPARE(messages.texts(), reports);
        if (handler != 0)
            QCOMPARE(errors, (QList<QPair<int, int>>{{eeConnect, 10061}, {eeConnect, 10061}}));
        QCOMPARE(log.events.count("Disconnect:0"), 0);
        QCOMPARE(log.events.count("Connect:1"), 0);
        QCOMPARE(log.events.count("Connecting:0"), 2);
    }

    void peerResetIsAnErrorOnTheClose_data() {
        QTest::addColumn<bool>("clearCode");
        QTest::newRow("reported") << false;
        QTest::newRow("suppressed") << true;
    }
    void peerResetIsAnErrorOnTheClose() {
        QFETCH(bool, clearCode);
        EventErrorRecorder messages;
        SockPeer peer;
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        QList<QPair<int, int>> errors;
        socket.OnError = [&](QObject*, TCustomWinSocket*, TErrorEvent event, int& code) {
            errors << qMakePair(int(event), code);
            if (clearCode && event == eeDisconnect)
                code = 0;
        };
        ConnectTo(socket, peer);
        QTRY_VERIFY(socket.Active());
        QTRY_VERIFY(peer.client());
        peer.reset();
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors.first(), qMakePair(int(eeDisconnect), 10054));
        QCOMPARE(messages.texts(),
                 clearCode ? QStringList{} : QStringList{"非同期ソケットエラー 10054"});
        QTest::qWait(20);
        // The close event itself did not fire: the program decides.
        QCOMPARE(log.events.count("Disconnect:0"), 0);
        QVERIFY(socket.Active());
        QCOMPARE(errors.size(), 1);

        // A send on the dead connection fails: OnError, OnDisconnect, then the error.
        try {
            socket.Socket()->SendString("QUIT\r\n");
            QFAIL("sending on a reset connection succeeded");
        } catch (const ESocketError& e) {
            QCOMPARE(QString::fromUtf8(e.what()),
                     QString("'send' API でWindows ソケットエラー: %1 (10054)")
                         .arg(QString::fromLocal8Bit(std::strerror(ECONNRESET))));
        }
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors.last().first, int(eeSend));
        QCOMPARE(log.events.count("Disconnect:0"), 1);
        QVERIFY(!socket.Active());
        QCOMPARE(socket.Socket()->SocketHandle(), -1);
    }

    void addressQueries() {
        SockPeer peer;
        TClientSocket socket;
        TCustomWinSocket* s = socket.Socket();
        QCOMPARE(s->LocalAddressText(), std::string());
        QCOMPARE(s->LocalPortNumber(), -1);
        QCOMPARE(s->LocalHostName(), std::string());
        QCOMPARE(s->RemoteAddressText(), std::string());
        QCOMPARE(s->RemoteHostName(), std::string());
        QCOMPARE(s->RemotePortNumber(), 0);

        int remotePortAtDisconnect = 0;
        socket.OnDisconnect = [&](QObject*, TCustomWinSocket* ws) {
            remotePortAtDisconnect = ws->RemotePortNumber();
        };
        ConnectTo(socket, peer);
        QTRY_VERIFY(socket.Active());
        QTRY_VERIFY(peer.client());
        QCOMPARE(s->LocalAddressText(), std::string("127.0.0.1"));
        QCOMPARE(s->LocalPortNumber(), int(peer.client()->peerPort()));
        QCOMPARE(QString::fromStdString(s->LocalHostName()), QHostInfo::localHostName());
        QCOMPARE(s->RemoteAddressText(), std::string("127.0.0.1"));
        QCOMPARE(s->RemotePortNumber(), int(peer.port()));
        const QString name = QString::fromStdString(s->RemoteHostName());
        QVERIFY(!name.isEmpty());
        QVERIFY(QHostInfo::fromName(name).addresses().contains(QHostAddress::LocalHost));

        socket.Deactivate();
        QCOMPARE(remotePortAtDisconnect, int(peer.port()));
        QCOMPARE(s->RemotePortNumber(), 0);
        QCOMPARE(s->RemoteAddressText(), std::string());
        QCOMPARE(s->LocalPortNumber(), -1);
    }

    void noAddressIsTheCallersError_data() {
        QTest::addColumn<int>("clientType");
        QTest::newRow("non-blocking") << int(ctNonBlocking);
        QTest::newRow("blocking") << int(ctBlocking);
    }
    void noAddressIsTheCallersError() {
        QFETCH(int, clientType);
        EventErrorRecorder messages;
        TClientSocket socket;
        socket.setClientType(TClientType(clientType));
        EventLog log;
        log.attach(socket);
        socket.setPort(25);
        try {
            socket.Activate();
            QFAIL("opening without an address succeeded");
        } catch (const ESocketError& e) {
            QCOMPARE(QString::fromUtf8(e.what()), "アドレスが指定されていません");
        }
        QCOMPARE(log.events, (QStringList{"Lookup:0", "Disconnect:0"}));
        QCOMPARE(socket.Socket()->SocketHandle(), -1);
        QCOMPARE(messages.texts(), QStringList{});
    }

    void serviceLookup_data() {
        QTest::addColumn<QString>("service");
        QTest::addColumn<int>("port"); // -1: the lookup fails
        QTest::newRow("smtp") << "smtp" << 25;
        QTest::newRow("unknown") << "no-such-service" << -1;
    }
    void serviceLookup() {
        QFETCH(QString, service);
        QFETCH(int, port);
        EventErrorRecorder messages;
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        int portAtConnecting = -1;
        QString addressAtConnecting;
        socket.OnConnecting = [&](QObject*, TCustomWinSocket* s) {
            log.events << "Connecting:0";
            portAtConnecting = ntohs(s->RemoteAddr().sin_port);
            char text[INET_ADDRSTRLEN] = {};
            addressAtConnecting = inet_ntop(AF_INET, &s->RemoteAddr().sin_addr, text, sizeof text);
            // Stop before a real connection is made; the report takes the exception.
            throw Exception("stopped before connecting");
        };
        socket.setAddress("127.0.0.1");
        socket.setPort(1); // the service wins
        socket.setService(service.toStdString());
        socket.Activate();
        QCOMPARE(socket.Socket()->LookupState(), lsLookupService);
        QTRY_COMPARE(messages.texts().size(), 1);
        if (port < 0) {
            QCOMPARE(messages.texts(), QStringList{LookupError(11004)});
            QCOMPARE(log.events, (QStringList{"Lookup:0", "Disconnect:0"}));
        } else {
            QCOMPARE(messages.texts(), QStringList{"stopped before connecting"});
            QCOMPARE(portAtConnecting, port);
            QCOMPARE(addressAtConnecting, "127.0.0.1");
            QCOMPARE(log.events, (QStringList{"Lookup:0", "Connecting:0", "Disconnect:0"}));
        }
        QCOMPARE(socket.Socket()->SocketHandle(), -1);
        QVERIFY(!socket.Active());
    }

    void handlerExceptionIsReportedAndEventsGoOn() {
        EventErrorRecorder messages;
        SockPeer peer;
        peer.setGreeting("220 ready\r\n");
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        socket.OnConnect = [&](QObject*, TCustomWinSocket*) {
            log.events << "Connect";
            throw Exception("handler failed");
        };
        ConnectTo(socket, peer);
        QTRY_COMPARE(log.data, QByteArray("220 ready\r\n"));
        QCOMPARE(messages.texts(), QStringList{"handler failed"});
        QCOMPARE(log.events, (QStringList{"Lookup:0", "Connecting:0", "Connect", "Write:1",
                                          "Read:220 ready\r\n"}));
        QVERIFY(socket.Active());
    }

    void notificationsWaitForTheRunningHandler() {
        SockPeer peer;
        peer.setGreeting("one");
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        int depth = 0, deepest = 0;
        const auto enter = [&]() { deepest = std::max(deepest, ++depth); };
        socket.OnRead = [&](QObject*, TCustomWinSocket* s) {
            enter();
            const std::string text = s->ReceiveString();
            log.events << "Read:" + QString::fromStdString(text);
            if (text == "one") {
                // More data and the close arrive while this handler still runs its
                // own event loop (as a message box would).
                peer.send("two");
                peer.close();
                QEventLoop loop;
                QTimer::singleShot(150, &loop, &QEventLoop::quit);
                loop.exec();
            }
            --depth;
        };
        socket.OnDisconnect = [&](QObject*, TCustomWinSocket*) {
            enter();
            log.events << "Disconnect";
            --depth;
        };
        ConnectTo(socket, peer);
        QTRY_VERIFY(log.events.contains("Disconnect"));
        QCOMPARE(deepest, 1);
        QCOMPARE(log.events, (QStringList{"Lookup:0", "Connecting:0", "Connect:1", "Write:1",
                                          "Read:one", "Read:two", "Disconnect"}));
    }

    void blockingMode() {
        SockPeer peer;
        TClientSocket socket;
        EventLog log;
        log.attach(socket);
        socket.setClientType(ctBlocking);
        socket.setHost("localhost");
        socket.setPort(peer.port());
        socket.Activate(); // connects before it returns
        QVERIFY(socket.Active());
        QCOMPARE(log.events, (QStringList{"Lookup:0", "Connecting:0", "Connect:1"}));
        try {
            socket.setClientType(ctNonBlocking);
            QFAIL("the client type changed while connected");
        } catch (const ESocketError& e) {
            QCOMPARE(QString::fromUtf8(e.what()), "使用中のソケットは値を変更できません");
        }

        QCOMPARE(socket.Socket()->SendString("ping"), 4);
        QTRY_COMPARE(peer.received(), QByteArray("ping"));
        peer.send("pong");
        QTRY_COMPARE(socket.Socket()->ReceiveBytes(nullptr, -1), 4);
        QCOMPARE(socket.Socket()->ReceiveString(), std::string("pong"));
        QTest::qWait(20);
        QCOMPARE(log.events.size(), 3); // no notifications in blocking mode
        socket.Deactivate();
        QCOMPARE(log.events.last(), "Disconnect:0");
        QTRY_VERIFY(peer.clientGone());
    }

    void destroyingClosesQuietly() {
        SockPeer peer;
        auto socket = std::make_unique<TClientSocket>();
        bool disconnected = false;
        socket->OnDisconnect = [&](QObject*, TCustomWinSocket*) { disconnected = true; };
        ConnectTo(*socket, peer);
        QTRY_VERIFY(socket->Active());
        QTRY_VERIFY(peer.client());
        socket.reset();
        QTRY_VERIFY(peer.clientGone());
        QVERIFY(!disconnected);
    }
};

QTEST_MAIN(ScktCompTest)
#include "scktcomp_test.moc"
