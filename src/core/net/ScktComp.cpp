#include "core/net/ScktComp.h"

#include "core/net/SocketSupport.h"
#include "core/platform/EventErrors.h"

#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kWouldBlock = 10035;
constexpr int kAddrNotAvail = 10049;
constexpr int kHostNotFound = 11001;
constexpr int kTryAgain = 11002;
constexpr int kNoData = 11004;

const char* const kInUse = "使用中のソケットは値を変更できません";

std::string SocketErrorText(int code) {
    // The resolver's codes are h_errno values above 11000.
    if (code >= kHostNotFound && code <= kNoData)
        return hstrerror(code - 11000);
    const int err = ErrnoFromWinsockError(code);
    return std::strerror(err != 0 ? err : code);
}

[[noreturn]] void RaiseSocketCallError(int code, const char* op) {
    throw ESocketError("'" + std::string(op) + "' API でWindows ソケットエラー: " +
                       SocketErrorText(code) + " (" + std::to_string(code) + ")");
}

SocketAddress EmptyAddress() {
    return SocketAddress::NoIpv4();
}

// The resolver's answer as the socket error number the lookup reports.
int LookupErrorCode(LookupStatus status) {
    switch (status) {
    case LookupStatus::Found:
        break;
    case LookupStatus::NoSuchHost:
        return kHostNotFound;
    case LookupStatus::NoAddressOfFamily:
        return kNoData;
    case LookupStatus::Failed:
        return kTryAgain;
    }
    return kNoData;
}

int HandleDomain(int handle) {
    int domain = AF_UNSPEC;
    socklen_t length = sizeof domain;
    return ::getsockopt(handle, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 ? domain : AF_UNSPEC;
}

// The addresses to try: Ipv4 takes the first as the reply gives it, the others each in turn.
std::vector<SocketAddress> Candidates(const LookupResult& result) {
    std::vector<SocketAddress> kept;
    for (const SocketAddress& a : result.addresses) {
        if (a.IsSpecified())
            kept.push_back(a);
    }
    return kept;
}

} // namespace

// ---------------------------------------------------------------- TCustomWinSocket

TCustomWinSocket::TCustomWinSocket(QObject* parent)
    : QObject(parent)
    , m_remote(EmptyAddress()) {}

TCustomWinSocket::~TCustomWinSocket() {
    CancelLookup();
    if (m_handle >= 0)
        CloseHandle(false);
}

void TCustomWinSocket::Event(TSocketEvent event) {
    if (OnSocketEvent)
        OnSocketEvent(this, event);
}

void TCustomWinSocket::Error(TErrorEvent event, int& code) {
    if (OnErrorEvent)
        OnErrorEvent(this, event, code);
}

