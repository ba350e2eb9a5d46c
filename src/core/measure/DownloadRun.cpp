#include "core/measure/DownloadRun.h"

#include "core/measure/RunResult.h"
#include "core/measure/StartChecks.h"
#include "core/net/Nmhttp.h"
#include "core/platform/EventErrors.h"
#include "core/platform/WindowTimer.h"

namespace {
// Files above this size stop the run: the measurement is meant for files of 25 MB or less.
constexpr std::int32_t kMaxRoundBytes = 26300000;
// A reply that brought nothing to measure.
constexpr char kNoBody[] = "受信データがありません";
// A transfer that the clock could not resolve still gets a finite speed.
constexpr long double kShortestTransferMs = 0.001L;
} // namespace

DownloadRun::DownloadRun(QObject* parent)
    : QObject(parent) {
    NMHTTP1 = new TNMHTTP(this);
    NMHTTP1->setObjectName(QStringLiteral("NMHTTP1"));
    NMHTTP1->Port = 0;
    NMHTTP1->ReportLevel = 0;
    NMHTTP1->ProxyPort = 0;
    NMHTTP1->Body = "quillmet.jpg";
    NMHTTP1->Header = "Head.txt";
    NMHTTP1->InputFileMode = false;
    NMHTTP1->OutputFileMode = false;
    // A round needs the byte count alone; holding 25 MB costs the first round its speed.
    NMHTTP1->CountOnlyBody = true;
    NMHTTP1->OnConnect = [this](QObject*) { NMHTTP1Connect(); };
    NMHTTP1->OnSuccess = [this](CmdType cmd) { NMHTTP1Success(cmd); };
    NMHTTP1->OnFailure = [this](CmdType cmd) { NMHTTP1Failure(cmd); };

    Timer1 = new WindowTimer(this, 2500);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->OnTimer = [this] { Timer1Timer(); };
}

DownloadRun::~DownloadRun() = default;

void DownloadRun::Start(const QString& startedText) {
    m_startedText = startedText;
    m_aborted = false;
    m_outcome = {};
    ClearMark();
    m_roundIndex = 0;
    m_running = true;
    NMHTTP1->InputFileMode = false;
    RequestRound();
}

void DownloadRun::Abort() {
    m_aborted = true;
    NMHTTP1->Abort();
}

void DownloadRun::Stop() {
    if (!m_running)
        return;
    m_running = false;
    m_aborted = true;
    Timer1->setEnabled(false);
    // A Get waiting further up the stack ends with the abort error, which goes unreported.
    NMHTTP1->Abort();
    m_outcome = RunOutcome(RunEnd::Stopped);
    emit stopped();
}

void DownloadRun::ClearMark() {
    m_mark = 0;
    m_reasons = {};
}

void DownloadRun::MarkDisturbed() {
    SetMark(1, &MarkReasons::disturbed);
}

void DownloadRun::SetMark(int mark, bool MarkReasons::*reason) {
    m_mark = mark;
    m_reasons.*reason = true;
}

void DownloadRun::Timer1Timer() {
    Timer1->setEnabled(false);
    RequestRound();
}

void DownloadRun::RequestRound() {
    emit statusChanged(QStringLiteral("コネクト中"));
    m_roundAnswered = false;
    m_clock.StartRun();
    // Read below when the request fails: a length left from the round before is not this one's.
    NMHTTP1->ContentLength = 0;
    const QString url = UrlSource ? UrlSource() : QString();
    NMHTTP1->Family = DownloadFamily(url, Family);
    try {
        NMHTTP1->Get(url.toStdString());
    } catch (const std::exception& e) {
        if (m_aborted) {
            m_running = false;
            return;
        }
        // Once the round was answered its own steps have run: only the error is told.
        if (m_roundAnswered) {
            ReportEventError(e);
            return;
        }
        // A file announced above the limit is too big whatever ended its transfer (a body
        // held in memory is cut at 64 MiB, a shorter one is cut short).
        if (NMHTTP1->ContentLength > kMaxRoundBytes) {
            Fail(RunOutcome(RunEnd::TooBig));
            return;
        }
        Fail(OutcomeOfFailure(e));
        return;
    }
    // A reply that was neither a success nor a failure (299 to 399) ends the run too.
    if (!m_roundAnswered && !m_aborted)
        NMHTTP1Failure(CmdType{});
}

