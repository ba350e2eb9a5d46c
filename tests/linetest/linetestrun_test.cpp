// The line test engine against an HTTP/1.1 peer on 127.0.0.1 that serves by path, and that
// stalls a connection or refuses the upload when told to.
#include "core/linetest/LineTestRun.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

Q_DECLARE_METATYPE(RunOutcome)
Q_DECLARE_METATYPE(LineTestPhase)

namespace {
constexpr qint64 kSampleBytes = 2 * 1024 * 1024;

class LinePeer final : public QObject {
public:
    bool describes = true;
    bool refusesUpload = false;
    int stalledDownload = -1; // which connection fetching the sample gets a head and stops
    int downloadConnections = 0;

    LinePeer() {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection())
                connect(s, &QTcpSocket::readyRead, this, [this, s] { serve(s); });
        });
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    struct State {
        QByteArray head;
        qint64 bodyLeft = 0;
        bool fetched = false; // has fetched the sample
        bool refused = false; // the body is read and thrown away, unanswered
    };

    static QByteArray reply(const QByteArray& status, const QByteArray& body) {
        return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
               "\r\n\r\n" + body;
    }

    void serve(QTcpSocket* s) {
        State& st = m_states[s];
        QByteArray in = s->readAll();
        while (!in.isEmpty()) {
            if (st.bodyLeft > 0) {
                const qint64 taken = std::min<qint64>(st.bodyLeft, in.size());
                st.bodyLeft -= taken;
                in.remove(0, taken);
                if (st.bodyLeft == 0 && !st.refused)
                    s->write(reply("200 OK", "{\"bytes\":1}"));
                continue;
            }
            st.head += in;
            in.clear();
            const qsizetype end = st.head.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            in = st.head.mid(end + 4);
            const QByteArray head = st.head.left(end);
            st.head.clear();
            answer(s, st, head);
        }
    }

    void answer(QTcpSocket* s, State& st, const QByteArray& head) {
        const QList<QByteArray> words = head.split(' ');
        const QByteArray path = words.value(1);
        if (path == "/.well-known/quillmet.json") {
            s->write(describes ? reply("200 OK", R"({"name":"peer","files":[{"path":"/qm/big",)"
                                                 R"("bytes":2097152}],"upload":{"path":"/qm/up",)"
                                                 R"("max_bytes":1048576},"empty":"/qm/empty"})")
                               : reply("404 Not Found", {}));
        } else if (path == "/qm/empty") {
            s->write(reply("200 OK", {}));
        } else if (path == "/qm/big") {
            if (!st.fetched && downloadConnections++ == stalledDownload) {
                st.fetched = true;
                s->write("HTTP/1.1 200 OK\r\nContent-Length: 2097152\r\n\r\nxxxx");
                return; // and nothing more
            }
            st.fetched = true;
            s->write(reply("200 OK", QByteArray(kSampleBytes, 'x')));
        } else {
            const qsizetype at = head.toLower().indexOf("content-length:");
            st.bodyLeft =
                head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
            if (refusesUpload) {
                // At once, as a server does that checks the length first.
                st.refused = true;
                s->write("HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: "
                         "close\r\n\r\n");
            }
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, State> m_states;
};

MeasurementServer serverOf(const LinePeer& peer) {
    MeasurementServer s;
    ParseServerAddress(QStringLiteral("127.0.0.1:%1").arg(peer.port()), &s);
    return s;
}

void shortPhases(LineTestRun& run) {
    run.Timings.phaseMaxMs = 1500;
    run.Timings.stallMs = 500;
    run.Timings.idleProbes = 4;
}
} // namespace

class LineTestRunTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qRegisterMetaType<RunOutcome>();
        qRegisterMetaType<LineTestResult>();
        qRegisterMetaType<LineTestSample>();
        qRegisterMetaType<LineTestPhase>();
    }

    // Descriptor, idle probes, download, upload, in that order; samples from both load
    // phases; a stalled connection is dropped and said so while the others carry on.
    void runsThePhasesAndDropsAStalledConnection() {
        LinePeer peer;
        peer.stalledDownload = 1;
        LineTestRun run;
        shortPhases(run);
        QSignalSpy phases(&run, &LineTestRun::phaseChanged);
        QSignalSpy samples(&run, &LineTestRun::sampled);
        QSignalSpy notes(&run, &LineTestRun::noted);
        QSignalSpy completed(&run, &LineTestRun::completed);
        QSignalSpy failed(&run, &LineTestRun::failed);
        run.Start(serverOf(peer));
        QTRY_VERIFY_WITH_TIMEOUT(!run.Running(), 10000);
        QVERIFY2(failed.isEmpty(),
                 qPrintable(LineTestFailureText(failed.value(0).value(0).value<RunOutcome>(), {})));
        QCOMPARE(completed.size(), 1);
        QList<LineTestPhase> order;
        for (const auto& args : phases)
            order << args.at(0).value<LineTestPhase>();
        QCOMPARE(order, (QList<LineTestPhase>{LineTestPhase::Descriptor, LineTestPhase::IdleLatency,
                                              LineTestPhase::Download, LineTestPhase::Upload}));
        QSet<LineTestPhase> sampledPhases;
        qint64 last = -1;
        for (const auto& args : samples) {
            const auto s = args.at(0).value<LineTestSample>();
            QVERIFY(s.msecs > last);
            last = s.msecs;
            sampledPhases << s.phase;
        }
        QCOMPARE(sampledPhases,
                 (QSet<LineTestPhase>{LineTestPhase::Download, LineTestPhase::Upload}));

        const auto r = completed.front().at(0).value<LineTestResult>();
        QCOMPARE(r.idleLatency.count, 4);
        QVERIFY(r.download.bytesPerSecond > 0);
        QVERIFY(r.upload.bytesPerSecond > 0);
        QVERIFY(r.download.connections >= 2);
        QVERIFY(r.download.latency.count > 0);
        QVERIFY(!r.grade.isEmpty());
        QVERIFY2(r.notes.join(u'\n').contains(QStringLiteral("2 本目の接続")),
                 qPrintable(r.notes.join(u'\n')));
        QCOMPARE(notes.size(), r.notes.size());
    }

    void aRefusedUploadIsAFailureOfItsOwn() {
        LinePeer peer;
        peer.refusesUpload = true;
        LineTestRun run;
        shortPhases(run);
        QSignalSpy completed(&run, &LineTestRun::completed);
        QSignalSpy failed(&run, &LineTestRun::failed);
        run.Start(serverOf(peer));
        QVERIFY(failed.wait(10000));
        const auto o = failed.front().at(0).value<RunOutcome>();
        QCOMPARE(o.end, RunEnd::BodyTooLarge);
        QVERIFY(LineTestFailureText(o, QStringLiteral("h:1")).contains(QStringLiteral("413")));
        QCOMPARE(completed.size(), 0);
    }

    void aServerWithoutADescriptorIsNoQuillmetServer() {
        LinePeer peer;
        peer.describes = false;
        LineTestRun run;
        QSignalSpy failed(&run, &LineTestRun::failed);
        QSignalSpy phases(&run, &LineTestRun::phaseChanged);
        run.Start(serverOf(peer));
        QVERIFY(failed.wait(5000));
        const auto o = failed.front().at(0).value<RunOutcome>();
        QCOMPARE(o.end, RunEnd::NoUploadSink);
        QVERIFY(LineTestFailureText(o, QStringLiteral("h:1"))
                    .contains(QStringLiteral("Quillmet の測定サーバーではない")));
        QCOMPARE(phases.size(), 1); // no probe, no load
    }

    // Stop closes everything at once and reports only stopped().
    void stopEndsAtOnceWithoutAResult() {
        LinePeer peer;
        LineTestRun run;
        QSignalSpy samples(&run, &LineTestRun::sampled);
        QSignalSpy completed(&run, &LineTestRun::completed);
        QSignalSpy stopped(&run, &LineTestRun::stopped);
        run.Start(serverOf(peer));
        QVERIFY(samples.wait(5000));
        QElapsedTimer clock;
        clock.start();
        run.Stop();
        QVERIFY(clock.elapsed() < 200);
        QVERIFY(!run.Running());
        QCOMPARE(stopped.size(), 1);
        const qsizetype seen = samples.size();
        QTest::qWait(300);
        QCOMPARE(completed.size(), 0);
        QCOMPARE(samples.size(), seen);
    }
};

QTEST_GUILESS_MAIN(LineTestRunTest)
#include "linetestrun_test.moc"
