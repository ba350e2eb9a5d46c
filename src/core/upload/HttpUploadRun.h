// One HTTP upload run of five rounds to the chosen server's sink, without a window: each round
// one POST of random bytes on a new connection, timed from the first body byte handed to the
// kernel to the reply, which the sink sends only after it read the last byte.
#pragma once

#include "core/measure/DownloadRun.h"
#include "core/measure/TransferClock.h"
#include "core/net/ErrorExplanation.h"
#include "core/server/MeasurementServer.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>

class TClientSocket;
class TCustomWinSocket;
class ServerDescriptorFetch;
class WindowTimer;
struct ServerDescriptor;
enum class DescriptorOutcome;

inline constexpr qint64 kHttpUploadFirstRoundBytes = 1024 * 1024;
// A later round lasts 3 s at least: a new connection spends its first round trips in slow
// start, some 100 ms at 20 ms and 100 Mbit/s, which would be a tenth of a 1 s round.
inline constexpr std::int64_t kHttpUploadRoundMicros = 3000000;

struct HttpUploadRound {
    qint64 bytes = 0;
    long double bytesPerSecond = 0;
    std::int32_t connectMs = 0;
};

struct HttpUploadResult {
    QString startedText;
    QString host; // the server as "host[:port]"
    std::array<HttpUploadRound, 5> rounds{};
    QString connectText;
    QString bytesText; // the last round's body length
    QString kbpsText;
    QString mbpsText;
    qint64 bytes = 0;
    long double meanBytesPerSecond = 0; // of the middle three
    int mark = 0;
    MarkReasons reasons;
    QString historyLine;
    // Where the last round connected: its family and the peer's address (no brackets).
    AddressFamily family = AddressFamily::Ipv4;
    QString address;
};

// The request's head for a body of length bytes.
QByteArray HttpUploadRequestHead(const QString& authority, const QString& path, qint64 length);
// The body of the rounds after one of firstBytes that took firstMicros: long enough to last
// kHttpUploadRoundMicros at that round's speed, never shorter than it and never above the
// sink's limit. Round 2 is sized from round 1, rounds 3 to 5 from round 2 when it grew.
qint64 HttpUploadRoundBytes(qint64 firstBytes, std::int64_t firstMicros, qint64 maxBytes);

// A sink reply read so far.
struct SinkReply {
    bool headComplete = false;
    bool complete = false; // head and the whole announced body
    int status = 0;
    qint64 countedBytes = -1; // {"bytes":N}; -1 when the body is not that
};
SinkReply ReadSinkReply(const QByteArray& received, bool closed);

// The user's message for a run that ended without a result, in the program's words.
QString HttpUploadFailureText(const RunOutcome& outcome, const QString& authority);

class HttpUploadRun final : public QObject {
    Q_OBJECT

public:
    explicit HttpUploadRun(QObject* parent = nullptr);
    ~HttpUploadRun() override;

    TClientSocket* Socket = nullptr;
    WindowTimer* RoundTimer = nullptr; // 2,500 ms between rounds, as the download's
    // Silence on a connection this long ends the run as timed out.
    int SilenceTimeoutMs = 60000;
    // Bytes handed to the socket per turn of the event loop, so that the window stays live.
    qint64 SendTurnBytes = 4 * 1024 * 1024;

    // Reads the server's descriptor for the sink, then runs round 1. startedText is the
    // start's date and time as the history line shows it.
    void Start(const MeasurementServer& server, const QString& startedText);
    bool Running() const noexcept { return m_phase != Phase::Idle; }
    // The user's stop: no result, only stopped(). Nothing happens when no run is going on.
    void Stop();
    // The window is closing: ends a run at once, reporting nothing.
    void Abort();
    const RunOutcome& Outcome() const noexcept { return m_outcome; }
    const MeasurementServer& Server() const noexcept { return m_server; }

    void ClearMark();
    void MarkDisturbed();

    // The rounds' body lengths so far, and the body's first bytes (for a test).
    const std::array<qint64, 5>& RoundBytes() const noexcept { return m_bytes; }
    const QByteArray& Body() const noexcept { return m_body; }

signals:
    void statusChanged(const QString& text);
    void roundMeasured(int index, const QString& kbps, const QString& mbps, qint64 bytes);
    void completed(const HttpUploadResult& result);
    void failed(const RunOutcome& outcome);
    void stopped();

private:
    enum class Phase { Idle, Describing, Connecting, Sending, AwaitingReply, Pausing };

    void DescriptorRead(DescriptorOutcome outcome, const ServerDescriptor& descriptor);
    void StartRound();
    void Connected();
    void SendTurn();
    void Readable(TCustomWinSocket* socket);
    void Disconnected();
    void SocketError(int& code);
    void RoundAnswered(const SinkReply& reply);
    void Fail(RunOutcome outcome);
    void Finish();
    void CloseConnection();
    void FillBody(qint64 length);
    void RestartSilence();

    Phase m_phase = Phase::Idle;
    MeasurementServer m_server;
    QString m_sinkPath;
    qint64 m_maxBytes = 0;
    QString m_startedText;
    AddressFamily m_connectedFamily = AddressFamily::Ipv4;
    QString m_connectedAddress;
    RunOutcome m_outcome;
    TransferClock m_clock;
    ServerDescriptorFetch* m_fetch = nullptr;
    QTimer m_silence;
    QTimer m_sendTurn;
    QByteArray m_head;
    QByteArray m_body;
    qint64 m_roundLength = 0; // this round's body length
    qint64 m_sent = 0;        // of head and body
    bool m_transferStarted = false;
    bool m_replySeen = false;
    bool m_bodyWholeAtReply = false; // when the reply's first bytes came
    QByteArray m_reply;
    std::int32_t m_roundIndex = 0;
    std::array<qint64, 5> m_bytes{};
    std::array<std::int32_t, 5> m_connectTimes{};
    std::array<long double, 5> m_speeds{};
    int m_mark = 0;
    MarkReasons m_reasons;
    QSet<QString> m_announced; // servers already told where the data goes
};
