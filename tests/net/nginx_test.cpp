#include "core/net/Nmhttp.h"
#include "support/SampleHostScript.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

class NginxTest : public QObject {
    Q_OBJECT

private slots:
    void getFetchesAFileFromNginx() {
        QVERIFY2(QFile::exists(SampleHostScript::NginxBinary()), "nginx is not installed");
        const QString build = qEnvironmentVariable("QM_BINARY_DIR");
        const QString hostDir = build + QStringLiteral("/nginx-test-host");
        QDir root(hostDir + QStringLiteral("/www"));
        QVERIFY(root.removeRecursively());
        QVERIFY(root.mkpath("qm"));
        QByteArray content(300 * 1024 + 17, Qt::Uninitialized);
        QRandomGenerator generator(1234);
        for (char& byte : content)
            byte = static_cast<char>(generator.bounded(256));
        QFile file(root.filePath("qm/sample.jpg"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        file.close();

        SampleHostScript nginx(build, hostDir);
        nginx.KeepServedFolder();
        const QString why = nginx.Start();
        QVERIFY2(why.isEmpty(), qPrintable(why));

        TNMHTTP http;
        int successes = 0;
        int failures = 0;
        http.OnSuccess = [&](CmdType cmd) {
            QCOMPARE(cmd, CmdGET);
            ++successes;
        };
        http.OnFailure = [&](CmdType) { ++failures; };
        const std::string base = "http://127.0.0.1:" + std::to_string(nginx.Port());
        http.Get(base + "/qm/sample.jpg");
        QCOMPARE(http.ReplyCode, 200);
        QCOMPARE(http.ContentLength, content.size());
        QCOMPARE(http.ReceivedBytes, content.size());
        QVERIFY(QByteArray::fromStdString(http.Body) == content);
        QVERIFY(QByteArray::fromStdString(http.Header).startsWith("HTTP/1.1 200 OK\r\n"));
        QCOMPARE(successes, 1);

        http.Get(base + "/qm/missing.jpg");
        QCOMPARE(http.ReplyCode, 404);
        QCOMPARE(failures, 1);
        QVERIFY(QByteArray::fromStdString(http.Body).contains("404 Not Found"));
        QCOMPARE(successes, 1);
    }
};

QTEST_MAIN(NginxTest)
#include "nginx_test.moc"
