#include "core/net/Psock.h"

#include "core/platform/WindowTimer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QIODevice>
#include <QNetworkInterface>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int kWouldBlock = 10035;
constexpr int kNotConnected = 10057;
constexpr std::size_t kMaxLine = 65536;
// A line read peeks this much first, doubling while no LF turns up: a header of many short
// lines then costs what it holds, not 64 KiB copied for each line.
constexpr std::size_t kFirstPeek = 256;
// While full chunks keep coming, the event loop gets a pass at least this often. A pass for
// every 64 KiB chunk cost a quarter of the speed on a fast line; every few milliseconds keeps
// the window as responsive as a screen can show.
constexpr qint64 kPassIntervalMs = 5;

struct ErrorText {
    int code;
    const char* text;
};

constexpr ErrorText kErrorTable[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
};

// inet_aton also takes "127.0.0.1 anything", ignoring what follows a blank: a name is an
// address only when it is one as a whole (one to four numbers, decimal, octal or hex).
bool DottedAddress(const std::string& name, in_addr& address) {
    return !name.empty() &&
           name.find_first_not_of("0123456789abcdefABCDEFxX.") == std::string::npos &&
           ::inet_aton(name.c_str(), &address) != 0;
}

// Errors that a socket notification would carry for an asynchronous connect, even when
// the kernel reports them at once.
bool IsConnectOutcome(int error) {
    return error == ECONNREFUSED || error == ETIMEDOUT || error == ENETUNREACH ||
           error == EHOSTUNREACH || error == ECONNRESET;
}

} // namespace

std::string SocketErrorStr(int code) {
    if (code == 0)
        return {};
    for (const auto& entry : kErrorTable) {
        if (entry.code == code)
            return std::to_string(code) + ":" + entry.text;
    }
    return "Unknown Error No. " + std::to_string(code);
}

TPowersock::TPowersock(QObject* parent)
    : QObject(parent) {
    StatusMessage(8, "Create");
    m_timer = new WindowTimer(this, 0);
    m_timer->OnTimer = [this] { TimerFired(); };
    m_readNotifier = new QSocketNotifier(QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(QSocketNotifier::Write, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &TPowersock::OnReadNotification);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &TPowersock::OnWriteNotification);
    StatusMessage(8, "Initializing Winsock");
    try {
        CreateSocket(AF_INET, true);
    } catch (const ESockError&) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

TPowersock::~TPowersock() {
    // Set first: the owner may be half destroyed, so no event may reach it any more.
    m_destroying = true;
    StatusMessage(8, "Destroy");
    TPowersock::Abort();
    m_timer->setEnabled(false);
    try {
        RequestCloseSocket();
    } catch (const std::exception&) {
    }
}

void TPowersock::CreateSocket(int domain, bool lingerOff) {
    const int fd = ::socket(domain, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        RaiseLastError();
    if (lingerOff) {
        // Closing the first socket resets its connection instead of lingering.
        const linger option{1, 0};
        if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option) != 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            RaiseLastError();
        }
    }
    m_socket = fd;
    m_socketDomain = domain;
    m_lingerOff = lingerOff;
    m_readNotifier->setSocket(fd);
    m_writeNotifier->setSocket(fd);
}

void TPowersock::StatusMessage(int level, const std::string& text) {
    m_status = text;
    if (ReportLevel >= level && !m_destroying && OnStatus) {
        try {
            OnStatus(this, text);
        } catch (...) {
        }
    }
}

std::string TPowersock::SocketErrorStr(int code) {
    StatusMessage(8, "Looking Up Error Message");
    return ::SocketErrorStr(code);
}

void TPowersock::ErrorManager(int ignore) {
    const int code = m_lastError;
    if (code == ignore || code <= 10000)
        return;
    const std::string text = SocketErrorStr(code);
    if (OnError)
        OnError(this, static_cast<std::uint16_t>(code), text);
    throw ESockError(text, SockFault::SocketError, code);
}

void TPowersock::RaiseLastError() {
    SetLastErrorNo(WinsockErrorFromErrno(errno));
    ErrorManager(0);
    throw ESockError(::SocketErrorStr(m_lastError), SockFault::SocketError, m_lastError);
}