void TCustomWinSocket::OpenConnection(const std::string& host, const std::string& address,
                                      const std::string& service, int port, bool block,
                                      AddressFamily family) {
    if (m_connected)
        throw ESocketError("ソケットは既に開かれています");
    // Inside our own disconnect event the handle is still there: nothing to open.
    if (m_dropping)
        return;
    // A lookup or connect still under way: a second handle would orphan it.
    if (m_handle >= 0)
        throw ESocketError("ソケットは既に開かれています");

    const int fd = ::socket(family == AddressFamily::Ipv6 ? AF_INET6 : AF_INET,
                            SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        throw ESocketError("新しいソケットを作成できません");
    ResetState();
    m_handle = fd;
    m_family = family;
    m_lastLookup = LookupStatus::Found;
    ++m_generation;
    const unsigned generation = m_generation;

    try {
        Event(seLookup);
        if (m_generation != generation || m_handle < 0)
            return;
        if (block) {
            OpenBlocking(host, address, service, port);
            return;
        }
    } catch (...) {
        if (m_generation == generation)
            DropConnection();
        throw;
    }
    AsyncInitSocket(host, address, service, port, true);
}

void TCustomWinSocket::OpenBlocking(const std::string& host, const std::string& address,
                                    const std::string& service, int port) {
    if (!host.empty()) {
        const LookupResult found = LookUpAddresses(host, m_family);
        m_lastLookup = found.status;
        m_candidates = Candidates(found);
        if (!m_candidates.empty())
            m_remote = m_candidates.front();
    } else if (!address.empty()) {
        m_remote = LiteralAddress(address);
    } else {
        throw ESocketError("アドレスが指定されていません");
    }
    if (!service.empty()) {
        const servent* entry = getservbyname(service.c_str(), "tcp");
        m_remote.SetPort(entry ? ntohs(static_cast<in_port_t>(entry->s_port)) : 0);
    } else {
        m_remote.SetPort(static_cast<quint16>(port));
    }

    const unsigned generation = m_generation;
    Event(seConnecting);
    if (m_generation != generation || m_handle < 0)
        return;
    // An unresolved name leaves address 0, which would reach this machine's own services.
    if (!m_remote.IsSpecified())
        RaiseSocketCallError(kAddrNotAvail, "connect");
    for (bool first = true;; first = false) {
        if (!first || HandleDomain(m_handle) != m_remote.Domain())
            RenewHandle(m_remote.Domain());
        if (::connect(m_handle, m_remote.Raw(), m_remote.length) == 0)
            break;
        const int err = errno;
        if (m_candidate + 1 >= m_candidates.size())
            RaiseSocketCallError(WinsockErrorFromErrno(err), "connect");
        const quint16 next = m_remote.Port();
        m_remote = m_candidates[++m_candidate];
        m_remote.SetPort(next);
    }
    m_lookupState = lsIdle;
    m_connected = true;
    Event(seConnect);
}

SocketAddress TCustomWinSocket::LiteralAddress(const std::string& address) const {
    // IPv4 as inet_addr reads it; an address of no use stays 0 and is refused at the connect.
    if (m_family != AddressFamily::Ipv4) {
        if (const auto v6 = Ipv6Literal(address))
            return *v6;
        if (m_family == AddressFamily::Ipv6)
            return EmptyAddress();
    }
    return SocketAddress::FromIpv4(inet_addr(address.c_str()));
}

void TCustomWinSocket::RenewHandle(int domain) {
    const int fd = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        RaiseSocketCallError(WinsockErrorFromErrno(errno), "socket");
    const int moved = ::dup3(fd, m_handle, O_CLOEXEC);
    const int err = errno;
    ::close(fd);
    if (moved < 0)
        RaiseSocketCallError(WinsockErrorFromErrno(err), "socket");
}

bool TCustomWinSocket::TryNextAddress() {
    if (m_handle < 0 || m_candidate + 1 >= m_candidates.size())
        return false;
    const quint16 port = m_remote.Port();
    m_remote = m_candidates[++m_candidate];
    m_remote.SetPort(port);
    ReleaseNotifiers();
    m_connecting = false;
    m_connectError = 0;
    try {
        RenewHandle(m_remote.Domain());
        DoOpen(false);
    } catch (...) {
        DropConnection();
        throw;
    }
    return true;
}

void TCustomWinSocket::AsyncInitSocket(const std::string& name, const std::string& address,
                                       const std::string& service, int port, bool client) {
    try {
        switch (m_lookupState) {
        case lsIdle:
            if (!name.empty()) {
                m_lookupState = lsLookupAddress;
                m_savedService = service;
                m_savedPort = port;
                m_savedClient = client;
                StartHostLookup(name);
                return;
            }
            if (address.empty())
                throw ESocketError("アドレスが指定されていません");
            m_remote = LiteralAddress(address);
            m_lookupState = lsLookupAddress;
            [[fallthrough]];
        case lsLookupAddress:
            if (!service.empty()) {
                m_lookupState = lsLookupService;
                m_savedPort = port;
                m_savedClient = client;
                StartServiceLookup(service);
                return;
            }
            m_remote.SetPort(static_cast<quint16>(port));
            m_lookupState = lsLookupService;
            [[fallthrough]];
        case lsLookupService:
            m_lookupState = lsIdle;
            DoOpen();
            break;
        }
    } catch (...) {
        DropConnection();
        throw;
    }
}

void TCustomWinSocket::DoOpen(bool announce) {
    // The handle was made before the address was known; a connect needs the address's family.
    if (HandleDomain(m_handle) != m_remote.Domain())
        RenewHandle(m_remote.Domain());
    const int flags = ::fcntl(m_handle, F_GETFL);
    if (flags < 0 || ::fcntl(m_handle, F_SETFL, flags | O_NONBLOCK) < 0)
        RaiseSocketCallError(WinsockErrorFromErrno(errno), "WSAAsyncSelect");
    m_readNotifier = new QSocketNotifier(m_handle, QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(m_handle, QSocketNotifier::Write, this);
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &TCustomWinSocket::OnReadReady);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &TCustomWinSocket::OnWriteReady);

    const unsigned generation = m_generation;
    if (announce)
        Event(seConnecting);
    if (m_generation != generation || m_handle < 0)
        return;
    if (::connect(m_handle, m_remote.Raw(), m_remote.length) < 0) {
        const int err = errno;
        // With another address left, any failure here means trying that one.
        const bool more = m_candidate + 1 < m_candidates.size();
        if (err == ECONNREFUSED || err == ETIMEDOUT ||
            (more && err != EINPROGRESS && err != EWOULDBLOCK && err != EINTR)) {
            // Loopback may refuse at once; the outcome of a connect is still a notification.
            m_connectError = WinsockErrorFromErrno(err);
            Post([this, generation]() {
                if (m_generation != generation || !m_connecting)
                    return;
                m_connecting = false;
                HandleNotification(Note::Connect, m_connectError);
            });
        } else if (err != EINPROGRESS && err != EWOULDBLOCK && err != EINTR) {
            RaiseSocketCallError(WinsockErrorFromErrno(err), "connect");
        }
    }
    m_connecting = true;
    m_lookupState = lsIdle;
    UpdateNotifiers();
}

