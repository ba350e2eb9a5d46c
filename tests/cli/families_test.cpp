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
        QVERIFY(v4.isListening());
        for (ScriptedPeer* peer : {&v4, &v6})
            peer->readRequest().send(okHeader(3000)).stream(3000).close();

        QTemporaryDir dir;
        const QString hosts = dir.filePath(QStringLiteral("hosts"));
        QFile file(hosts);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("127.0.0.1 both.quillmet.test\n::1 both.quillmet.test\n");
        file.close();

        QProcess cli;
        cli.setWorkingDirectory(dir.path());
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
        const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
        const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
        QCOMPARE(first.value(QStringLiteral("family")).toString(), QStringLiteral("ipv4"));
        QCOMPARE(first.value(QStringLiteral("address")).toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(second.value(QStringLiteral("family")).toString(), QStringLiteral("ipv6"));
        QCOMPARE(second.value(QStringLiteral("address")).toString(), QStringLiteral("::1"));
        // Each family's rounds went to its own peer.
        QCOMPARE(v4.connectionCount(), 5);
        QCOMPARE(v6.connectionCount(), 5);

        // Both runs are in the journal, each with its family.
        QFile journal(qEnvironmentVariable("XDG_DATA_HOME") +
                      QStringLiteral("/quillmet/results.jsonl"));
        QVERIFY(journal.open(QIODevice::ReadOnly));
        const QList<QByteArray> records = journal.readAll().trimmed().split('\n');
        QVERIFY(records.size() >= 2);
        const QJsonObject last = QJsonDocument::fromJson(records.last()).object();
        QCOMPARE(last.value(QStringLiteral("kind")).toString(), QStringLiteral("download"));
        QCOMPARE(last.value(QStringLiteral("family")).toString(), QStringLiteral("ipv6"));
        QCOMPARE(last.value(QStringLiteral("server")).toString(),
                 QStringLiteral("both.quillmet.test:%1").arg(v6.port()));
        QVERIFY(last.value(QStringLiteral("bytes_per_s")).toDouble() > 0);
    }
};

QTEST_GUILESS_MAIN(FamiliesTest)
#include "families_test.moc"
