// The line test: keep-alive HTTP/1.1 connections to the measurement server, added while the
// aggregate still grows, read until the throughput is stable, first down, then up; latency
// probes on fresh connections idle and under load. libcurl's multi interface does the HTTP,
// driven from this thread's event loop (socket notifiers and one timer).
#pragma once

#include "core/linetest/LineTestResult.h"
#include "core/net/ErrorExplanation.h"
#include "core/server/MeasurementServer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

class QSocketNotifier;
struct ServerDescriptor;

// The test's clock, shortened by tests.
struct LineTestTimings {
    int sampleMs = 100;
    int rampMs = 250;
    int probeMs = 200;
    int phaseMaxMs = 10000;
    int stallMs = 3000; // a load connection silent this long while the others carry on
    int idleProbes = 10;
    int maxConnections = 16;
    int requestTimeoutMs = 10000; // the descriptor and each probe
};

// The user's message for a test that ended without a result.
QString LineTestFailureText(const RunOutcome& outcome, const QString& authority);

class LineTestRun final : public QObject {
    Q_OBJECT

public:
    explicit LineTestRun(QObject* parent = nullptr);
    ~LineTestRun() override;

    LineTestTimings Timings;

    void Start(const MeasurementServer& server);
    bool Running() const noexcept { return m_phase != LineTestPhase::Idle; }
    // The user's stop: everything closes at once, no result, only stopped().
    void Stop();
    // The window or the program is closing: ends at once, reporting nothing.
    void Abort();
    LineTestPhase Phase() const noexcept { return m_phase; }
    const RunOutcome& Outcome() const noexcept { return m_outcome; }

signals:
    void phaseChanged(LineTestPhase phase);
    void sampled(const LineTestSample& sample);
    void noted(const QString& text);
    void completed(const LineTestResult& result);
    void failed(const RunOutcome& outcome);
    void stopped();

public:
    struct Transfer;

private:
    friend struct LineTestCallbacks;

    Transfer* NewTransfer(int role, const QString& path);
    void Add(Transfer* t);
    void Drop(Transfer* t);
    void SocketEvent(int fd, int action);
    void CurlTimeout();
    void ReadMessages();
    void Done(Transfer* t, int code);

    void DescriptorDone(Transfer* t, int code, long status);
    void NextIdleProbe();
    void ProbeDone(Transfer* t, int code, long status);
    void StartLoad(LineTestPhase phase);
    void AddLoadConnection();
    // The same request again on the connection, or on a new one when the server closed it.
    void Recycle(Transfer* t);
    int LoadConnections() const;
    void LoadDone(Transfer* t, int code, long status);
    void SampleTick();
    void RampTick();
    void ProbeTick();
    void CreditAcknowledged();
    void CreditSocket(int fd);
    void EndLoad(bool stable);
    void Finish();
    void Fail(RunOutcome outcome);
    void Note(const QString& text);
    void SetPhase(LineTestPhase phase);
    void Teardown();
    qint64 Now() const { return m_clock.elapsed(); }
    LineDirection& Direction() {
        return m_phase == LineTestPhase::Upload ? m_result.upload : m_result.download;
    }

    LineTestPhase m_phase = LineTestPhase::Idle;
    MeasurementServer m_server;
    RunOutcome m_outcome;
    LineTestResult m_result;
    void* m_multi = nullptr;
    QTimer m_curlTimer;
    QHash<int, QSocketNotifier*> m_readers;
    QHash<int, QSocketNotifier*> m_writers;
    // The load connections' sockets, with the tcpi_bytes_acked already counted (upload).
    QHash<int, qint64> m_acked;
    std::vector<std::unique_ptr<Transfer>> m_transfers;
    QElapsedTimer m_clock;

    // From the descriptor.
    QString m_samplePath;
    QString m_emptyPath;
    QString m_sinkPath;
    qint64 m_sinkMaxBytes = 0;

    std::vector<double> m_idleProbes;
    // The load phase under way.
    QTimer m_sampleTimer;
    QTimer m_rampTimer;
    QTimer m_probeTimer;
    qint64 m_phaseStart = 0;
    qint64 m_counted = 0; // bytes received, or acknowledged, in this phase
    qint64 m_lastSampleCount = 0;
    qint64 m_lastSampleAt = 0;
    qint64 m_lastRampCount = 0;
    qint64 m_lastRampAt = 0;
    double m_lastRampRate = 0;
    bool m_ramping = false;
    std::size_t m_rampEndSample = 0;
    int m_connectionCap = 16;
    int m_slots = 0;               // load connections opened in this phase
    std::vector<double> m_samples; // bytes per second over each sample interval
    struct Mark {
        qint64 at = 0;      // ms since the start
        qint64 counted = 0; // m_counted then
    };
    std::vector<Mark> m_marks; // one per sample
    std::vector<double> m_loadRtts;
    QByteArray m_body; // the upload's random block, shared by every connection
    qint64 m_bodyLength = 0;
    bool m_refusalNoted = false;
};
