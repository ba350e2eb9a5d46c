#include "core/upload/HttpUploadRun.h"

#include "core/history/HistoryRecord.h"
#include "core/measure/RunResult.h"
#include "core/net/ScktComp.h"
#include "core/platform/WindowTimer.h"
#include "core/server/ServerDescriptor.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <algorithm>
#include <climits>
#include <cstring>
#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace {
constexpr int kRoundPauseMs = 2500;
constexpr int kDescriptorTimeoutMs = 10000;
// One send call at most; the socket takes what fits in its buffer.
constexpr qint64 kSendCallBytes = 256 * 1024;
// A reply from the sink is a few hundred bytes; anything near this is not one.
constexpr qsizetype kMaxReplyBytes = 64 * 1024;
constexpr long double kShortestTransferMicros = 1.0L;

// Bytes handed to the kernel that the server has not acknowledged yet. A reply that finds
// some was sent before the server read the body, even when the body was all handed over.
int UnacknowledgedBytes(int handle) {
    int queued = 0;
    if (handle < 0 || ::ioctl(handle, SIOCOUTQ, &queued) < 0)
        return 0;
    return queued;
}
} // namespace

QByteArray HttpUploadRequestHead(const QString& authority, const QString& path, qint64 length) {
    return "POST " + path.toUtf8() + " HTTP/1.1\r\nHost: " + authority.toUtf8() +
           "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
}

qint64 HttpUploadRoundBytes(qint64 firstBytes, std::int64_t firstMicros, qint64 maxBytes) {
    if (firstMicros <= 0)
        return maxBytes;
    const long double perSecond =
        static_cast<long double>(firstBytes) * 1000000.0L / static_cast<long double>(firstMicros);
    const long double wanted =
        perSecond * static_cast<long double>(kHttpUploadRoundMicros) / 1000000.0L;
    if (wanted >= static_cast<long double>(maxBytes))
        return maxBytes;
    return std::min(maxBytes, std::max(firstBytes, static_cast<qint64>(wanted) + 1));
}

SinkReply ReadSinkReply(const QByteArray& received, bool closed) {
    SinkReply r;
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return r;
    r.headComplete = true;
    const QList<QByteArray> lines = received.left(headEnd).split('\n');
    const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
    if (statusLine.size() >= 2 && statusLine[0].startsWith("HTTP/"))
        r.status = statusLine[1].toInt();
    qint64 length = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
            bool ok = false;
            length = line.mid(colon + 1).trimmed().toLongLong(&ok);
            if (!ok)
                length = -1;
        }
    }
    const QByteArray body = received.mid(headEnd + 4);
    r.complete = closed || (length >= 0 && body.size() >= length);
    if (!r.complete)
        return r;
    const QJsonObject o = QJsonDocument::fromJson(length >= 0 ? body.left(length) : body).object();
    if (o.value(QLatin1String("bytes")).isDouble())
        r.countedBytes = static_cast<qint64>(o.value(QLatin1String("bytes")).toDouble());
    return r;
}

