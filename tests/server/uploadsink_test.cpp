// UploadSink on a real unix socket: the count, the reply only after the last byte, early close.
#include "server/UploadSink.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class UploadSinkTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_sink.listen(m_dir.filePath(QStringLiteral("sink.sock")))); }
    void init() {
        m_socket.connectToServer(m_dir.filePath(QStringLiteral("sink.sock")));
        QVERIFY(m_socket.waitForConnected(5000));
    }
    void cleanup() { m_socket.abort(); }

    void bodyInSlicesIsAnsweredAfterItsLastByte() {
        QSignalSpy ended(&m_sink, &UploadSink::connectionEnded);
        m_socket.write("POST /qm/up HTTP/1.0\r\nContent-Length: 3000\r\n\r\n");
        for (int i = 0; i < 3; ++i) {
            m_socket.write(QByteArray(i < 2 ? 1000 : 999, 'x'));
            QTest::qWait(50);
            QCOMPARE(m_socket.bytesAvailable(), 0);
        }
        m_socket.write("x");
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(ended.at(0).at(0).value<UploadSink::Outcome>(), UploadSink::Outcome::Counted);
        QCOMPARE(ended.at(0).at(1).toLongLong(), 3000);
        QTRY_VERIFY(m_socket.state() == QLocalSocket::UnconnectedState ||
                    m_socket.bytesAvailable());
        m_socket.waitForDisconnected(1000);
        const QByteArray reply = m_socket.readAll();
        QVERIFY2(reply.startsWith("HTTP/1.0 200 OK\r\n"), reply.constData());
        QVERIFY2(reply.endsWith("\r\n\r\n{\"bytes\":3000}"), reply.constData());
    }

    void peerLeavingEarlyIsNotAnswered() {
        QSignalSpy ended(&m_sink, &UploadSink::connectionEnded);
        m_socket.write("POST /qm/up HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc");
        QVERIFY(m_socket.waitForBytesWritten(1000));
        QTest::qWait(50);
        m_socket.disconnectFromServer();
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(ended.at(0).at(0).value<UploadSink::Outcome>(), UploadSink::Outcome::ClosedEarly);
        QCOMPARE(ended.at(0).at(1).toLongLong(), 3);
    }

    void headerWithoutLengthGets411() {
        m_socket.write("POST /qm/up HTTP/1.0\r\nHost: x\r\n\r\n");
        QTRY_VERIFY(m_socket.state() == QLocalSocket::UnconnectedState ||
                    m_socket.bytesAvailable());
        m_socket.waitForDisconnected(1000);
        QVERIFY(m_socket.readAll().startsWith("HTTP/1.0 411 "));
    }

private:
    QTemporaryDir m_dir;
    UploadSink m_sink;
    QLocalSocket m_socket;
};

QTEST_GUILESS_MAIN(UploadSinkTest)
#include "uploadsink_test.moc"