void TCustomWinSocket::StartHostLookup(const std::string& name) {
    m_lookup = Lookup::Host;
    m_lookupId = ++m_lookupSeq;
    const int id = m_lookupId;
    m_hostLookup.Start(name, m_family, [this, id](const LookupResult& result) {
        Deliver([this, id, result]() { HostLookupDone(id, result); });
    });
}

void TCustomWinSocket::StartServiceLookup(const std::string& service) {
    // The services file answers at once; the answer still comes as a completion so
    // that the lookup keeps its order with the other events.
    m_lookup = Lookup::Service;
    m_lookupId = ++m_lookupSeq;
    const int id = m_lookupId;
    Post([this, id, service]() { ServiceLookupDone(id, service); });
}

void TCustomWinSocket::HostLookupDone(int id, const LookupResult& result) {
    if (m_lookup != Lookup::Host || id != m_lookupId)
        return;
    m_lookup = Lookup::None;
    m_lastLookup = result.status;
    m_candidates = Candidates(result);
    if (m_candidates.empty()) {
        DropConnection();
        RaiseSocketCallError(LookupErrorCode(result.status == LookupStatus::Found
                                                 ? LookupStatus::NoAddressOfFamily
                                                 : result.status),
                             "ASync Lookup");
    }
    m_remote = m_candidates.front();
    AsyncInitSocket({}, {}, m_savedService, m_savedPort, m_savedClient);
}

void TCustomWinSocket::ServiceLookupDone(int id, const std::string& service) {
    if (m_lookup != Lookup::Service || id != m_lookupId)
        return;
    m_lookup = Lookup::None;
    const servent* entry = getservbyname(service.c_str(), "tcp");
    if (!entry) {
        DropConnection();
        RaiseSocketCallError(kNoData, "ASync Lookup");
    }
    m_remote.SetPort(ntohs(static_cast<in_port_t>(entry->s_port)));
    m_savedPort = 0;
    m_savedService.clear();
    AsyncInitSocket({}, {}, {}, 0, m_savedClient);
}

void TCustomWinSocket::CancelLookup() {
    if (m_lookup == Lookup::Host)
        m_hostLookup.Cancel();
    m_lookup = Lookup::None;
}

void TCustomWinSocket::DropConnection() {
    if (m_dropping)
        return;
    CancelLookup();
    if (m_handle < 0)
        return;
    m_dropping = true;
    QPointer<TCustomWinSocket> self(this);
    try {
        Event(seDisconnect);
    } catch (...) {
        if (self)
            CloseHandle(false);
        throw;
    }
    if (self)
        CloseHandle(true);
}

