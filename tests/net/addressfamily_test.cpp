// The address family choice of both client sockets, on ::1 and on names a private hosts file
// gives: an IPv6-only name and a name with an address of each family. Those run in a network
// namespace of their own, whose loopback also holds a unique local IPv6 address.
#include "core/net/ErrorExplanation.h"
#include "core/net/Psock.h"
#include "core/net/ScktComp.h"
#include "support/EventErrorRecorder.h"
#include "support/Raised.h"
#include "support/ScriptedPeer.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <netdb.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {
const char* const kV6Only = "v6only.quillmet.test";
const char* const kBoth = "both.quillmet.test";
// Not ::1: the hosts file lookup turns ::1 into 127.0.0.1 for an IPv4 query.
const char* const kOwnV6 = "fd51:7173:6d31::1";

// A name's addresses as the system orders them.
QList<QHostAddress> SystemOrder(const char* name) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    QList<QHostAddress> found;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0)
        return found;
    for (const addrinfo* a = list; a; a = a->ai_next)
        found << QHostAddress(a->ai_addr);
    ::freeaddrinfo(list);
    return found;
}

bool Ip(const QStringList& arguments) {
    const QString ip = QStandardPaths::findExecutable(
        QStringLiteral("ip"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                               QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    return !ip.isEmpty() && QProcess::execute(ip, arguments) == 0;
}
} // namespace

class AddressFamilyTest final : public QObject {
    Q_OBJECT

private:
    QString m_noHosts; // why the named cases cannot run here
    QTemporaryDir m_dir;

    void requireHosts() {
        if (!m_noHosts.isEmpty())
            QSKIP(qPrintable(m_noHosts));
    }

private slots:
    // The names exist only in this process's own mount namespace, over /etc/hosts.
    void initTestCase() {
        if (::geteuid() != 0) {
            m_noHosts = QStringLiteral("a private hosts file needs root");
            return;
        }
        QFile original(QStringLiteral("/etc/hosts"));
        QFile hosts(m_dir.filePath(QStringLiteral("hosts")));
        QVERIFY(original.open(QIODevice::ReadOnly) && hosts.open(QIODevice::WriteOnly));
        hosts.write(original.readAll());
        hosts.write(QStringLiteral("\n%3 %1\n%3 %2\n127.0.0.1 %2\n")
                        .arg(kV6Only, kBoth, kOwnV6)
                        .toLatin1());
        hosts.close();
        // Threads started from here on share both namespaces; none runs before.
        if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(hosts.fileName().toLocal8Bit().constData(), "/etc/hosts", nullptr, MS_BIND,
                    nullptr) != 0) {
            m_noHosts = QStringLiteral("no private namespaces: %1").arg(strerror(errno));
            return;
        }
        if (!Ip({"link", "set", "lo", "up"}) ||
            !Ip({"-6", "addr", "add", QString::fromLatin1(kOwnV6) + "/128", "dev", "lo",
                 "nodad"})) {
            m_noHosts = QStringLiteral("cannot set up the namespace's loopback with ip");
            return;
        }
        QCOMPARE(SystemOrder(kV6Only), QList<QHostAddress>{QHostAddress(kOwnV6)});
        QCOMPARE(SystemOrder(kBoth).size(), 2);
    }

    void aListenerOnIpv6LoopbackIsReached_data() {
        QTest::addColumn<AddressFamily>("family");
        QTest::newRow("ipv6") << AddressFamily::Ipv6;
        QTest::newRow("auto") << AddressFamily::Auto;
    }
    void aListenerOnIpv6LoopbackIsReached() {
        QFETCH(AddressFamily, family);
        ScriptedPeer peer(QHostAddress(QHostAddress::LocalHostIPv6));
        QVERIFY(peer.isListening());
        peer.readRequest().send("200 ok\r\n").close();
        TPowersock sock;
        sock.Host = "::1";
        sock.Port = peer.port();
        sock.Family = family;
        sock.Connect();
        QCOMPARE(sock.ConnectedFamily(), AddressFamily::Ipv6);
        QCOMPARE(sock.GetRemoteIP(), std::string("::1"));
        sock.Write("GET / HTTP/1.0\r\n\r\n");
        QCOMPARE(sock.ReadLn(), std::string("200 ok\r\n"));
        QCOMPARE(peer.received(), QByteArray("GET / HTTP/1.0\r\n\r\n"));
        sock.Disconnect();

        TClientSocket client;
        client.setAddress("::1");
        client.setPort(peer.port());
        client.setFamily(family);
        client.Activate();
        QTRY_VERIFY(client.Active());
        QCOMPARE(client.Socket()->RemoteAddressText(), std::string("::1"));
        QCOMPARE(client.Socket()->ConnectedFamily(), AddressFamily::Ipv6);
        client.Deactivate();
    }

    void ipv4ChosenForAnIpv6OnlyHostIsNullRemoteAddressAndSaysWhy_data() {
        QTest::addColumn<bool>("named");
        QTest::newRow("literal ::1") << false;
        QTest::newRow("name in the hosts file") << true;
    }
    void ipv4ChosenForAnIpv6OnlyHostIsNullRemoteAddressAndSaysWhy() {
        QFETCH(bool, named);
        if (named)
            requireHosts();
        ScriptedPeer peer(QHostAddress(QHostAddress::LocalHostIPv6));
        TPowersock sock; // IPv4 unless told otherwise
        int invalid = 0;
        sock.OnInvalidHost = [&](bool&) { ++invalid; };
        sock.Host = named ? kV6Only : "::1";
        sock.Port = peer.port();
        try {
            sock.Connect();
            QFAIL("connected over IPv4 to an IPv6-only host");
        } catch (const ESockError& e) {
            QCOMPARE(QString(e.what()), QStringLiteral("Null Remote Address"));
            QCOMPARE(e.Fault(), SockFault::NoIpv4Address);
            const RunOutcome outcome = OutcomeOfFailure(e);
            QCOMPARE(outcome.end, RunEnd::NoIpv4Address);
            QCOMPARE(ExplainNetworkError(outcome, QString::fromLatin1(kV6Only), peer.port()),
                     QStringLiteral("このホストには IPv4 のアドレスがありません。"));
        }
        QCOMPARE(invalid, 1);
        QCOMPARE(peer.connectionCount(), 0);
    }

    void anUnknownNameStaysUnresolvedWhateverTheFamily() {
        TPowersock sock;
        sock.Host = "no-such-host.invalid";
        sock.Port = 80;
        sock.Family = AddressFamily::Ipv6;
        try {
            sock.Connect();
            QFAIL("connected to a name that does not exist");
        } catch (const ESockError& e) {
            QCOMPARE(QString(e.what()), QStringLiteral("Null Remote Address"));
            QCOMPARE(e.Fault(), SockFault::Unresolved);
        }
    }

    // The first address the system offers refuses; the next one, of the other family, takes
    // the connection.
    void autoFallsBackToTheNextAddressWhenTheFirstRefuses() {
        requireHosts();
        const QHostAddress listening = SystemOrder(kBoth).at(1);
        ScriptedPeer peer(listening);
        QVERIFY(peer.isListening());
        peer.send("hello\r\n").close();
        const AddressFamily second = listening.protocol() == QAbstractSocket::IPv6Protocol
                                         ? AddressFamily::Ipv6
                                         : AddressFamily::Ipv4;

        TPowersock sock;
        int failed = 0;
        sock.OnConnectionFailed = [&](QObject*) { ++failed; };
        sock.Host = kBoth;
        sock.Port = peer.port();
        sock.Family = AddressFamily::Auto;
        sock.Connect();
        QCOMPARE(sock.ConnectedFamily(), second);
        QCOMPARE(sock.ReadLn(), std::string("hello\r\n"));
        QCOMPARE(failed, 0);
        sock.Disconnect();

        EventErrorRecorder errors;
        TClientSocket client;
        int connecting = 0;
        int errorEvents = 0;
        client.OnConnecting = [&](QObject*, TCustomWinSocket*) { ++connecting; };
        client.OnError = [&](QObject*, TCustomWinSocket*, TErrorEvent, int&) { ++errorEvents; };
        client.setHost(kBoth);
        client.setPort(peer.port());
        client.setFamily(AddressFamily::Auto);
        client.Activate();
        QTRY_VERIFY(client.Active());
        QCOMPARE(client.Socket()->ConnectedFamily(), second);
        QCOMPARE(QString::fromStdString(client.Socket()->RemoteAddressText()),
                 listening.toString());
        QCOMPARE(connecting, 1);
        QCOMPARE(errorEvents, 0);
        QVERIFY2(errors.texts().isEmpty(), qPrintable(errors.texts().join('\n')));
        client.Deactivate();
        QCOMPARE(peer.connectionCount(), 2);
    }

    // Without Auto the first address is the only one: its refusal is the outcome.
    void ipv6ChosenUsesOnlyTheIpv6AddressOfANameWithBoth() {
        requireHosts();
        ScriptedPeer peer; // 127.0.0.1 only: the port is closed on the IPv6 address
        TPowersock sock;
        sock.Host = kBoth;
        sock.Port = peer.port();
        sock.Family = AddressFamily::Ipv6;
        const Raised raised = RaisedBy([&] { sock.Connect(); });
        QCOMPARE(raised.message, QStringLiteral("Connection Failed"));
        QCOMPARE(sock.ConnectedFamily(), AddressFamily::Ipv6);
        QCOMPARE(peer.connectionCount(), 0);
    }

    void theAsynchronousSocketTellsANameWithoutAnAddressOfTheFamily() {
        requireHosts();
        EventErrorRecorder errors;
        TClientSocket client; // IPv4
        client.setHost(kV6Only);
        client.setPort(80);
        client.Activate();
        QTRY_COMPARE(errors.texts().size(), 1);
        QVERIFY2(errors.texts().first().endsWith(QStringLiteral("(11004)")),
                 qPrintable(errors.texts().first()));
        QCOMPARE(client.Socket()->LastLookup(), LookupStatus::NoAddressOfFamily);
        QVERIFY(!client.Active());
    }

    void familyNamesReadBack() {
        for (AddressFamily f : {AddressFamily::Ipv4, AddressFamily::Ipv6, AddressFamily::Auto})
            QVERIFY(AddressFamilyFromName(AddressFamilyName(f)) == f);
        // A settings file spells them in lower case only.
        QVERIFY(!AddressFamilyFromName("IPv4"));
        QVERIFY(!AddressFamilyFromName(""));
    }
};

QTEST_GUILESS_MAIN(AddressFamilyTest)
#include "addressfamily_test.moc"