void DownloadRun::Fail(RunOutcome outcome) {
    m_running = false;
    m_outcome = std::move(outcome);
    emit failed(m_outcome);
}

void DownloadRun::NMHTTP1Connect() {
    m_clock.Connected();
    m_connectedFamily = NMHTTP1->ConnectedFamily();
    m_connectedAddress = QString::fromStdString(NMHTTP1->GetRemoteIP());
    emit statusChanged(QStringLiteral("%1回目測定中").arg(m_roundIndex + 1));
    m_clock.StartTransfer();
}

void DownloadRun::NMHTTP1Success(CmdType) {
    if (m_aborted)
        return;
    m_roundAnswered = true;
    m_clock.EndTransfer();
    // What arrived is what was measured; the announced length may be absent or false.
    m_roundBytes = NMHTTP1->ReceivedBytes;
    if (m_roundBytes <= 0) {
        m_clock.Clear();
        Fail(RunOutcome(RunEnd::NoBody, QString::fromUtf8(kNoBody)));
        return;
    }
    // The ticks are milliseconds; the transfer time is taken at the same two moments
    // from the microsecond clock so that a fast round is not rounded to nothing.
    long double transferMs = static_cast<long double>(m_clock.TransferMicros()) / 1000.0L;
    if (transferMs <= 0)
        transferMs = kShortestTransferMs;

    const auto i = static_cast<std::size_t>(m_roundIndex);
    m_connectTimes[i] = m_clock.ConnectMs();
    if (m_connectTimes[i] < 0)
        SetMark(2, &MarkReasons::connectUnmeasured);
    m_speeds[i] = (static_cast<long double>(m_roundBytes) / transferMs) * 1000;

    emit roundMeasured(m_roundIndex, RoundKbpsText(m_speeds[i]), RoundMbpsText(m_speeds[i]));

    m_clock.Clear();

    if (m_roundIndex > 0 && IsUnsteadyRound(m_speeds[i], m_speeds[i - 1]))
        SetMark(1, &MarkReasons::unsteadyRound);

    if (m_roundBytes > kMaxRoundBytes) {
        Fail(RunOutcome(RunEnd::TooBig));
        return;
    }
    if (m_roundIndex < 4) {
        ++m_roundIndex;
        Timer1->setEnabled(true);
        return;
    }
    const DownloadResult result = Complete();
    m_running = false;
    emit completed(result);
}

DownloadResult DownloadRun::Complete() {
    DownloadResult r;
    r.startedText = m_startedText;
    for (std::size_t i = 0; i < 5; ++i)
        r.rounds[i] = {m_speeds[i], RoundKbpsText(m_speeds[i]), RoundMbpsText(m_speeds[i]),
                       m_connectTimes[i]};
    NMHTTP1->InputFileMode = false;

    const RunResult computed = ComputeRunResult(m_connectTimes, m_speeds, m_roundBytes);
    r.connectText = computed.connectText;
    r.bytesText = computed.bytesText;
    r.kbpsText = computed.kbpsText;
    r.mbpsText = computed.mbpsText;
    r.bytes = m_roundBytes;
    r.meanBytesPerSecond = (m_speeds[1] + m_speeds[2] + m_speeds[3]) / 3;

    r.host = UrlHostPart(UrlSource ? UrlSource() : QString());
    r.tooSmall = IsFileTooSmall(r.host, computed.meanMbpsOfFive, m_roundBytes);
    if (r.tooSmall)
        SetMark(1, &MarkReasons::tooSmall);
    r.mark = m_mark;
    r.reasons = m_reasons;
    r.family = m_connectedFamily;
    r.address = m_connectedAddress;
    r.historyLine = HistoryLine(MarkPrefix(m_mark) + r.host, m_startedText, r.connectText,
                                r.bytesText, r.kbpsText, r.mbpsText);
    return r;
}

void DownloadRun::NMHTTP1Failure(CmdType) {
    if (m_aborted)
        return;
    m_roundAnswered = true;
    RunOutcome reply(RunEnd::ErrorReply);
    reply.replyCode = NMHTTP1->ReplyCode;
    Fail(reply);
}