void TCustomWinSocket::CloseHandle(bool raise) {
    const int fd = m_handle;
    ReleaseNotifiers();
    const int result = ::close(fd);
    const int err = errno;
    ResetState();
    if (raise && result < 0 && err != EINTR)
        RaiseSocketCallError(WinsockErrorFromErrno(err), "closesocket");
}

void TCustomWinSocket::ResetState() {
    m_handle = -1;
    m_remote = EmptyAddress();
    m_candidates.clear();
    m_candidate = 0;
    m_connected = false;
    m_connecting = false;
    m_connectError = 0;
    m_readArmed = false;
    m_writeArmed = false;
    m_firstWritePending = false;
    m_closeSeen = false;
    m_dropping = false;
    m_lookupState = lsIdle;
}

void TCustomWinSocket::ReleaseNotifiers() {
    // We may be inside one of their own signals: let the loop delete them.
    for (QSocketNotifier** notifier : {&m_readNotifier, &m_writeNotifier}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->disconnect(this);
            (*notifier)->setParent(nullptr);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
}

void TCustomWinSocket::UpdateNotifiers() {
    if (!m_readNotifier || !m_writeNotifier)
        return;
    const bool open = !m_dispatching && m_handle >= 0 && !m_closeSeen;
    const bool write = m_connecting ? m_connectError == 0 : m_connected && m_writeArmed;
    m_readNotifier->setEnabled(open && m_connected && m_readArmed && !m_firstWritePending);
    m_writeNotifier->setEnabled(open && write);
}

void TCustomWinSocket::OnReadReady() {
    if (m_dispatching || m_handle < 0 || !m_connected || !m_readArmed || m_closeSeen) {
        UpdateNotifiers();
        return;
    }
    // Data waiting is a read; end of stream or an error is the close. Like the
    // read notification, the close is only seen once the data has been taken.
    char probe;
    const ssize_t n = ::recv(m_handle, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        m_readArmed = false;
        Deliver([this]() { HandleNotification(Note::Read, 0); });
        return;
    }
    const int err = errno;
    if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK || err == EINTR))
        return;
    m_closeSeen = true;
    const int code = n == 0 ? 0 : WinsockErrorFromErrno(err);
    Deliver([this, code]() { HandleNotification(Note::Close, code); });
}

void TCustomWinSocket::OnWriteReady() {
    if (m_dispatching || m_handle < 0 || m_closeSeen) {
        UpdateNotifiers();
        return;
    }
    if (m_connecting) {
        int err = 0;
        socklen_t length = sizeof err;
        if (::getsockopt(m_handle, SOL_SOCKET, SO_ERROR, &err, &length) < 0)
            err = errno;
        m_connecting = false;
        const int code = err == 0 ? 0 : WinsockErrorFromErrno(err);
        Deliver([this, code]() { HandleNotification(Note::Connect, code); });
        return;
    }
    if (!m_connected || !m_writeArmed) {
        UpdateNotifiers();
        return;
    }
    m_writeArmed = false;
    Deliver([this]() { HandleNotification(Note::Write, 0); });
}

void TCustomWinSocket::HandleNotification(Note note, int code) {
    if (code != 0) {
        TErrorEvent kind = eeGeneral;
        switch (note) {
        case Note::Read:
            kind = eeReceive;
            break;
        case Note::Write:
            kind = eeSend;
            break;
        case Note::Connect:
            kind = eeConnect;
            if (TryNextAddress())
                return;
            // Nothing can be done with the handle of a failed connect; closing it
            // fires no disconnect event, and the next activation starts afresh.
            CloseHandle(false);
            break;
        case Note::Close:
            kind = eeDisconnect;
            break;
        }
        int errorCode = code;
        Error(kind, errorCode);
        if (errorCode != 0)
            throw ESocketError("非同期ソケットエラー " + std::to_string(errorCode));
        return;
    }
    switch (note) {
    case Note::Read:
        Event(seRead);
        break;
    case Note::Write:
        m_firstWritePending = false;
        Event(seWrite);
        break;
    case Note::Connect:
        m_connected = true;
        m_readArmed = true;
        m_writeArmed = true; // the socket can send at once: the write event follows
        m_firstWritePending = true;
        Event(seConnect);
        break;
    case Note::Close:
        DropConnection();
        break;
    }
}

