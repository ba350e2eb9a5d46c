// One SMTP upload over ClientSocket3, without a window: the dialogue, its timing, the
// silence time-out and the result.
#pragma once

#include "core/upload/SmtpDialogue.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

class TClientSocket;
class TCustomWinSocket;
class WindowTimer;

struct UploadResult {
    bool connected = false;   // the connection came up: the connect time exists
    bool bodyStarted = false; // the body began to go out: the byte count exists
    bool measured = false;    // the body was answered: the rate exists
    std::int32_t connectMs = 0;
    QString connectText; // empty unless connected
    std::int32_t bytes = 0;
    QString bytesText; // empty unless the body started
    long double bytesPerSecond = 0;
    QString kbpsText; // empty unless measured
    QString mbpsText;
    QString historyLine; // empty unless measured
};

// The status-bar error of an upload start whose server or address is empty or holds a
// control character; nothing when both can be used.
std::optional<QString> UploadStartRefusal(const QString& server, const QString& address);

class UploadRun final : public QObject {
    Q_OBJECT

public:
    explicit UploadRun(QObject* parent = nullptr);
    ~UploadRun() override;

    TClientSocket* ClientSocket3 = nullptr; // port 25, non-blocking
    SmtpDialogue Smtp;
    WindowTimer* SmtpSilenceTimer = nullptr; // 60,000 ms of a silent server end an upload

    // Connects to the server; the address is sender and recipient. startedText is the
    // start's date and time as the history line shows it.
    void Start(const QString& server, const QString& address, const QString& startedText);
    bool Running() const noexcept { return Smtp.Running(); }
    // Ends the connection, or a lookup or connect under way (the window is closing).
    void Close();
    // The user's stop: closes the connection, or a lookup or connect under way, without a
    // result; only stopped() is reported. Nothing happens when no upload is going on.
    void Stop();

    std::int32_t RoundIndex() const noexcept { return m_roundIndex; }
    std::int32_t RoundBytes() const noexcept { return m_roundBytes; }
    const std::array<std::int32_t, 5>& RoundConnectTimes() const noexcept { return m_connectTimes; }
    const std::array<long double, 5>& RoundSpeeds() const noexcept { return m_speeds; }
    std::uint32_t RunStartTick() const noexcept { return m_runStartTick; }
    std::uint32_t ConnectTick() const noexcept { return m_connectTick; }
    std::uint32_t TransferStartTick() const noexcept { return m_transferStartTick; }
    std::uint32_t TransferEndTick() const noexcept { return m_transferEndTick; }

    // The socket's events and the silence timer.
    void ClientSocket3Connect(QObject* Sender, TCustomWinSocket* Socket);
    void ClientSocket3Read(QObject* Sender, TCustomWinSocket* Socket);
    void ClientSocket3Write(QObject* Sender, TCustomWinSocket* Socket);
    void ClientSocket3Disconnect(QObject* Sender, TCustomWinSocket* Socket);
    void SmtpSilenceTimerTimer();

signals:
    void statusChanged(const QString& text);
    // Text received as it came, and the dialogue's own lines.
    void logAppended(const QString& text);
    void finished(const UploadResult& result);
    // The connection never came up; the socket has reported why.
    void connectFailed();
    // Stop() ended the upload.
    void stopped();

private:
    void SocketError(TCustomWinSocket* Socket, bool connectFailed);
    void ApplyOutcome(const SmtpOutcome& outcome);
    void SendPending(TCustomWinSocket* Socket);
    void RestartSilenceTimer();

    std::uint32_t m_runStartTick = 0;
    std::uint32_t m_connectTick = 0;
    std::uint32_t m_transferStartTick = 0;
    std::uint32_t m_transferEndTick = 0;
    std::int64_t m_transferStartMicros = 0;
    std::int64_t m_transferEndMicros = 0;
    // When the last reply was read, before anything was done with it.
    std::uint32_t m_readTick = 0;
    std::int64_t m_readMicros = 0;
    std::int32_t m_roundIndex = 0;
    std::array<std::int32_t, 5> m_connectTimes{};
    std::array<long double, 5> m_speeds{};
    std::int32_t m_roundBytes = 0;
    QString m_startedText;
};
