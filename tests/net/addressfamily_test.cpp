// The address family choice of both client sockets, on ::1 and on names a private hosts file
// gives: an IPv6-only name and a name with an address of each family. Those run in a network
// namespace of their own, whose loopback also holds a unique local IPv6 address.
#include "core/net/ErrorExplanation.h"
#include "core/net/Psock.h"
#include "core/net/ScktComp.h"
#include "support/EventErrorRecorder.h"
#include "support/ScriptedPeer.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <netdb.h>
#include <sched.h>
#include <sys/mount.h>

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
    const QString ip = QStandardPaths::findExecutable("ip", {"/usr/sbin", "/sbin", "/bin"});
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
        QFile hosts(m_dir.filePath(QStringLiteral("hosts")));
        QVERIFY(hosts.open(QIODevice::WriteOnly));
        hosts.write(
            QStringLiteral("%3 %1\n%3 %2\n127.0.0.1 %2\n").arg(kV6Only, kBoth, kOwnV6).toLatin1());
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
    }

    void aListenerOnIpv6LoopbackIsReached() {
        ScriptedPeer peer(QHostAddress(QHostAddress::LocalHostIPv6));
        peer.send("200 ok\r\n").close();
        for (AddressFamily family : {AddressFamily::Ipv6, AddressFamily::Auto}) {
            TPowersock sock;
            sock.Host = "::1";
            sock.Port = peer.port();
            sock.Family = family;
            sock.Connect();
            QCOMPARE(sock.ConnectedFamily(), AddressFamily::Ipv6);
            QCOMPARE(sock.GetRemoteIP(), std::string("::1"));
            QCOMPARE(sock.ReadLn(), std::string("200 ok\r\n"));
        }
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
        TPowersock sock; // IPv4 unless told otherwise
        int invalid = 0;
        sock.OnInvalidHost = [&](bool&) { ++invalid; };
        sock.Host = named ? kV6Only : "::1";
        sock.Port = 80;
        RunOutcome outcome;
        try {
            sock.Connect();
        } catch (const ESockError& e) {
            QCOMPARE(QString(e.what()), QStringLiteral("Null Remote Address"));
            outcome = OutcomeOfFailure(e);
        }
        QCOMPARE(outcome.end, RunEnd::NoIpv4Address);
        QCOMPARE(ExplainNetworkError(outcome, QString::fromLatin1(kV6Only), 80),
                 QStringLiteral("このホストには IPv4 のアドレスがありません。"));
        QCOMPARE(invalid, 1);
    }

    // The first address the system offers refuses; the next one, of the other family, takes
    // the connection.
    void autoFallsBackToTheNextAddressWhenTheFirstRefuses() {
        requireHosts();
        const QHostAddress listening = SystemOrder(kBoth).at(1);
        ScriptedPeer peer(listening);
        peer.send("hello\r\n").close();
        const AddressFamily second = listening.protocol() == QAbstractSocket::IPv6Protocol
                                         ? AddressFamily::Ipv6
                                         : AddressFamily::Ipv4;

        TPowersock sock;
        sock.Host = kBoth;
        sock.Port = peer.port();
        sock.Family = AddressFamily::Auto;
        sock.Connect();
        QCOMPARE(sock.ConnectedFamily(), second);
        QCOMPARE(sock.ReadLn(), std::string("hello\r\n"));
        sock.Disconnect();

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
        client.Deactivate();
        QCOMPARE(peer.connectionCount(), 2);
    }

    void theAsynchronousSocketTellsANameWithoutAnAddressOfTheFamily() {
        requireHosts();
        EventErrorRecorder errors;
        TClientSocket client; // IPv4
        client.setHost(kV6Only);
        client.setPort(80);
        client.Activate();
        QTRY_COMPARE(errors.texts().size(), 1);
        QVERIFY(errors.texts().first().endsWith(QStringLiteral("(11004)")));
        QCOMPARE(client.Socket()->LastLookup(), LookupStatus::NoAddressOfFamily);
        QVERIFY(!client.Active());
    }
};

QTEST_GUILESS_MAIN(AddressFamilyTest)
#include "addressfamily_test.moc"