void TCustomWinSocket::Deliver(std::function<void()> work) {
    // One notification at a time: while a handler runs (even a nested event loop
    // inside it) the others wait.
    if (m_dispatching) {
        m_deferred.push_back(std::move(work));
        return;
    }
    QPointer<TCustomWinSocket> self(this);
    m_dispatching = true;
    UpdateNotifiers();
    Guarded(work);
    if (!self)
        return;
    m_dispatching = false;
    if (!m_deferred.empty()) {
        auto next = std::move(m_deferred.front());
        m_deferred.pop_front();
        Deliver(std::move(next));
        if (!self)
            return;
    }
    UpdateNotifiers();
}

void TCustomWinSocket::Post(std::function<void()> work) {
    QMetaObject::invokeMethod(
        this, [this, work = std::move(work)]() { Deliver(work); }, Qt::QueuedConnection);
}

int TCustomWinSocket::SendBytes(const void* buffer, int count) {
    if (!m_connected || m_handle < 0 || !buffer || count <= 0)
        return 0;
    const ssize_t n = ::send(m_handle, buffer, static_cast<std::size_t>(count), MSG_NOSIGNAL);
    if (n < 0) {
        int code = WinsockErrorFromErrno(errno);
        if (code == kWouldBlock) {
            m_writeArmed = true;
            UpdateNotifiers();
            return -1;
        }
        Error(eeSend, code);
        DropConnection();
        if (code != 0)
            RaiseSocketCallError(code, "send");
        return -1;
    }
    // What was not taken is the caller's; tell it when there is room again.
    if (n < count) {
        m_writeArmed = true;
        UpdateNotifiers();
    }
    return static_cast<int>(n);
}

int TCustomWinSocket::SendString(const std::string& text) {
    const std::size_t size = std::min<std::size_t>(text.size(), INT_MAX);
    return SendBytes(text.data(), static_cast<int>(size));
}

int TCustomWinSocket::ReceiveBytes(void* buffer, int count) {
    if (!m_connected || m_handle < 0)
        return 0;
    if (count == -1) {
        int waiting = 0;
        if (::ioctl(m_handle, FIONREAD, &waiting) < 0)
            RaiseSocketCallError(WinsockErrorFromErrno(errno), "ioctlsocket");
        return waiting;
    }
    if (!buffer || count < 0)
        return 0;
    const ssize_t n = ::recv(m_handle, buffer, static_cast<std::size_t>(count), 0);
    const int err = errno;
    // Reading lets the next read (or the close) be noticed.
    m_readArmed = true;
    UpdateNotifiers();
    if (n < 0) {
        int code = WinsockErrorFromErrno(err);
        if (code == kWouldBlock)
            return -1;
        Error(eeReceive, code);
        DropConnection();
        if (code != 0)
            RaiseSocketCallError(code, "recv");
        return -1;
    }
    return static_cast<int>(n);
}

std::string TCustomWinSocket::ReceiveString() {
    const int waiting = ReceiveBytes(nullptr, -1);
    if (waiting <= 0)
        return {};
    std::string text(static_cast<std::size_t>(waiting), '\0');
    const int received = ReceiveBytes(text.data(), waiting);
    if (received <= 0)
        return {};
    text.resize(static_cast<std::size_t>(received));
    return text;
}

std::string TCustomWinSocket::LocalHostName() {
    if (m_handle < 0)
        return {};
    char name[257] = {};
    if (::gethostname(name, 256) != 0)
        return {};
    return name;
}

namespace {
SocketAddress LocalAddress(int handle) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) < 0)
        return {};
    return SocketAddress::FromRaw(reinterpret_cast<const sockaddr*>(&address), length);
}

SocketAddress PeerAddress(int handle) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(handle, reinterpret_cast<sockaddr*>(&address), &length) < 0)
        RaiseSocketCallError(WinsockErrorFromErrno(errno), "getpeername");
    return SocketAddress::FromRaw(reinterpret_cast<const sockaddr*>(&address), length);
}
} // namespace

std::string TCustomWinSocket::LocalAddressText() {
    if (m_handle < 0)
        return {};
    const SocketAddress address = LocalAddress(m_handle);
    return address.length == 0 ? std::string() : address.Text();
}