QString HttpUploadFailureText(const RunOutcome& o, const QString& authority) {
    switch (o.end) {
    case RunEnd::EarlyReply:
        return QStringLiteral("%1 のサーバが、送信データを受け取り終わる前に応答しました。"
                              "この応答では送信スピードは測れません。測定サーバーの設定を"
                              "確かめてください。")
            .arg(authority);
    case RunEnd::CountMismatch:
        return (o.countedBytes < o.sentBytes
                    ? QStringLiteral("%1 のサーバが受け取ったのは %2 バイトで、送った %3 バイト"
                                     "に足りません。途中でデータが失われました。")
                    : QStringLiteral("%1 のサーバが %2 バイトを受け取ったと答えましたが、送った"
                                     "のは %3 バイトです。このサーバでは測定できません。"))
            .arg(authority)
            .arg(o.countedBytes)
            .arg(o.sentBytes);
    case RunEnd::BodyTooLarge:
        return QStringLiteral("%1 のサーバが、送信データが大きすぎると断りました (413)。")
            .arg(authority);
    case RunEnd::Redirected:
        return QStringLiteral("%1 のサーバが別の場所へ転送しようとしました (%2)。アップロードは"
                              "転送先へは送りません。測定サーバーの設定を確かめてください。")
            .arg(authority)
            .arg(o.replyCode);
    case RunEnd::NoUploadSink:
        return QStringLiteral("%1 はアップロードの受け口を持つ測定サーバーではありません。"
                              "測定サーバーの設定を確かめてください。")
                   .arg(authority) +
               (o.message.isEmpty() ? QString() : QStringLiteral("\n(") + o.message + u')');
    case RunEnd::ErrorReply:
        return QStringLiteral("%1 のサーバがエラー %2 を返しました。")
            .arg(authority)
            .arg(o.replyCode);
    case RunEnd::CutShort:
        return QStringLiteral("%1 のサーバが応答の途中で接続を切りました。").arg(authority);
    default:
        break;
    }
    const qsizetype colon = authority.lastIndexOf(u':');
    const QString host = colon < 0 ? authority : authority.left(colon);
    const int port = colon < 0 ? 80 : authority.mid(colon + 1).toInt();
    const QString explained = ExplainNetworkError(o, host, port);
    if (!explained.isEmpty())
        return explained;
    return QStringLiteral("%1 へのアップロードが失敗しました。").arg(authority) +
           (o.message.isEmpty() ? QString() : QStringLiteral("\n(") + o.message + u')');
}

HttpUploadRun::HttpUploadRun(QObject* parent)
    : QObject(parent) {
    Socket = new TClientSocket(this);
    Socket->setObjectName(QStringLiteral("HttpUploadSocket"));
    Socket->setClientType(ctNonBlocking);
    Socket->OnConnect = [this](QObject*, TCustomWinSocket*) { Connected(); };
    Socket->OnWrite = [this](QObject*, TCustomWinSocket*) { SendTurn(); };
    Socket->OnRead = [this](QObject*, TCustomWinSocket* socket) { Readable(socket); };
    Socket->OnDisconnect = [this](QObject*, TCustomWinSocket*) { Disconnected(); };
    // The run reports every socket error as its outcome: the component raises none.
    Socket->OnError = [this](QObject*, TCustomWinSocket*, TErrorEvent, int& code) {
        SocketError(code);
    };

    RoundTimer = new WindowTimer(this, kRoundPauseMs);
    RoundTimer->setObjectName(QStringLiteral("HttpUploadRoundTimer"));
    RoundTimer->OnTimer = [this] {
        RoundTimer->setEnabled(false);
        if (m_phase == Phase::Pausing)
            StartRound();
    };
    m_fetch = new ServerDescriptorFetch(this);
    connect(m_fetch, &ServerDescriptorFetch::finished, this,
            [this](DescriptorOutcome outcome, const ServerDescriptor& d, int) {
                DescriptorRead(outcome, d);
            });
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, [this] { Fail(RunOutcome(RunEnd::TimedOut)); });
    m_sendTurn.setSingleShot(true);
    m_sendTurn.setInterval(0);
    connect(&m_sendTurn, &QTimer::timeout, this, &HttpUploadRun::SendTurn);
}

HttpUploadRun::~HttpUploadRun() = default;

void HttpUploadRun::Start(const MeasurementServer& server, const QString& startedText) {
    if (Running())
        return;
    m_server = server;
    m_startedText = startedText;
    m_outcome = {};
    ClearMark();
    m_roundIndex = 0;
    m_bytes = {};
    m_connectTimes = {};
    m_speeds = {};
    m_body.clear();
    m_phase = Phase::Describing;
    if (!m_announced.contains(server.Authority()))
        emit statusChanged(
            QStringLiteral("ランダムなデータだけを %1 へ送ります").arg(server.Authority()));
    else
        emit statusChanged(QStringLiteral("コネクト中"));
    // The descriptor is small: its own bound, unless the run's silence bound is shorter.
    m_fetch->TimeoutMs = SilenceTimeoutMs > 0 ? std::min(SilenceTimeoutMs, kDescriptorTimeoutMs)
                                              : kDescriptorTimeoutMs;
    m_fetch->Start(server);
}

