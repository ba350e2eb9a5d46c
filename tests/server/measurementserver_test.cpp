// The measurement server: its address, the settings file and the descriptor check.
#include "core/server/MeasurementServer.h"
#include "core/server/ServerDescriptor.h"
#include "core/server/ServerSettings.h"
#include "support/ScriptedPeer.h"
#include "support/TempWorkDir.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>
#include <optional>
#include <unistd.h>

Q_DECLARE_METATYPE(ServerAddressError)
Q_DECLARE_METATYPE(DescriptorOutcome)

namespace {
const QByteArray kDescriptor =
    R"({"name":"office","version":"1.0","files":[{"path":"/qm/qm100K.jpg","bytes":102400},)"
    R"({"path":"/qm/qm4M.jpg","bytes":4194304}],"upload":{"path":"/qm/up","max_bytes":268435456},)"
    R"("empty":"/qm/empty"})";

QByteArray reply(const QByteArray& status, const QByteArray& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

class MeasurementServerTest final : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir.emplace();
        m_settings = m_dir->filePath(QStringLiteral("conf/quillmet.conf"));
    }
    void cleanup() { m_dir.reset(); }

    void addresses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<ServerAddressError>("error");
        QTest::addColumn<QString>("authority");
        QTest::newRow("host and port")
            << "Box.example:8081" << ServerAddressError::None << "box.example:8081";
        QTest::newRow("port 80 is left out")
            << "10.0.0.2" << ServerAddressError::None << "10.0.0.2";
        QTest::newRow("bracketed ipv6") << "[::1]:8080" << ServerAddressError::None << "[::1]:8080";
        QTest::newRow("bare ipv6") << "FE80::1" << ServerAddressError::None << "[fe80::1]";
        QTest::newRow("unclosed bracket")
            << "[::1:8080" << ServerAddressError::BadIpv6Literal << "";
        QTest::newRow("no colon before the port")
            << "[::1]8080" << ServerAddressError::BadIpv6Literal << "";
        QTest::newRow("colons that are no address")
            << "h:80:81" << ServerAddressError::BadIpv6Literal << "";
        QTest::newRow("port 0") << "h:0" << ServerAddressError::BadPort << "";
        QTest::newRow("port 65536") << "h:65536" << ServerAddressError::BadPort << "";
        QTest::newRow("signed port") << "h:+80" << ServerAddressError::BadPort << "";
        QTest::newRow("a path") << "h/qm" << ServerAddressError::BadHost << "";
        QTest::newRow("empty") << ":80" << ServerAddressError::EmptyHost << "";
    }
    void addresses() {
        QFETCH(QString, text);
        QFETCH(ServerAddressError, error);
        QFETCH(QString, authority);
        MeasurementServer server;
        QCOMPARE(ParseServerAddress(text, &server), error);
        if (error == ServerAddressError::None)
            QCOMPARE(server.Authority(), authority);
        else
            QVERIFY(!ServerAddressErrorText(error).isEmpty());
    }

    void theDefaultServerGivesTodaysUrls() {
        const MeasurementServer d = MeasurementServer::Default();
        QCOMPARE(d.PresetUrl(QStringLiteral("15M")),
                 QStringLiteral("http://localhost:8080/qm/qm15M.jpg"));
        QCOMPARE(ExampleUrlText(d), QStringLiteral("http://localhost:8080/qm/qm4M.jpg"));
        QVERIFY(d.PresetUrl(QStringLiteral("3M")).isEmpty());
        QVERIFY(!d.Lacks(QStringLiteral("/qm/qm15M.jpg")));
    }

    void anotherServersExampleIsAFileItHasOfFourMegabytesOrMore() {
        MeasurementServer box;
        QCOMPARE(ParseServerAddress(QStringLiteral("box.example:8081"), &box),
                 ServerAddressError::None);
        QCOMPARE(ExampleUrlText(box), QStringLiteral("http://box.example:8081/qm/qm4M.jpg"));
        box.files = QStringList{QStringLiteral("/qm/qm1M.jpg"), QStringLiteral("/qm/qm8M.jpg"),
                                QStringLiteral("/qm/qm15M.jpg")};
        QCOMPARE(ExampleUrlText(box), QStringLiteral("http://box.example:8081/qm/qm8M.jpg"));
    }

    void settingsRoundTripKeepsTheFileList() {
        MeasurementServer chosen;
        ParseServerAddress(QStringLiteral("box.example:8081"), &chosen);
        chosen.files = QStringList{QStringLiteral("/qm/qm4M.jpg")};
        QVERIFY(WriteServerSettings(chosen, m_settings));
        const ServerSettingsRead read = ReadServerSettings(m_settings);
        QCOMPARE(read.fault, ServerSettingsRead::Fault::None);
        QCOMPARE(read.server.Authority(), QStringLiteral("box.example:8081"));
        QVERIFY(read.server.Lacks(QStringLiteral("/qm/qm15M.jpg")));
        QVERIFY(!read.server.Lacks(QStringLiteral("/qm/qm4M.jpg")));

        chosen.files.reset(); // no descriptor: nothing is known to be missing
        QVERIFY(WriteServerSettings(chosen, m_settings));
        QVERIFY(!ReadServerSettings(m_settings).server.files.has_value());
    }

    // No family chosen stays unchosen: each measurement keeps its own default.
    void settingsRoundTripKeepsTheFamilyOrItsAbsence() {
        MeasurementServer chosen;
        ParseServerAddress(QStringLiteral("box.example"), &chosen);
        QVERIFY(WriteServerSettings(chosen, m_settings));
        QVERIFY(!ReadServerSettings(m_settings).server.family.has_value());
        chosen.family = AddressFamily::Ipv6;
        QVERIFY(WriteServerSettings(chosen, m_settings));
        const ServerSettingsRead read = ReadServerSettings(m_settings);
        QCOMPARE(read.fault, ServerSettingsRead::Fault::None);
        QVERIFY(read.server.family == AddressFamily::Ipv6);
    }

    // The timer's choice and the server share the file: storing one keeps the other.
    void theTimersChoiceAndTheServerKeepEachOther() {
        QVERIFY(!ReadAlternateFamilies(m_settings));
        QVERIFY(WriteAlternateFamilies(true, m_settings));
        QCOMPARE(ReadServerSettings(m_settings).fault, ServerSettingsRead::Fault::None);
        MeasurementServer chosen;
        ParseServerAddress(QStringLiteral("box.example:8081"), &chosen);
        QVERIFY(WriteServerSettings(chosen, m_settings));
        QVERIFY(ReadAlternateFamilies(m_settings));
        QVERIFY(WriteAlternateFamilies(false, m_settings));
        QCOMPARE(ReadServerSettings(m_settings).server.Authority(),
                 QStringLiteral("box.example:8081"));
        QVERIFY(!ReadAlternateFamilies(m_settings));
    }

    void unusableSettingsMeanTheDefaultServerAndOneFault_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("fault");
        using F = ServerSettingsRead::Fault;
        QTest::newRow("binary garbage")
            << QByteArray("\x00\xff\x13[[=\n\x01", 9) << int(F::Garbled);
        QTest::newRow("bad port") << QByteArray("[server]\nhost=h\nport=99999\n")
                                  << int(F::Garbled);
        QTest::newRow("unclosed ipv6 host")
            << QByteArray("[server]\nhost=[::1\nport=80\n") << int(F::Garbled);
        QTest::newRow("unknown family")
            << QByteArray("[server]\nhost=h\nport=80\nfamily=ipv5\n") << int(F::Garbled);
        QTest::newRow("oversized")
            << QByteArray("[server]\nhost=h\nport=80\n") + QByteArray(kMaxSettingsBytes, '#')
            << int(F::Oversized);
    }
    void unusableSettingsMeanTheDefaultServerAndOneFault() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, fault);
        QVERIFY(QDir().mkpath(QFileInfo(m_settings).path()));
        writeFile(m_settings, bytes);
        const ServerSettingsRead read = ReadServerSettings(m_settings);
        QCOMPARE(int(read.fault), fault);
        QVERIFY(read.server.SameAddress(MeasurementServer::Default()));
        QVERIFY(!ServerSettingsFaultText(read.fault, m_settings).isEmpty());
        // Storing a choice replaces the broken file.
        QVERIFY(WriteServerSettings(MeasurementServer::Default(), m_settings));
        QCOMPARE(ReadServerSettings(m_settings).fault, ServerSettingsRead::Fault::None);
    }

    void anUnreadableSettingsFileIsAFaultNotAnEmptyFile() {
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        QVERIFY(WriteServerSettings(MeasurementServer::Default(), m_settings));
        QVERIFY(QFile::setPermissions(m_settings, QFileDevice::WriteOwner));
        QCOMPARE(ReadServerSettings(m_settings).fault, ServerSettingsRead::Fault::Unreadable);
        // A missing file is the first start, not a fault.
        QCOMPARE(ReadServerSettings(m_dir->filePath(QStringLiteral("none"))).fault,
                 ServerSettingsRead::Fault::None);
    }

    void descriptorFieldsAreChecked() {
        ServerDescriptor d;
        QVERIFY(ParseServerDescriptor(kDescriptor, &d));
        QCOMPARE(d.name, QStringLiteral("office"));
        QCOMPARE(d.files.size(), 2);
        QCOMPARE(d.files[1].bytes, 4194304);
        QCOMPARE(d.uploadMaxBytes, 268435456);
        QVERIFY(
            !ParseServerDescriptor(R"({"name":"x","files":[{"path":"qm.jpg","bytes":1}]})", &d));
        QVERIFY(!ParseServerDescriptor(R"({"name":"x","files":[{"path":"/a","bytes":-1}]})", &d));
        QVERIFY(!ParseServerDescriptor(R"({"name":"x","files":[{"path":"/a","bytes":1.5}]})", &d));
        QVERIFY(!ParseServerDescriptor(R"({"files":[]})", &d));
        QVERIFY(!ParseServerDescriptor(R"({"name":"x","files":[],"empty":5})", &d));
    }

    void aFetchReportsWhatTheServerSaid_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<DescriptorOutcome>("outcome");
        QTest::newRow("descriptor") << reply("200 OK", kDescriptor) << DescriptorOutcome::Read;
        QTest::newRow("no descriptor")
            << reply("404 Not Found", "nope") << DescriptorOutcome::NoDescriptor;
        QTest::newRow("server error")
            << reply("500 Internal Server Error", "") << DescriptorOutcome::HttpError;
        QTest::newRow("not json") << reply("200 OK", "<html>") << DescriptorOutcome::Garbled;
        QTest::newRow("too large") << reply("200 OK", QByteArray(kMaxDescriptorBytes + 1, ' '))
                                   << DescriptorOutcome::TooLarge;
    }
    void aFetchReportsWhatTheServerSaid() {
        QFETCH(QByteArray, answer);
        QFETCH(DescriptorOutcome, outcome);
        ScriptedPeer peer;
        peer.readRequest().send(answer).close();
        ServerDescriptorFetch fetch;
        QSignalSpy done(&fetch, &ServerDescriptorFetch::finished);
        MeasurementServer server;
        ParseServerAddress(QStringLiteral("127.0.0.1:%1").arg(peer.port()), &server);
        fetch.Start(server);
        QVERIFY(done.wait(5000));
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.front().at(0).value<DescriptorOutcome>(), outcome);
        QVERIFY(peer.received().startsWith("GET /.well-known/quillmet.json HTTP/1.1\r\n"));
    }

    void aSilentServerTimesOut() {
        ScriptedPeer peer;
        peer.readRequest();
        ServerDescriptorFetch fetch;
        fetch.TimeoutMs = 200;
        QSignalSpy done(&fetch, &ServerDescriptorFetch::finished);
        MeasurementServer server;
        ParseServerAddress(QStringLiteral("127.0.0.1:%1").arg(peer.port()), &server);
        fetch.Start(server);
        QVERIFY(done.wait(5000));
        QCOMPARE(done.front().at(0).value<DescriptorOutcome>(), DescriptorOutcome::TimedOut);
        QVERIFY(!fetch.Running());
    }

private:
    std::optional<TempWorkDir> m_dir;
    QString m_settings;
};

QTEST_GUILESS_MAIN(MeasurementServerTest)
#include "measurementserver_test.moc"
