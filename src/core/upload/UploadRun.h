// One SMTP upload over ClientSocket3, without a window: the dialogue, its timing, the
// silence time-out and the result.
#pragma once

#include "core/measure/TransferClock.h"
#include "core/net/AddressFamily.h"
#include "core/net/ErrorExplanation.h"
#include "core/upload/SmtpDialogue.h"

#include <QObject>
#include <QString>
#include <QTimer>
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
    // Where the mail went: the connection's family and the server's address (no brackets).
    AddressFamily family = AddressFamily::Ipv4;
    QString address;
    RunOutcome outcome;
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
    // A connect that takes longer ends the upload as timed out; 0 waits as long as the
    // socket does.
    int ConnectTimeoutMs = 0;
    // The window waits for the server to close after a refused reply; a job ends the
    // dialogue itself.
    bool CloseOnRefusal = false;

    // Connects to the server; the address is sender and recipient. startedText is the
    // start's date and time as the history line shows it.
    void Start(const QString& server, const QString& address, const QString& startedText);
    bool Running() const noexcept { return Smtp.Running(); }
    // Ends the connection, or a lookup or connect under way (the window is closing).
    void Close();
    // The user's stop: closes the connection, or a lookup or connect under way, without a
    // result; only stopped() is reported. Nothing happens when no upload is going on.
    void Stop();

    std::int32_t RoundBytes() const noexcept { return m_roundBytes; }
    const TransferClock& Clock() const noexcept { return m_clock; }
    // How the last upload ended, or why it is ending (Completed while nothing went wrong).
    const RunOutcome& Outcome() const noexcept { return m_outcome; }

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
    // The connection never came up; the socket reports its own message too.
    void connectFailed(const RunOutcome& outcome);
    // Stop() ended the upload.
    void stopped();

private:
    void SocketError(TCustomWinSocket* Socket, bool connectFailed, int code);
    void ConnectTimedOut();
    void ApplyOutcome(const SmtpOutcome& outcome);
    void SendPending(TCustomWinSocket* Socket);
    void RestartSilenceTimer();
    // The first reason given for the end is the one reported.
    void EndingBecause(RunOutcome outcome);

    TransferClock m_clock;
    // When the last reply was read, before anything was done with it.
    std::uint32_t m_readTick = 0;
    std::int64_t m_readMicros = 0;
    std::int32_t m_connectMs = 0;
    std::int32_t m_roundBytes = 0;
    RunOutcome m_outcome;
    QTimer m_connectTimer;
    QString m_startedText;
    AddressFamily m_connectedFamily = AddressFamily::Ipv4;
    QString m_connectedAddress;
};