void HttpUploadRun::DescriptorRead(DescriptorOutcome outcome, const ServerDescriptor& d) {
    if (m_phase != Phase::Describing)
        return;
    if (outcome == DescriptorOutcome::NoConnection || outcome == DescriptorOutcome::TimedOut) {
        Fail(RunOutcome(outcome == DescriptorOutcome::TimedOut ? RunEnd::TimedOut
                                                               : RunEnd::Refused));
        return;
    }
    if (outcome != DescriptorOutcome::Read || d.uploadPath.isEmpty() || d.uploadMaxBytes <= 0) {
        Fail(RunOutcome(RunEnd::NoUploadSink, outcome == DescriptorOutcome::Read
                                                  ? QString()
                                                  : DescriptorOutcomeText(outcome)));
        return;
    }
    m_sinkPath = d.uploadPath;
    m_maxBytes = d.uploadMaxBytes;
    m_announced.insert(m_server.Authority());
    FillBody(std::min(kHttpUploadFirstRoundBytes, m_maxBytes));
    StartRound();
}

void HttpUploadRun::FillBody(qint64 length) {
    // Random bytes, made once per run and grown once for the later rounds: nothing on the
    // way can compress them, and making them is never timed.
    const qint64 had = m_body.size();
    if (length <= had)
        return;
    m_body.resize(length);
    const qint64 words = (length - had) / 8;
    QRandomGenerator64 random(QRandomGenerator::system()->generate64());
    char* out = m_body.data() + had;
    for (qint64 i = 0; i < words; ++i) {
        const quint64 w = random.generate64();
        std::memcpy(out + i * 8, &w, 8);
    }
    for (qint64 i = had + words * 8; i < length; ++i)
        m_body[i] = static_cast<char>(random.generate());
}

void HttpUploadRun::StartRound() {
    m_phase = Phase::Connecting;
    if (m_roundIndex == 0)
        m_bytes[0] = m_body.size();
    m_roundLength = m_bytes[static_cast<std::size_t>(m_roundIndex)];
    m_head = HttpUploadRequestHead(m_server.Authority(), m_sinkPath, m_roundLength);
    m_sent = 0;
    m_transferStarted = false;
    m_replySeen = false;
    m_bodyWholeAtReply = false;
    m_reply.clear();
    m_clock.Clear();
    emit statusChanged(QStringLiteral("コネクト中"));
    RestartSilence();
    try {
        Socket->setHost(m_server.host.toStdString());
        Socket->setPort(m_server.port);
        Socket->setFamily(m_server.FamilyOr(AddressFamily::Auto));
        m_clock.StartRun();
        Socket->Activate();
    } catch (const std::exception& e) {
        Fail(OutcomeOfFailure(e));
    }
}

void HttpUploadRun::Connected() {
    if (m_phase != Phase::Connecting)
        return;
    m_clock.Connected();
    m_connectedFamily = Socket->Socket()->ConnectedFamily();
    m_connectedAddress = QString::fromStdString(Socket->Socket()->RemoteAddressText());
    m_phase = Phase::Sending;
    emit statusChanged(QStringLiteral("%1回目測定中").arg(m_roundIndex + 1));
    RestartSilence();
}

void HttpUploadRun::SendTurn() {
    if (m_phase != Phase::Sending)
        return;
    TCustomWinSocket* socket = Socket->Socket();
    const qint64 total = m_head.size() + m_roundLength;
    qint64 turn = 0;
    while (m_sent < total) {
        if (turn >= SendTurnBytes) {
            // The rest on the next turn of the event loop; a window stays responsive.
            m_sendTurn.start();
            return;
        }
        const char* data = nullptr;
        qint64 count = 0;
        if (m_sent < m_head.size()) {
            data = m_head.constData() + m_sent;
            count = m_head.size() - m_sent;
        } else {
            const qint64 at = m_sent - m_head.size();
            data = m_body.constData() + at;
            count = std::min(kSendCallBytes, m_roundLength - at);
        }
        if (!m_transferStarted) {
            // The head's few bytes go in the same moment as the first body bytes.
            m_transferStarted = true;
            m_clock.StartTransfer();
        }
        const int sent = socket->SendBytes(data, static_cast<int>(count));
        if (m_phase != Phase::Sending)
            return; // a send error ended the round
        // Nothing taken: the write event tells when there is room.
        if (sent <= 0)
            return;
        m_sent += sent;
        turn += sent;
        RestartSilence();
    }
    m_phase = Phase::AwaitingReply;
}