void TPowersock::RequestCloseSocket() {
    StatusMessage(4, "Request Close Socket");
    m_connected = false;
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    int closeError = 0;
    if (m_socket >= 0 && ::close(m_socket) != 0 && errno != EINTR)
        closeError = errno;
    m_socket = -1;
    m_notifiedError = 0;
    if (m_destroying)
        return;
    // Always own a socket, even when the close failed, so the component stays usable.
    CreateSocket(m_socketDomain, false);
    if (closeError != 0) {
        errno = closeError;
        RaiseLastError();
    }
    if (OnDisconnect)
        OnDisconnect(this);
}

void TPowersock::ReplaceSocket(int domain) {
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    m_notifiedError = 0;
    // The first socket's reset-on-close goes to the one replacing it.
    CreateSocket(domain, m_lingerOff);
}

void TPowersock::Wait(Await what) {
    QEventLoop loop;
    QEventLoop* const outer = std::exchange(m_loop, &loop);
    m_woken = false;
    if (m_socket >= 0) {
        // A pass between chunks leaves the socket alone: the next receive sees what came.
        m_readNotifier->setEnabled(what == Await::Readable);
        m_writeNotifier->setEnabled(what == Await::Connect || what == Await::Writable);
    }
    if (what == Await::Pass)
        QTimer::singleShot(0, &loop, [this] { Wake(); });
    loop.exec();
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    m_loop = outer;
    if (!std::exchange(m_woken, false)) {
        // Ended from outside: the application is quitting, so give up like a cancel.
        m_cancel = true;
        m_lookupDone = true;
    }
}

void TPowersock::Wake() {
    if (m_loop) {
        m_woken = true;
        m_loop->exit(0);
    }
}

void TPowersock::OnReadNotification() {
    m_readNotifier->setEnabled(false);
    try {
        if (m_connected) {
            char byte = 0;
            const auto n = ::recv(m_socket, &byte, 1, MSG_PEEK);
            m_notificationOk = n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK;
            // The kernel reports a socket error once: keep it for the read that waits.
            if (!m_notificationOk)
                m_notifiedError = errno;
            // The peer closed and nothing is left to read: replace the socket now.
            if (n == 0)
                RequestCloseSocket();
        }
    } catch (...) {
    }
    Wake();
}

void TPowersock::OnWriteNotification() {
    m_writeNotifier->setEnabled(false);
    if (m_connecting) {
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        m_notificationOk = error == 0;
        if (error == 0) {
            m_connected = true;
            Wake();
            try {
                if (OnConnect)
                    OnConnect(this);
            } catch (...) {
            }
            return;
        }
        SetLastErrorNo(WinsockErrorFromErrno(error));
    }
    Wake();
}

void TPowersock::OnLookupResult(const LookupResult& result) {
    if (!m_lookupActive)
        return;
    m_lookupActive = false;
    m_lookupStatus = result.status;
    m_addresses = result.addresses;
    m_lookupFailed = m_addresses.empty();
    m_lookupDone = true;
    Wake();
}

void TPowersock::TimerOn() {
    StatusMessage(8, "Timer On");
    m_timedOut = false;
    // The time-out is a silence limit: each call starts a full interval again, also on a
    // timer that is running (enabling an enabled timer alone would leave it running on).
    m_timer->setEnabled(false);
    m_timer->setInterval(TimeOut);
    m_timer->setEnabled(true);
}

void TPowersock::TimerOff() {
    StatusMessage(8, "Timer Off");
    m_timer->setEnabled(false);
}

void TPowersock::TimerFired() {
    StatusMessage(8, "Timer Triggered");
    m_timer->setEnabled(false);
    m_timedOut = true;
    m_lookupDone = true;
    Abort();
}

void TPowersock::Cancel() {
    StatusMessage(8, "Canceling");
    m_cancel = true;
    Wake();
}

void TPowersock::Abort() {
    StatusMessage(8, "Abort");
    Cancel();
}

