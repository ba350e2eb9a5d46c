// The one errno to Winsock rule of Psock and ScktComp, and their other shared helpers.
#include "core/net/Psock.h"
#include "core/net/SocketSupport.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QtTest>
#include <cerrno>

class SocketSupportTest final : public QObject {
    Q_OBJECT

private slots:
    void errnoMapsToSocketErrors_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("code");
        QTest::newRow("ECONNREFUSED") << ECONNREFUSED << 10061;
        QTest::newRow("ETIMEDOUT") << ETIMEDOUT << 10060;
        QTest::newRow("ECONNRESET") << ECONNRESET << 10054;
        QTest::newRow("ENETUNREACH") << ENETUNREACH << 10051;
        QTest::newRow("EHOSTUNREACH") << EHOSTUNREACH << 10065;
        QTest::newRow("ENOTCONN") << ENOTCONN << 10057;
        QTest::newRow("EWOULDBLOCK") << EWOULDBLOCK << 10035;
        QTest::newRow("EAGAIN") << EAGAIN << 10035;
        QTest::newRow("EINPROGRESS") << EINPROGRESS << 10036;
        QTest::newRow("EADDRINUSE") << EADDRINUSE << 10048;
        QTest::newRow("ECONNABORTED") << ECONNABORTED << 10053;
        // A send after the peer's reset reads as the reset itself.
        QTest::newRow("EPIPE") << EPIPE << 10054;
        QTest::newRow("ESHUTDOWN") << ESHUTDOWN << 10058;
        QTest::newRow("EBADF") << EBADF << 10009;
        QTest::newRow("EMFILE") << EMFILE << 10024;
        QTest::newRow("ENOTEMPTY") << ENOTEMPTY << 10066;
        QTest::newRow("none") << 0 << 0;
        QTest::newRow("no socket meaning") << EISDIR << 20000 + EISDIR;
    }
    void errnoMapsToSocketErrors() {
        QFETCH(int, error);
        QFETCH(int, code);
        QCOMPARE(WinsockErrorFromErrno(error), code);
    }

    // Both components read their texts back through the same numbering.
    void socketErrorsMapBackToTheirErrno_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("error");
        QTest::newRow("reset: the reset, not the pipe") << 10054 << ECONNRESET;
        QTest::newRow("shutdown") << 10058 << ESHUTDOWN;
        QTest::newRow("refused") << 10061 << ECONNREFUSED;
        QTest::newRow("unknown errno") << 20000 + EISDIR << EISDIR;
        QTest::newRow("no errno") << 10091 << 0;
    }
    void socketErrorsMapBackToTheirErrno() {
        QFETCH(int, code);
        QFETCH(int, error);
        QCOMPARE(ErrnoFromWinsockError(code), error);
    }

    void anUnknownErrnoStaysVisibleInTheSocketBaseText() {
        QCOMPARE(QString::fromStdString(SocketErrorStr(WinsockErrorFromErrno(EISDIR))),
                 QStringLiteral("Unknown Error No. %1").arg(20000 + EISDIR));
        QCOMPARE(QString::fromStdString(SocketErrorStr(WinsockErrorFromErrno(EPIPE))),
                 QStringLiteral("10054:Connection reset by peer"));
    }

    void firstIPv4SkipsOtherFamilies() {
        QHostInfo info;
        info.setAddresses(
            {QHostAddress("::1"), QHostAddress("10.0.0.2"), QHostAddress("10.0.0.3")});
        QCOMPARE(FirstIPv4(info), 0x0A000002u);
        info.setAddresses({QHostAddress("::1")});
        QCOMPARE(FirstIPv4(info), 0u);
    }

    void sameTextIgnoresTheCaseOfAsciiLettersOnly_data() {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("case") << QByteArray("Content-Length") << QByteArray("content-LENGTH")
                              << true;
        QTest::newRow("length") << QByteArray("Host") << QByteArray("Hosts") << false;
        QTest::newRow("empty") << QByteArray() << QByteArray() << true;
        QTest::newRow("not letters") << QByteArray("[") << QByteArray("{") << false;
        QTest::newRow("beyond ASCII") << QByteArray("\xC3\x84") << QByteArray("\xC3\xA4") << false;
    }
    void sameTextIgnoresTheCaseOfAsciiLettersOnly() {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(bool, same);
        QCOMPARE(SameText(a.toStdString(), b.toStdString()), same);
    }
};

QTEST_GUILESS_MAIN(SocketSupportTest)
#include "socketsupport_test.moc"
