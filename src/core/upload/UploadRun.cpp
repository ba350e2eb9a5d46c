#include "core/upload/UploadRun.h"

#include "core/measure/RunResult.h"
#include "core/net/ScktComp.h"
#include "core/platform/Tick.h"
#include "core/platform/WindowTimer.h"
#include "core/upload/UploadRate.h"

#include <algorithm>
#include <climits>

namespace {
constexpr int kSmtpPort = 25;
constexpr int kSilenceMs = 60000;

// Empty, or holding a line break or another control character that would end an
// SMTP command early.
bool IsUsable(const QString& text) {
    if (text.isEmpty())
        return false;
    return std::none_of(text.begin(), text.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}
} // namespace

std::optional<QString> UploadStartRefusal(const QString& server, const QString& address) {
    if (IsUsable(address) && IsUsable(server))
        return std::nullopt;
    return QStringLiteral("エラー：SMTPサーバとメールアドレスを入力してください。");
}

UploadRun::UploadRun(QObject* parent)
    : QObject(parent) {
    ClientSocket3 = new TClientSocket(this);
    ClientSocket3->setObjectName(QStringLiteral("ClientSocket3"));
    ClientSocket3->setClientType(ctNonBlocking);
    ClientSocket3->setPort(kSmtpPort);
    ClientSocket3->OnConnect = [this](QObject* sender, TCustomWinSocket* socket) {
        ClientSocket3Connect(sender, socket);
    };
    ClientSocket3->OnRead = [this](QObject* sender, TCustomWinSocket* socket) {
        ClientSocket3Read(sender, socket);
    };
    ClientSocket3->OnDisconnect = [this](QObject* sender, TCustomWinSocket* socket) {
        ClientSocket3Disconnect(sender, socket);
    };
    ClientSocket3->OnWrite = [this](QObject* sender, TCustomWinSocket* socket) {
        ClientSocket3Write(sender, socket);
    };
    // The error code is left as it is, so the component still reports the error.
    ClientSocket3->OnError = [this](QObject*, TCustomWinSocket* socket, TErrorEvent event, int&) {
        SocketError(socket, event == eeConnect);
    };

    TClientWinSocket* socket = ClientSocket3->Socket();
    Smtp.Endpoints = {
        .LocalHostName = [socket] { return socket->LocalHostName(); },
        .LocalAddressText = [socket] { return socket->LocalAddressText(); },
        .LocalPortNumber = [socket] { return socket->LocalPortNumber(); },
        .RemoteHostName = [socket] { return socket->RemoteHostName(); },
        .RemoteAddressText = [socket] { return socket->RemoteAddressText(); },
        .RemotePortNumber = [socket] { return socket->RemotePortNumber(); },
    };

    SmtpSilenceTimer = new WindowTimer(this, kSilenceMs);
    SmtpSilenceTimer->setObjectName(QStringLiteral("SmtpSilenceTimer"));
    SmtpSilenceTimer->OnTimer = [this] { SmtpSilenceTimerTimer(); };
}

UploadRun::~UploadRun() = default;

void UploadRun::Start(const QString& server, const QString& address, const QString& startedText) {
    m_startedText = startedText;
    Smtp.Start(address.toStdString());
    m_roundIndex = 0;
    emit statusChanged(QStringLiteral("コネクト中"));
    try {
        ClientSocket3->setHost(server.toStdString());
        m_runStartTick = Tick();
        ClientSocket3->Activate();
    } catch (...) {
        // Nothing was opened: the caller must stay usable.
        Smtp.Stop();
        emit connectFailed();
        throw;
    }
}

void UploadRun::Close() {
    SmtpSilenceTimer->setEnabled(false);
    ClientSocket3->Deactivate();
    // A lookup or connect under way is not Active yet; closing ends it too.
    if (Smtp.Running())
        ClientSocket3->Socket()->DropConnection();
}

void UploadRun::Stop() {
    if (!Smtp.Running())
        return;
    SmtpSilenceTimer->setEnabled(false);
    // Stopped first, so that the disconnect event finds no dialogue to report.
    Smtp.Stop();
    ClientSocket3->Deactivate();
    ClientSocket3->Socket()->DropConnection();
    emit stopped();
}

void UploadRun::ClientSocket3Connect(QObject*, TCustomWinSocket*) {
    m_connectTick = Tick();
    emit statusChanged(QStringLiteral("SMTP通信中"));
    Smtp.Connected();
    RestartSilenceTimer();
}

void UploadRun::ClientSocket3Read(QObject*, TCustomWinSocket* Socket) {
    const std::string text = Socket->ReceiveString();
    if (text.empty())
        return;
    // A reply ends the timed transfer when it arrives. Logging it is the program's own work,
    // and the log may hold the whole body by then: that must not count as the line's time.
    m_readTick = Tick();
    m_readMicros = TickMicros();
    RestartSilenceTimer();
    const SmtpOutcome outcome = Smtp.Received(text);
    if (!outcome.replyTooLong)
        emit logAppended(QString::fromStdString(text));
    else if (outcome.keptBytes > 0)
        emit logAppended(QString::fromStdString(text.substr(0, outcome.keptBytes)));
    ApplyOutcome(outcome);
    if (outcome.replyTooLong) {
        // Ends as when the server closes early: no rate, the start controls back.
        ClientSocket3->Deactivate();
        return;
    }
    SendPending(Socket);
}

void UploadRun::ClientSocket3Write(QObject*, TCustomWinSocket* Socket) {
    SendPending(Socket);
}

void UploadRun::ClientSocket3Disconnect(QObject*, TCustomWinSocket*) {
    SmtpSilenceTimer->setEnabled(false);
    ClientSocket3->Deactivate();
    if (!Smtp.Running())
        return;
    UploadResult r;
    r.connected = Smtp.WasConnected();
    r.bodyStarted = Smtp.BodyStarted();
    // Without a reply to the body there is no send-to-reply time, hence no rate.
    r.measured = Smtp.TransferEnded() && !Smtp.ReplyTooLong();
    Smtp.Stop();

    // The ticks are milliseconds; the transfer time is taken at the same two moments from
    // the microsecond clock, as a download round's is: at 100 Mbit/s the body takes 25 ms.
    std::int64_t transferMicros = 0;
    if (r.measured)
        transferMicros = m_transferEndMicros - m_transferStartMicros;
    if (r.connected)
        m_connectTimes[0] = TickDiff(m_connectTick, m_runStartTick);
    m_speeds[0] = r.measured ? UploadBytesPerSecond(m_roundBytes, transferMicros) : 0;
    m_runStartTick = m_connectTick = m_transferStartTick = m_transferEndTick = 0;
    m_transferStartMicros = m_transferEndMicros = 0;

    r.connectMs = m_connectTimes[0];
    r.connectText = r.connected ? QString::number(m_connectTimes[0]) : QString();
    r.bytes = m_roundBytes;
    r.bytesText = r.bodyStarted ? QString::number(m_roundBytes) : QString();
    r.bytesPerSecond = m_speeds[0];
    if (r.measured) {
        r.kbpsText = RoundKbpsText(m_speeds[0]);
        r.mbpsText = RoundMbpsText(m_speeds[0]);
        r.historyLine = HistoryLine(QStringLiteral("*upload(310KB)"), m_startedText, r.connectText,
                                    r.bytesText, r.kbpsText, r.mbpsText);
    }
    emit statusChanged(r.connected ? QStringLiteral("測定終了")
                                   : QStringLiteral("接続できませんでした"));
    emit finished(r);
}

void UploadRun::SmtpSilenceTimerTimer() {
    SmtpSilenceTimer->setEnabled(false);
    if (!Smtp.Running() || !ClientSocket3->Active())
        return;
    emit logAppended(QStringLiteral("/* タイムアウト. */"));
    ClientSocket3->Deactivate();
}

void UploadRun::SocketError(TCustomWinSocket* Socket, bool connectFailed) {
    if (connectFailed) {
        // The connection never came up, so no disconnect event will follow.
        SmtpSilenceTimer->setEnabled(false);
        const bool wasRunning = Smtp.Running();
        Smtp.Stop();
        if (wasRunning)
            emit statusChanged(QStringLiteral("接続できませんでした"));
        emit this->connectFailed();
        return;
    }
    // A failed close leaves the connection open; dropping it ends the dialogue through
    // the disconnect event.
    if (Socket->Connected())
        ClientSocket3->Deactivate();
}

void UploadRun::ApplyOutcome(const SmtpOutcome& outcome) {
    if (outcome.transferEnded) {
        m_transferEndTick = m_readTick;
        m_transferEndMicros = m_readMicros;
        emit statusChanged(QStringLiteral("終了処理中"));
    }
    if (outcome.bodyStarted)
        emit statusChanged(QStringLiteral("測定中"));
    for (const std::string& line : outcome.log)
        emit logAppended(QString::fromStdString(line));
    if (outcome.bodyStarted) {
        // The body is built and logged; only handing it over is timed.
        m_roundBytes = 0;
        m_transferStartTick = Tick();
        m_transferStartMicros = TickMicros();
    }
}

void UploadRun::SendPending(TCustomWinSocket* Socket) {
    for (;;) {
        const std::string_view pending = Smtp.Pending();
        if (pending.empty())
            return;
        const int count = static_cast<int>(std::min<std::size_t>(pending.size(), INT_MAX));
        const int sent = Socket->SendBytes(pending.data(), count);
        // Nothing taken: the write notification tells when there is room.
        if (sent <= 0)
            return;
        const bool whole = sent == count && pending.size() <= INT_MAX;
        const SmtpOutcome outcome = Smtp.Sent(sent);
        if (Smtp.BodyStarted())
            m_roundBytes = Smtp.BodyBytesSent();
        RestartSilenceTimer();
        ApplyOutcome(outcome);
        if (!whole)
            return;
    }
}

void UploadRun::RestartSilenceTimer() {
    if (!Smtp.Running())
        return;
    SmtpSilenceTimer->setEnabled(false);
    SmtpSilenceTimer->setEnabled(true);
}