TPowersock::LookupEnd TPowersock::ResolveRemoteHost() {
    StatusMessage(8, "Resolve Host");
    const std::string& name = Proxy.empty() ? Host : Proxy;
    m_addresses.clear();
    m_lookupStatus = LookupStatus::Found;
    // A literal needs no lookup; one of the other family is a name without such an address.
    std::optional<SocketAddress> literal;
    if (in_addr dotted{}; DottedAddress(name, dotted))
        literal = SocketAddress::FromIpv4(dotted.s_addr);
    else
        literal = Ipv6Literal(name);
    if (literal) {
        if (Family == AddressFamily::Auto || literal->Family() == Family)
            m_addresses.push_back(*literal);
        else
            m_lookupStatus = LookupStatus::NoAddressOfFamily;
        return LookupEnd::Found;
    }
    TimerOn();
    m_lookupDone = false;
    m_lookupFailed = false;
    m_lookupActive = true;
    m_lookup.Start(name, Family, [this](const LookupResult& result) { OnLookupResult(result); });
    while (!m_lookupDone && !m_timedOut && !m_cancel)
        Wait(Await::Lookup);
    TimerOff();
    // Ended by the time-out or a cancel, the lookup runs on; its late answer is dropped.
    m_lookup.Cancel();
    m_lookupActive = false;
    if (m_timedOut)
        return LookupEnd::TimedOut;
    if (m_cancel)
        return LookupEnd::Canceled;
    if (m_lookupFailed)
        return LookupEnd::Failed;
    if (OnHostResolved)
        OnHostResolved(this);
    return LookupEnd::Found;
}

void TPowersock::Connect() {
    StatusMessage(8, "Connecting");
    m_cancel = false;
    if (m_connected)
        throw ESockError("Already connected");
    auto resolve = [this] {
        LookupEnd end = LookupEnd::Failed;
        try {
            end = ResolveRemoteHost();
        } catch (const ESockError&) {
            // A resolved-host handler that fails leaves the address unknown.
            m_addresses.clear();
        }
        if (end == LookupEnd::TimedOut)
            throw ESockError("Host Lookup Timed Out", SockFault::TimedOut);
        if (end == LookupEnd::Canceled)
            throw ESockError("Host Lookup Canceled");
        if (end == LookupEnd::Failed)
            m_addresses.clear();
        // An address of 0 would reach this machine's own services.
        std::erase_if(m_addresses, [](const SocketAddress& a) { return !a.IsSpecified(); });
    };
    resolve();
    if (m_addresses.empty()) {
        bool handled = false;
        if (OnInvalidHost)
            OnInvalidHost(handled);
        if (handled)
            resolve();
        if (m_addresses.empty()) {
            m_remote = SocketAddress::NoIpv4();
            SockFault fault = SockFault::Unresolved;
            if (m_lookupStatus == LookupStatus::NoAddressOfFamily)
                fault = Family == AddressFamily::Ipv6 ? SockFault::NoIpv6Address
                                                      : SockFault::NoIpv4Address;
            throw ESockError("Null Remote Address", fault);
        }
    }
    const auto port = static_cast<quint16>(Proxy.empty() ? Port : ProxyPort);

    Attempt attempt = Attempt::Failed;
    for (std::size_t i = 0; i < m_addresses.size(); ++i) {
        m_remote = m_addresses[i];
        m_remote.SetPort(port);
        // A socket that tried once cannot try again; one of the other family cannot at all.
        if (i > 0 || m_socketDomain != m_remote.Domain())
            ReplaceSocket(m_remote.Domain());
        attempt = ConnectOnce(i + 1 == m_addresses.size());
        if (attempt != Attempt::Failed)
            break;
    }
    if (attempt == Attempt::Connected)
        return;
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (attempt == Attempt::TimedOut)
        throw ESockError("Connection Timed out", SockFault::TimedOut);
    if (attempt == Attempt::Canceled)
        throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed", SockFault::ConnectFailed, m_lastError);
}

TPowersock::Attempt TPowersock::ConnectOnce(bool last) {
    m_lookupDone = false;
    m_notificationOk = true;
    if (::connect(m_socket, m_remote.Raw(), m_remote.length) != 0) {
        const int error = errno;
        if (IsConnectOutcome(error) || (!last && error != EINPROGRESS && error != EINTR)) {
            // Another address is left: whatever this one's trouble, that one may do.
            m_notificationOk = false;
            SetLastErrorNo(WinsockErrorFromErrno(error));
        } else if (error != EINPROGRESS && error != EINTR) {
            RaiseLastError();
        }
    }

    TimerOn();
    m_connecting = true;
    while (!m_connected && !m_timedOut && !m_cancel && m_notificationOk)
        Wait(Await::Connect);
    m_connecting = false;
    TimerOff();
    if (m_timedOut)
        return Attempt::TimedOut;
    if (m_cancel)
        return Attempt::Canceled;
    return m_notificationOk ? Attempt::Connected : Attempt::Failed;
}

void TPowersock::Disconnect() {
    StatusMessage(8, "Disconnecting");
    RequestCloseSocket();
}

void TPowersock::Write(const std::string& text) {
    StatusMessage(8, "Write");
    SendBuffer(text.data(), text.size());
}

