#include "core/net/Nmhttp.h"
#include "support/NginxServer.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

class NginxTest : public QObject {
    Q_OBJECT

private slots:
    void getFetchesAFileFromNginx() {
        QVERIFY2(QFile::exists(NginxServer::binary()), "nginx is not installed");
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QVERIFY(QDir(root.path()).mkpath("qm"));
        QByteArray content(300 * 1024 + 17, Qt::Uninitialized);
        QRandomGenerator generator(1234);
        for (char& byte : content)
            byte = static_cast<char>(generator.bounded(256));
        QFile file(root.filePath("qm/sample.jpg"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        file.close();

        NginxServer nginx(root.path());
        QString why;
        QVERIFY2(nginx.start(&why), qPrintable(why));

        TNMHTTP http;
        int successes = 0;
        int failures = 0;
        http.OnSuccess = [&](CmdType cmd) {
            QCOMPARE(cmd, CmdGET);
            ++successes;
        };
        http.OnFailure = [&](CmdType) { ++failures; };
        const std::string base = "http://127.0.0.1:" + std::to_string(nginx.port());
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
