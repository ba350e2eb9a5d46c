// TPowersock: a TCP client whose calls look blocking while the event loop keeps running.
#pragma once

#include "core/net/AddressFamily.h"
#include "core/net/SocketSupport.h"
#include "core/platform/Exceptions.h"

#include <QObject>
#include <QtGlobal>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class QEventLoop;
class QIODevice;
class QSocketNotifier;
class WindowTimer;

// What a socket failure was, for a caller that acts on it; the message is only shown.
// NoIpv4Address / NoIpv6Address: the name has addresses, none of the chosen family.
enum class SockFault {
    Other,
    SocketError,
    Unresolved,
    TimedOut,
    ConnectFailed,
    CutShort,
    NoIpv4Address,
    NoIpv6Address
};

// A socket failure; the message is one of the component's own texts.
class ESockError : public Exception {
public:
    explicit ESockError(std::string message, SockFault fault = SockFault::Other, int code = 0)
        : Exception(std::move(message))
        , m_fault(fault)
        , m_code(code) {}
    const char* ClassName() const noexcept override { return "ESockError"; }
    SockFault Fault() const noexcept { return m_fault; }
    // The socket error number of a SocketError, 0 otherwise.
    int Code() const noexcept { return m_code; }

private:
    SockFault m_fault = SockFault::Other;
    int m_code = 0;
};

// A transfer ended by a cancel or the time-out.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
    const char* ClassName() const noexcept override { return "EAbortError"; }
};

// "code:message" from the socket error table, "Unknown Error No. code", or empty for 0.
std::string SocketErrorStr(int code);

class TPowersock : public QObject {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(QObject* Sender)>;
    using THandlerEvent = std::function<void(bool& Handled)>;
    using TOnStatus = std::function<void(QObject* Sender, const std::string& Status)>;
    using TOnErrorEvent =
        std::function<void(QObject* Sender, std::uint16_t Errno, const std::string& Errmsg)>;

    explicit TPowersock(QObject* parent = nullptr);
    ~TPowersock() override;
    TPowersock(const TPowersock&) = delete;
    TPowersock& operator=(const TPowersock&) = delete;

    std::string Host;
    int Port = 0;
    // Ipv4 unless asked: the first IPv4 address of the reply, as always.
    AddressFamily Family = AddressFamily::Ipv4;
    int TimeOut = 0;     // milliseconds per operation; 0: never times out
    int ReportLevel = 0; // status messages up to this level reach OnStatus
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnect;
    THandlerEvent OnInvalidHost;
    TNotifyEvent OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;

    std::string Proxy; // resolved and connected to instead of Host when not empty
    int ProxyPort = 0;
    std::int32_t ContentLength = 0;
    std::int32_t ReceivedBytes = 0;
    std::int16_t ReplyCode = 0;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnPacketSent;
    TOnErrorEvent OnError;

    virtual void Connect();
    virtual void Disconnect();
    virtual std::string Transaction(const std::string& command);
    virtual void Abort();
    // Makes the current (or next) wait end with its cancel exception.
    void Cancel();

    // Send every byte (NULs too), waiting with the event loop running while the socket is full.
    void Write(const std::string& text);
    void Writeln(const std::string& text);
    void SendFile(const std::string& name);
    // One line with its line end; nothing past the LF is consumed. Empty when the peer closed.
    std::string ReadLn();
    // Appends received data until the peer closes (limit -1) or text holds limit bytes.
    void CaptureString(std::string& text, int limit);
    void CaptureFile(const std::string& name);
    void CaptureStream(QIODevice& stream, int limit);
    bool DataAvailable();
    void ClearInput();
    // The address connected to (or being tried), IPv4 dotted or IPv6 without brackets.
    std::string GetRemoteIP() const;
    // The family of that address: Ipv4 or Ipv6.
    AddressFamily ConnectedFamily() const noexcept { return m_remote.Family(); }
    std::string GetLocalIP() const;

    bool Connected() const noexcept { return m_connected; }
    const std::string& Status() const noexcept { return m_status; }
    int GetLastErrorNo() const noexcept { return m_lastError; }
    void SetLastErrorNo(int error) noexcept { m_lastError = error; }
    void StatusMessage(int level, const std::string& text);
    std::string SocketErrorStr(int code);

protected:
    void RequestCloseSocket();
    // Raises the error text of the last error unless it is `ignore` or not a socket error.
    void ErrorManager(int ignore);
    // CaptureString that refuses a text growing past maxBytes (0: no bound).
    void CaptureStringBounded(std::string& text, int limit, std::size_t maxBytes);
    void TimerOn();
    void TimerOff();
    void SetLookupDone() noexcept { m_lookupDone = true; }
    // Closes (and replaces) the socket first, then raises ESockError with the message.
    [[noreturn]] void CloseAndRaise(const std::string& message);

private:
    enum class Await { Lookup, Connect, Readable, Writable, Pass };

    void TimerFired();
    enum class LookupEnd { Found, TimedOut, Canceled, Failed };
    LookupEnd ResolveRemoteHost();
    void CreateSocket(int domain, bool lingerOff);
    // A fresh socket for the next address, quietly: no disconnect event.
    void ReplaceSocket(int domain);
    enum class Attempt { Connected, TimedOut, Canceled, Failed };
    // One connect to m_remote; last tells whether a failure of the call itself may raise.
    Attempt ConnectOnce(bool last);
    // Raises the error text for the current errno.
    [[noreturn]] void RaiseLastError();
    // Sends all bytes; waits (with the event loop running) while the socket is full.
    void SendBuffer(const char* data, std::size_t size);
    // The send loop behind SendBuffer and SendFile; pieceByPiece reports each piece sent
    // and lets the event loop run between pieces.
    void SendAll(const char* data, std::size_t size, bool pieceByPiece);
    // A cancel seen is used up: the transfer raises EAbortError with the message.
    void RaiseIfCancelled(const char* message);
    // Runs a nested event loop until a socket notification, the lookup result, the
    // time-out or a cancel wakes it; Pass returns after one round of pending events.
    // A loop ended from outside (the application quitting) counts as a cancel.
    void Wait(Await what);
    void Wake();
    void OnReadNotification();
    void OnWriteNotification();
    void OnLookupResult(const LookupResult& result);
    // recv into the receive buffer; an error seen by a notification comes first.
    ssize_t Receive(std::size_t size, int flags);
    // The receive loop behind the three captures; singleAttempt makes one receive only.
    void Capture(const std::function<void(const char*, std::size_t)>& sink, qint64 limit,
                 std::size_t maxBytes, bool singleAttempt);

    int m_socket = -1;
    int m_socketDomain = AF_INET;
    bool m_lingerOff = false;
    SocketAddress m_remote = SocketAddress::NoIpv4();
    std::vector<SocketAddress> m_addresses; // to try in this order
    LookupStatus m_lookupStatus = LookupStatus::Found;
    AddressLookup m_lookup{this};
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    WindowTimer* m_timer = nullptr;
    QEventLoop* m_loop = nullptr;
    bool m_woken = false;
    bool m_lookupActive = false;
    bool m_connecting = false;
    int m_notifiedError = 0;
    bool m_lookupFailed = false;
    std::array<char, 65536> m_buffer{};

    bool m_connected = false;
    bool m_cancel = false;
    bool m_timedOut = false;
    bool m_lookupDone = false;
    bool m_destroying = false;
    bool m_notificationOk = true;
    int m_lastError = 0;
    std::string m_status;
};