void TPowersock::Writeln(const std::string& text) {
    StatusMessage(8, "Writeln");
    Write(text + "\r\n");
}

void TPowersock::SendBuffer(const char* data, std::size_t size) {
    StatusMessage(4, "Sending Buffer");
    TimerOn();
    auto off = qScopeGuard([this] { TimerOff(); });
    SendAll(data, size, false);
    RaiseIfCancelled("Socket send aborted");
}

void TPowersock::SendAll(const char* data, std::size_t size, bool pieceByPiece) {
    std::size_t sent = 0;
    while (!m_cancel && sent < size) {
        const auto n = ::send(m_socket, data + sent, size - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            if (pieceByPiece) {
                if (OnPacketSent)
                    OnPacketSent(this);
                Wait(Await::Pass);
            }
        } else if (n == 0) {
            break;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            Wait(Await::Writable);
        } else if (errno != EINTR) {
            RaiseLastError();
        }
    }
}

void TPowersock::RaiseIfCancelled(const char* message) {
    if (!m_cancel)
        return;
    m_cancel = false;
    throw EAbortError(message);
}

void TPowersock::SendFile(const std::string& name) {
    QFile file(QString::fromStdString(name));
    if (!file.open(QIODevice::ReadOnly))
        throw Exception("Cannot open file \"" + name + "\"");
    TimerOn();
    auto off = qScopeGuard([this] { TimerOff(); });
    std::vector<char> piece(m_buffer.size());
    while (!m_cancel) {
        const qint64 length = file.read(piece.data(), static_cast<qint64>(piece.size()));
        if (length < 0)
            throw Exception("Cannot read file \"" + name + "\"");
        if (length == 0)
            break;
        SendAll(piece.data(), static_cast<std::size_t>(length), true);
    }
    RaiseIfCancelled("Socket send aborted");
}

std::string TPowersock::ReadLn() {
    StatusMessage(8, "ReadLn");
    TimerOn();
    auto off = qScopeGuard([this] { TimerOff(); });
    std::string line;
    std::size_t window = kFirstPeek;
    for (;;) {
        RaiseIfCancelled("Socket readln aborted");
        const auto peeked = Receive(window, MSG_PEEK);
        if (peeked == 0)
            return {};
        if (peeked > 0) {
            const auto* lf = static_cast<const char*>(std::memchr(m_buffer.data(), '\n', peeked));
            const std::size_t take = lf ? static_cast<std::size_t>(lf - m_buffer.data()) + 1
                                        : static_cast<std::size_t>(peeked);
            if (line.size() + take > kMaxLine)
                CloseAndRaise("Header line too long");
            // The peeked bytes are waiting, so this takes exactly them and no more.
            const auto got = ::recv(m_socket, m_buffer.data(), take, 0);
            if (got < 0)
                RaiseLastError();
            line.append(m_buffer.data(), static_cast<std::size_t>(got));
            if (lf && static_cast<std::size_t>(got) == take)
                return line;
            window = std::min(window * 2, m_buffer.size());
            continue;
        }
        if (errno == EINTR)
            continue;
        SetLastErrorNo(WinsockErrorFromErrno(errno));
        if (m_lastError == kNotConnected)
            return {};
        if (m_lastError == kWouldBlock)
            Wait(Await::Readable);
        else
            ErrorManager(kWouldBlock);
    }
}

ssize_t TPowersock::Receive(std::size_t size, int flags) {
    if (m_notifiedError != 0) {
        errno = std::exchange(m_notifiedError, 0);
        return -1;
    }
    return ::recv(m_socket, m_buffer.data(), size, flags);
}

void TPowersock::CloseAndRaise(const std::string& message) {
    RequestCloseSocket();
    throw ESockError(message);
}