int TCustomWinSocket::LocalPortNumber() {
    if (m_handle < 0)
        return -1;
    const SocketAddress address = LocalAddress(m_handle);
    return address.length == 0 ? -1 : address.Port();
}

std::string TCustomWinSocket::RemoteHostName() {
    if (!m_connected || m_handle < 0)
        return {};
    const SocketAddress address = PeerAddress(m_handle);
    char name[NI_MAXHOST] = {};
    if (address.length == 0 || ::getnameinfo(address.Raw(), address.length, name, sizeof name,
                                             nullptr, 0, NI_NAMEREQD) != 0)
        return {};
    return name;
}

std::string TCustomWinSocket::RemoteAddressText() {
    if (!m_connected || m_handle < 0)
        return {};
    const SocketAddress address = PeerAddress(m_handle);
    return address.length == 0 ? std::string() : address.Text();
}

int TCustomWinSocket::RemotePortNumber() {
    if (!m_connected || m_handle < 0)
        return 0;
    return PeerAddress(m_handle).Port();
}

// ---------------------------------------------------------------- TClientWinSocket

void TClientWinSocket::setClientType(TClientType value) {
    if (value == m_clientType)
        return;
    if (Connected())
        throw ESocketError(kInUse);
    m_clientType = value;
}

// ---------------------------------------------------------------- TClientSocket

TClientSocket::TClientSocket(QObject* parent)
    : QObject(parent)
    , m_socket(std::make_unique<TClientWinSocket>()) {
    m_socket->OnSocketEvent = [this](TCustomWinSocket* socket, TSocketEvent event) {
        SocketEvent(socket, event);
    };
    m_socket->OnErrorEvent = [this](TCustomWinSocket* socket, TErrorEvent event, int& code) {
        SocketError(socket, event, code);
    };
}

TClientSocket::~TClientSocket() {
    m_socket->OnSocketEvent = nullptr;
    m_socket->OnErrorEvent = nullptr;
}

void TClientSocket::setActive(bool value) {
    if (value == m_active)
        return;
    const bool connected = m_socket->Connected();
    if (value == connected)
        return;
    if (connected)
        m_socket->DropConnection();
    else
        m_socket->OpenConnection(m_host, m_address, m_service, m_port,
                                 m_socket->ClientType() == ctBlocking, m_family);
}

void TClientSocket::CheckNotActive() const {
    if (m_active)
        throw ESocketError(kInUse);
}

void TClientSocket::setAddress(const std::string& value) {
    if (SameText(value, m_address))
        return;
    CheckNotActive();
    m_address = value;
}

TClientType TClientSocket::ClientType() const noexcept {
    return m_socket->ClientType();
}

void TClientSocket::setClientType(TClientType value) {
    m_socket->setClientType(value);
}

void TClientSocket::setHost(const std::string& value) {
    if (SameText(value, m_host))
        return;
    CheckNotActive();
    m_host = value;
}

void TClientSocket::setPort(int value) {
    if (value == m_port)
        return;
    CheckNotActive();
    m_port = value;
}

void TClientSocket::setService(const std::string& value) {
    if (SameText(value, m_service))
        return;
    CheckNotActive();
    m_service = value;
}

void TClientSocket::setFamily(AddressFamily value) {
    if (value == m_family)
        return;
    CheckNotActive();
    m_family = value;
}

void TClientSocket::SocketEvent(TCustomWinSocket* socket, TSocketEvent event) {
    const auto fire = [this, socket](const TSocketNotifyEvent& handler) {
        if (handler)
            handler(this, socket);
    };
    switch (event) {
    case seLookup:
        fire(OnLookup);
        break;
    case seConnecting:
        fire(OnConnecting);
        break;
    case seConnect:
        m_active = true;
        fire(OnConnect);
        break;
    case seDisconnect:
        m_active = false;
        fire(OnDisconnect);
        break;
    case seListen:
        m_active = true;
        break;
    case seAccept:
        break;
    case seWrite:
        fire(OnWrite);
        break;
    case seRead:
        fire(OnRead);
        break;
    }
}

void TClientSocket::SocketError(TCustomWinSocket* socket, TErrorEvent event, int& code) {
    if (OnError)
        OnError(this, socket, event, code);
}
