#include "core/upload/UploadRun.h"

#include "core/measure/RunResult.h"
#include "core/net/ScktComp.h"
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
    ClientSocket3->OnError = [this](QObject*, TCustomWinSocket* socket, TErrorEvent event,
                                    int& code) { SocketError(socket, event == eeConnect, code); };

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
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, &UploadRun::ConnectTimedOut);
}

UploadRun::~UploadRun() = default;

void UploadRun::Start(const QString& server, const QString& address, const QString& startedText) {
    m_startedText = startedText;
    m_outcome = {};
    Smtp.Start(address.toStdString());
    emit statusChanged(QStringLiteral("コネクト中"));
    try {
        if (ConnectTimeoutMs > 0)
            m_connectTimer.start(ConnectTimeoutMs);
        ClientSocket3->setHost(server.toStdString());
        m_clock.StartRun();
        ClientSocket3->Activate();
    } catch (...) {
        // Nothing was opened: the caller must stay usable.
        m_connectTimer.stop();
        Smtp.Stop();
        m_outcome.end = RunEnd::Failed;
        emit connectFailed(m_outcome);
        throw;
    }
}

void UploadRun::Close() {
    EndingBecause(RunOutcome(RunEnd::Stopped));
    m_connectTimer.stop();
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
    m_connectTimer.stop();
    m_outcome = RunOutcome(RunEnd::Stopped);
    // Stopped first, so that the disconnect event finds no dialogue to report.
    Smtp.Stop();
    ClientSocket3->Deactivate();
    ClientSocket3->Socket()->DropConnection();
    emit stopped();
}

void UploadRun::ClientSocket3Connect(QObject*, TCustomWinSocket* Socket) {
    m_connectTimer.stop();
    m_connectedFamily = Socket->ConnectedFamily();
    m_connectedAddress = QString::fromStdString(Socket->RemoteAddressText());
    m_clock.Connected();
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
    if (outcome.refused) {
        RunOutcome refusal(RunEnd::SmtpRefused, QString::fromStdString(outcome.log.back()));
        refusal.smtpStep = Smtp.Step();
        refusal.reply =
            QString::fromStdString(outcome.reply).section(QLatin1Char('\n'), 0, 0).trimmed();
        EndingBecause(refusal);
        // Once the socket's own handler has returned.
        if (CloseOnRefusal)
            QTimer::singleShot(0, this, [this] {
                if (Smtp.Running())
                    Close();
            });
    }
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
    m_connectTimer.stop();
    ClientSocket3->Deactivate();
    if (!Smtp.Running())
        return;
    UploadResult r;
    r.connected = Smtp.WasConnected();
    r.bodyStarted = Smtp.BodyStarted();
    // Without a reply to the body there is no send-to-reply time, hence no rate.
    r.measured = Smtp.TransferEnded() && !Smtp.ReplyTooLong();
    // A disconnect before the connection came up is the lookup's failure: the socket reports
    // it next. Afterwards it is the server's close, before the measurement was whole.
    if (!r.measured)
        EndingBecause(RunOutcome(r.connected ? RunEnd::CutShort : RunEnd::Unresolved));
    r.outcome = m_outcome;
    r.family = m_connectedFamily;
    r.address = m_connectedAddress;
    Smtp.Stop();

    // The ticks are milliseconds; the transfer time is taken at the same two moments from
    // the microsecond clock, as a download round's is: at 100 Mbit/s the body takes 25 ms.
    if (r.connected)
        m_connectMs = m_clock.ConnectMs();
    r.bytesPerSecond =
        r.measured ? UploadBytesPerSecond(m_roundBytes, m_clock.TransferMicros()) : 0;
    m_clock.Clear();

    r.connectMs = m_connectMs;
    r.connectText = r.connected ? QString::number(m_connectMs) : QString();
    r.bytes = m_roundBytes;
    r.bytesText = r.bodyStarted ? QString::number(m_roundBytes) : QString();
    if (r.measured) {
        r.kbpsText = RoundKbpsText(r.bytesPerSecond);
        r.mbpsText = RoundMbpsText(r.bytesPerSecond);
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
    EndingBecause(RunOutcome(RunEnd::TimedOut));
    emit logAppended(QStringLiteral("/* タイムアウト. */"));
    ClientSocket3->Deactivate();
}

void UploadRun::ConnectTimedOut() {
    if (!Smtp.Running())
        return;
    EndingBecause(RunOutcome(RunEnd::TimedOut));
    // Closing reports the end through the disconnect event, when there was a handle.
    Close();
    if (!Smtp.Running())
        return;
    Smtp.Stop();
    emit connectFailed(m_outcome);
}

void UploadRun::EndingBecause(RunOutcome outcome) {
    if (m_outcome.end == RunEnd::Completed && Smtp.Running())
        m_outcome = std::move(outcome);
}

void UploadRun::SocketError(TCustomWinSocket* Socket, bool connectFailed, int code) {
    EndingBecause(RunOutcome(RunEndOfSocketError(code), {}, code));
    if (connectFailed) {
        // The connection never came up, so no disconnect event will follow.
        m_connectTimer.stop();
        SmtpSilenceTimer->setEnabled(false);
        const bool wasRunning = Smtp.Running();
        Smtp.Stop();
        if (wasRunning)
            emit statusChanged(QStringLiteral("接続できませんでした"));
        emit this->connectFailed(m_outcome);
        return;
    }
    // A failed close leaves the connection open; dropping it ends the dialogue through
    // the disconnect event.
    if (Socket->Connected())
        ClientSocket3->Deactivate();
}

void UploadRun::ApplyOutcome(const SmtpOutcome& outcome) {
    if (outcome.transferEnded) {
        m_clock.EndTransferAt(m_readTick, m_readMicros);
        emit statusChanged(QStringLiteral("終了処理中"));
    }
    if (outcome.bodyStarted)
        emit statusChanged(QStringLiteral("測定中"));
    for (const std::string& line : outcome.log)
        emit logAppended(QString::fromStdString(line));
    if (outcome.bodyStarted) {
        // The body is built and logged; only handing it over is timed.
        m_roundBytes = 0;
        m_clock.StartTransfer();
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
