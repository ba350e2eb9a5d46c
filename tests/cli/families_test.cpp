// --family both against one name with an IPv4 and an IPv6 address: a hosts file bound over
// /etc/hosts in a mount namespace of the child's own, peers on 127.0.0.1 and ::1.
#include "support/ScriptedPeer.h"
#include "support/TestHelpers.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

class FamiliesTest final : public QObject {
    Q_OBJECT

private slots:
    void bothGivesAnIpv4ThenAnIpv6RecordWithTheirAddresses() {
        if (::geteuid() != 0)
            QSKIP("a mount namespace for the hosts file needs root");
        ScriptedPeer v6(QHostAddress(QHostAddress::LocalHostIPv6));
        if (!v6.isListening())
            QSKIP("no ::1 here");
        ScriptedPeer v4(v6.port());
        for (ScriptedPeer* peer : {&v4, &v6})
            peer->readRequest().send(okHeader(3000)).stream(3000).close();

        QTemporaryDir dir;
        // Its "#!/bin/sh" line is a comment to the resolver.
        const QString hosts =
            writeScript(dir, "hosts", "127.0.0.1 both.quillmet.test\n::1 both.quillmet.test");
        QProcess cli;
        const QString url = QStringLiteral("http://both.quillmet.test:%1/a.jpg").arg(v6.port());
        cli.start(QStringLiteral("unshare"),
                  {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                   QStringLiteral("mount --bind \"$0\" /etc/hosts && exec \"$@\""), hosts,
                   qEnvironmentVariable("QM_BINARY_DIR") + QStringLiteral("/quillmet-cli"),
                   QStringLiteral("--family"), QStringLiteral("both"), QStringLiteral("--json"),
                   QStringLiteral("--timeout"), QStringLiteral("10"), url});
        QTRY_VERIFY_WITH_TIMEOUT(cli.state() == QProcess::NotRunning, 90000);
        const QByteArray err = cli.readAllStandardError();
        if (err.contains("unshare:") || err.contains("mount:"))
            QSKIP(err.constData());
        QCOMPARE(cli.exitCode(), 0);

        const QList<QByteArray> lines = cli.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        const auto pair = [&lines](int i) {
            const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
            return o.value("family").toString() + u' ' + o.value("address").toString();
        };
        QCOMPARE(pair(0), QStringLiteral("ipv4 127.0.0.1"));
        QCOMPARE(pair(1), QStringLiteral("ipv6 ::1"));
        // Each family's rounds went to its own peer.
        QCOMPARE(v4.connectionCount(), 5);
        QCOMPARE(v6.connectionCount(), 5);

        // The journal has the run as well.
        QFile journal(qEnvironmentVariable("XDG_DATA_HOME") + "/quillmet/results.jsonl");
        QVERIFY(journal.open(QIODevice::ReadOnly));
        const QJsonObject last =
            QJsonDocument::fromJson(journal.readAll().trimmed().split('\n').last()).object();
        QCOMPARE(last.value("family").toString(), QStringLiteral("ipv6"));
    }
};

QTEST_GUILESS_MAIN(FamiliesTest)
#include "families_test.moc"