void HttpUploadRun::Readable(TCustomWinSocket* socket) {
    if (m_phase != Phase::Sending && m_phase != Phase::AwaitingReply)
        return;
    const std::string text = socket->ReceiveString();
    if (text.empty())
        return;
    if (!m_replySeen) {
        // The reply's arrival ends the timed transfer.
        m_replySeen = true;
        m_clock.EndTransfer();
        m_bodyWholeAtReply = m_sent == m_head.size() + m_roundLength &&
                             UnacknowledgedBytes(socket->SocketHandle()) == 0;
    }
    RestartSilence();
    m_reply.append(text.data(), static_cast<qsizetype>(text.size()));
    if (m_reply.size() > kMaxReplyBytes) {
        Fail(RunOutcome(RunEnd::Failed, QStringLiteral("応答が長すぎます")));
        return;
    }
    const SinkReply reply = ReadSinkReply(m_reply, false);
    if (reply.complete)
        RoundAnswered(reply);
}

void HttpUploadRun::Disconnected() {
    if (m_phase == Phase::Connecting) {
        // A name with addresses of the other family only is not an unknown name.
        RunEnd end = RunEnd::Unresolved;
        if (Socket->Socket()->LastLookup() == LookupStatus::NoAddressOfFamily)
            end = Socket->Family() == AddressFamily::Ipv6 ? RunEnd::NoIpv6Address
                                                          : RunEnd::NoIpv4Address;
        Fail(RunOutcome(end));
        return;
    }
    if (m_phase != Phase::Sending && m_phase != Phase::AwaitingReply)
        return;
    const SinkReply reply = ReadSinkReply(m_reply, true);
    if (reply.headComplete) {
        RoundAnswered(reply);
        return;
    }
    Fail(RunOutcome(m_replySeen ? RunEnd::CutShort : RunEnd::Reset));
}

void HttpUploadRun::SocketError(int& code) {
    const int error = code;
    code = 0;
    if (m_phase != Phase::Connecting && m_phase != Phase::Sending &&
        m_phase != Phase::AwaitingReply)
        return;
    // A server that answered and closed at once (413 before the body) resets the send.
    const SinkReply reply = ReadSinkReply(m_reply, true);
    if (reply.headComplete) {
        RoundAnswered(reply);
        return;
    }
    Fail(RunOutcome(RunEndOfSocketError(error), {}, error));
}