void TPowersock::Capture(const std::function<void(const char*, std::size_t)>& sink, qint64 limit,
                         std::size_t maxBytes, bool singleAttempt) {
    ReceivedBytes = 0;
    TimerOn();
    auto off = qScopeGuard([this] { TimerOff(); });
    qint64 taken = 0;
    bool attempted = false;
    QElapsedTimer sincePass;
    sincePass.start();
    while (!m_cancel && (limit < 0 || taken < limit) && !(singleAttempt && attempted)) {
        attempted = true;
        std::size_t want = m_buffer.size();
        if (limit >= 0)
            want = std::min<std::size_t>(want, static_cast<std::size_t>(limit - taken));
        const auto n = Receive(want, 0);
        if (n == 0)
            break;
        if (n > 0) {
            taken += n;
            if (maxBytes != 0 && static_cast<std::size_t>(taken) > maxBytes)
                CloseAndRaise("Reply body too large");
            sink(m_buffer.data(), static_cast<std::size_t>(n));
            // Wraps like the 32-bit counter it is.
            ReceivedBytes = static_cast<std::int32_t>(static_cast<std::uint32_t>(ReceivedBytes) +
                                                      static_cast<std::uint32_t>(n));
            if (OnPacketRecvd)
                OnPacketRecvd(this);
            TimerOn();
            // A full buffer means more is likely waiting: read on, with a pass of the event
            // loop now and then. A short read drained the socket: sleep until more arrives
            // (the wait runs the event loop too), instead of a receive that finds nothing.
            const bool full = static_cast<std::size_t>(n) == want;
            if (full && !singleAttempt && sincePass.elapsed() < kPassIntervalMs)
                continue;
            Wait(full || singleAttempt ? Await::Pass : Await::Readable);
            sincePass.start();
            continue;
        }
        if (errno == EINTR)
            continue;
        SetLastErrorNo(WinsockErrorFromErrno(errno));
        if (m_lastError == kNotConnected)
            break;
        if (m_lastError != kWouldBlock)
            ErrorManager(kWouldBlock);
        Wait(singleAttempt ? Await::Pass : Await::Readable);
        sincePass.start();
    }
}

void TPowersock::CaptureString(std::string& text, int limit) {
    CaptureStringBounded(text, limit, 0);
}

void TPowersock::CaptureStringBounded(std::string& text, int limit, std::size_t maxBytes) {
    StatusMessage(8, "Capture String");
    text.clear();
    Capture([&text](const char* data, std::size_t size) { text.append(data, size); }, limit,
            maxBytes, false);
    RaiseIfCancelled("Socket capture aborted");
}

void TPowersock::CaptureFile(const std::string& name) {
    StatusMessage(8, "CaptureFile");
    QFile file(QString::fromStdString(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Exception("Cannot create file \"" + name + "\"");
    Capture(
        [&file, &name](const char* data, std::size_t size) {
            if (file.write(data, static_cast<qint64>(size)) != static_cast<qint64>(size))
                throw Exception("Cannot write file \"" + name + "\"");
        },
        -1, 0, false);
    RaiseIfCancelled("Socket send aborted");
}

void TPowersock::CaptureStream(QIODevice& stream, int limit) {
    StatusMessage(8, "Capture Stream");
    Capture(
        [&stream](const char* data, std::size_t size) {
            if (stream.write(data, static_cast<qint64>(size)) != static_cast<qint64>(size))
                throw Exception("Cannot write to the stream");
        },
        limit, 0, limit < 0);
    RaiseIfCancelled("Socket capture aborted");
}

std::string TPowersock::Transaction(const std::string& command) {
    Writeln(command);
    const std::string reply = ReadLn();
    StatusMessage(1, reply);
    long long code = 0;
    for (std::size_t i = 0; i < reply.size() && i < 10 && reply[i] >= '0' && reply[i] <= '9'; ++i)
        code = code * 10 + (reply[i] - '0');
    ReplyCode = static_cast<std::int16_t>(static_cast<std::uint16_t>(code & 0xFFFF));
    return reply;
}

bool TPowersock::DataAvailable() {
    char byte = 0;
    return ::recv(m_socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

void TPowersock::ClearInput() {
    if (::recv(m_socket, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT) < 0 && errno != EAGAIN &&
        errno != EWOULDBLOCK) {
        RaiseLastError();
    }
}

std::string TPowersock::GetRemoteIP() const {
    return m_remote.Text();
}

std::string TPowersock::GetLocalIP() const {
    // The first IPv4 address of an interface that is up, preferring one that is not loopback.
    const auto first = [] {
        for (const QNetworkInterface& face : QNetworkInterface::allInterfaces()) {
            const auto flags = face.flags();
            if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack))
                continue;
            for (const QNetworkAddressEntry& entry : face.addressEntries()) {
                if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                    return entry.ip();
            }
        }
        return QHostAddress(QHostAddress::LocalHost);
    };
    const quint32 value = first().toIPv4Address();
    return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 0xFF) + "." +
           std::to_string((value >> 8) & 0xFF) + "." + std::to_string(value & 0xFF);
}
