// One download run of five rounds over NMHTTP1, without a window: the window, a command-line
// tool or a test starts it and shows what its signals carry.
#pragma once

#include "core/measure/TransferClock.h"
#include "core/net/AddressFamily.h"
#include "core/net/ErrorExplanation.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

class TNMHTTP;
class WindowTimer;
enum CmdType : int;

struct DownloadRound {
    long double bytesPerSecond = 0;
    QString kbpsText;
    QString mbpsText;
    std::int32_t connectMs = 0;
};

// Why a result carries a mark; a later reason replaces an earlier one in the mark itself.
struct MarkReasons {
    bool unsteadyRound = false;
    bool disturbed = false; // the application lost activation during the run
    bool tooSmall = false;
    bool connectUnmeasured = false;
};

struct DownloadResult {
    QString startedText; // the run's start, as the history line shows it
    QString host;
    std::array<DownloadRound, 5> rounds{}; // in round order
    QString connectText;
    QString bytesText;
    QString kbpsText;
    QString mbpsText;
    std::int32_t bytes = 0;
    long double meanBytesPerSecond = 0; // of the middle three
    int mark = 0;                       // 0 clean, 1 "*", 2 "**"
    MarkReasons reasons;
    bool tooSmall = false;
    QString historyLine;
    // Where the last round connected: its family and the peer's address (no brackets).
    AddressFamily family = AddressFamily::Ipv4;
    QString address;
};

class DownloadRun final : public QObject {
    Q_OBJECT

public:
    explicit DownloadRun(QObject* parent = nullptr);
    ~DownloadRun() override;

    TNMHTTP* NMHTTP1 = nullptr;
    WindowTimer* Timer1 = nullptr; // 2,500 ms between rounds

    // The URL, read at every round's request and at completion: later rounds fetch what
    // the source holds then.
    std::function<QString()> UrlSource;
    // The family the rounds connect with (an IPv6 literal in the URL connects with IPv6 all
    // the same): IPv4, the first address of the reply, unless one was chosen.
    AddressFamily Family = AddressFamily::Ipv4;

    // Starts round 1; the URL has passed the start checks. startedText is the start's
    // date and time as the history line shows it.
    void Start(const QString& startedText);
    bool Running() const noexcept { return m_running; }
    // Ends a request under way at once; nothing more is reported for it.
    void Abort();
    // The user's stop: ends the request or the pause between rounds; no result, only
    // stopped() is reported. Nothing happens when no run is going on.
    void Stop();
    // How the last run ended (Completed while one is going on).
    const RunOutcome& Outcome() const noexcept { return m_outcome; }

    // A run starts clean; deactivating the application marks it.
    void ClearMark();
    void MarkDisturbed();

    std::int32_t RoundIndex() const noexcept { return m_roundIndex; }
    const std::array<long double, 5>& RoundSpeeds() const noexcept { return m_speeds; }
    std::int32_t RoundBytes() const noexcept { return m_roundBytes; }
    int ResultMark() const noexcept { return m_mark; }

    // The components' events and the round timer.
    void NMHTTP1Connect();
    void NMHTTP1Success(CmdType Cmd);
    void NMHTTP1Failure(CmdType Cmd);
    void Timer1Timer();

signals:
    void statusChanged(const QString& text);
    void roundMeasured(int index, const QString& kbps, const QString& mbps);
    void completed(const DownloadResult& result);
    // The run is over without a result: too big a file, an error reply, or a failure raised
    // before the round was answered.
    void failed(const RunOutcome& outcome);
    // Stop() ended the run.
    void stopped();

private:
    void RequestRound();
    DownloadResult Complete();
    void SetMark(int mark, bool MarkReasons::*reason);
    void Fail(RunOutcome outcome);

    TransferClock m_clock;
    RunOutcome m_outcome;
    std::int32_t m_roundIndex = 0;
    std::array<std::int32_t, 5> m_connectTimes{};
    std::array<long double, 5> m_speeds{};
    std::int32_t m_roundBytes = 0;
    int m_mark = 0;
    MarkReasons m_reasons;
    QString m_startedText;
    AddressFamily m_connectedFamily = AddressFamily::Ipv4;
    QString m_connectedAddress;
    bool m_running = false;
    bool m_roundAnswered = false;
    bool m_aborted = false;
};