void HttpUploadRun::RoundAnswered(const SinkReply& reply) {
    const bool bodyWhole = m_replySeen && m_bodyWholeAtReply;
    RunOutcome end;
    if (reply.status == 413)
        end = RunOutcome(RunEnd::BodyTooLarge);
    else if (reply.status >= 300 && reply.status < 400)
        end = RunOutcome(RunEnd::Redirected);
    else if (reply.status < 200 || reply.status >= 300)
        end = RunOutcome(RunEnd::ErrorReply);
    else if (!bodyWhole)
        end = RunOutcome(RunEnd::EarlyReply);
    else if (reply.countedBytes != m_roundLength) {
        end = RunOutcome(RunEnd::CountMismatch);
        end.sentBytes = m_roundLength;
        end.countedBytes = reply.countedBytes;
    }
    if (end.end != RunEnd::Completed) {
        end.replyCode = reply.status;
        Fail(end);
        return;
    }
    CloseConnection();
    const auto i = static_cast<std::size_t>(m_roundIndex);
    const std::int64_t micros = m_clock.TransferMicros();
    m_connectTimes[i] = m_clock.ConnectMs();
    if (m_connectTimes[i] < 0) {
        m_mark = 2;
        m_reasons.connectUnmeasured = true;
    }
    m_speeds[i] = static_cast<long double>(m_roundLength) * 1000000.0L /
                  std::max(kShortestTransferMicros, static_cast<long double>(micros));
    emit roundMeasured(m_roundIndex, RoundKbpsText(m_speeds[i]), RoundMbpsText(m_speeds[i]),
                       m_roundLength);
    if (m_roundIndex > 0 && IsUnsteadyRound(m_speeds[i], m_speeds[i - 1])) {
        m_mark = 1;
        m_reasons.unsteadyRound = true;
    }
    // Round 1 is short and mostly slow start on a distant line, so it underrates the line:
    // round 2 is sized from it, and rounds 3 to 5 again from round 2 where that was faster, so
    // that they too last kHttpUploadRoundMicros at the line's speed.
    if (m_roundIndex <= 1) {
        const qint64 later = HttpUploadRoundBytes(m_roundLength, micros, m_maxBytes);
        if (later > m_roundLength || m_roundIndex == 0) {
            FillBody(later);
            std::fill(m_bytes.begin() + m_roundIndex + 1, m_bytes.end(), later);
        }
    }
    if (m_roundIndex < 4) {
        ++m_roundIndex;
        m_phase = Phase::Pausing;
        RoundTimer->setEnabled(true);
        return;
    }
    Finish();
}

void HttpUploadRun::Finish() {
    HttpUploadResult r;
    r.startedText = m_startedText;
    r.host = m_server.Authority();
    r.family = m_connectedFamily;
    r.address = m_connectedAddress;
    for (std::size_t i = 0; i < 5; ++i)
        r.rounds[i] = {m_bytes[i], m_speeds[i], m_connectTimes[i]};
    r.bytes = m_bytes[4];
    std::array<long double, 5> ordered = m_speeds;
    const RunResult computed =
        ComputeRunResult(m_connectTimes, ordered, static_cast<std::int32_t>(r.bytes));
    r.connectText = computed.connectText;
    r.bytesText = computed.bytesText;
    r.kbpsText = computed.kbpsText;
    r.mbpsText = computed.mbpsText;
    r.meanBytesPerSecond = (ordered[1] + ordered[2] + ordered[3]) / 3;
    r.mark = m_mark;
    r.reasons = m_reasons;
    r.historyLine = HistoryLine(HttpUploadFirstField(m_mark, r.host), m_startedText, r.connectText,
                                r.bytesText, r.kbpsText, r.mbpsText);
    m_phase = Phase::Idle;
    m_silence.stop();
    m_body.clear();
    m_body.squeeze();
    emit statusChanged(QStringLiteral("測定終了"));
    emit completed(r);
}

void HttpUploadRun::CloseConnection() {
    m_silence.stop();
    m_sendTurn.stop();
    // Set first: the disconnect event this fires finds no round to report.
    m_phase = Phase::Pausing;
    Socket->Deactivate();
    Socket->Socket()->DropConnection();
}

void HttpUploadRun::Fail(RunOutcome outcome) {
    if (!Running())
        return;
    Abort();
    m_outcome = std::move(outcome);
    emit failed(m_outcome);
}

void HttpUploadRun::Stop() {
    if (!Running())
        return;
    Abort();
    emit stopped();
}

void HttpUploadRun::Abort() {
    if (!Running())
        return;
    m_fetch->Abort();
    RoundTimer->setEnabled(false);
    CloseConnection();
    m_phase = Phase::Idle;
    // A body of up to the sink's 256 MiB is not kept after the run.
    m_body.clear();
    m_body.squeeze();
    m_outcome = RunOutcome(RunEnd::Stopped);
}

void HttpUploadRun::ClearMark() {
    m_mark = 0;
    m_reasons = {};
}

void HttpUploadRun::MarkDisturbed() {
    m_mark = 1;
    m_reasons.disturbed = true;
}

void HttpUploadRun::RestartSilence() {
    if (SilenceTimeoutMs > 0)
        m_silence.start(SilenceTimeoutMs);
}
