// Asynchronous TCP client socket: lookup, connect, data and close arrive as events
// on the GUI thread, one at a time.
#pragma once

#include "core/net/AddressFamily.h"
#include "core/platform/Exceptions.h"

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <vector>

class QSocketNotifier;

enum TClientType { ctNonBlocking, ctBlocking };
enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept };
enum TSocketEvent {
    seLookup,
    seConnecting,
    seConnect,
    seDisconnect,
    seListen,
    seAccept,
    seWrite,
    seRead
};
enum TLookupState { lsIdle, lsLookupAddress, lsLookupService };

class ESocketError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "ESocketError"; }
};

class TCustomWinSocket;
using TSocketNotifyEvent = std::function<void(QObject* Sender, TCustomWinSocket* Socket)>;
using TSocketErrorEvent = std::function<void(QObject* Sender, TCustomWinSocket* Socket,
                                             TErrorEvent ErrorEvent, int& ErrorCode)>;

// One TCP connection with its handle, lookup state and readiness notifications.
class TCustomWinSocket : public QObject {
    Q_OBJECT

public:
    explicit TCustomWinSocket(QObject* parent = nullptr);
    // Closes a live handle quietly: no event reaches an owner that is going away.
    ~TCustomWinSocket() override;

    // Creates a handle and starts the lookup and the connect; non-blocking returns at once.
    // Ipv4 takes the first IPv4 address; Ipv6 and Auto try each address of theirs in turn.
    void OpenConnection(const std::string& host, const std::string& address,
                        const std::string& service, int port, bool block,
                        AddressFamily family = AddressFamily::Ipv4);
    // The disconnect event fires first, while the handle is still open and connected.
    void DropConnection();

    // Not connected: 0. Otherwise one send call: bytes accepted, or -1 when it would block.
    int SendBytes(const void* buffer, int count);
    int SendString(const std::string& text);
    // count -1: bytes waiting. Otherwise one receive call: bytes received, 0 when the
    // peer has closed, -1 when nothing is waiting.
    int ReceiveBytes(void* buffer, int count);
    std::string ReceiveString();

    std::string LocalHostName();
    std::string LocalAddressText();
    int LocalPortNumber();
    std::string RemoteHostName();
    // IPv4 dotted or IPv6 without brackets.
    std::string RemoteAddressText();
    int RemotePortNumber();
    // The family of the address connected to (or being tried): Ipv4 or Ipv6.
    AddressFamily ConnectedFamily() const noexcept { return m_remote.Family(); }
    // How the last host lookup ended; NoAddressOfFamily tells a name without an address of
    // the chosen family from one that does not exist.
    LookupStatus LastLookup() const noexcept { return m_lastLookup; }

    bool Connected() const noexcept { return m_connected; }
    int SocketHandle() const noexcept { return m_handle; }
    // The address being connected to; port and address in network order. The IPv4 view of
    // RemoteStorage(); its port is right for either family.
    const sockaddr_in& RemoteAddr() const noexcept {
        return reinterpret_cast<const sockaddr_in&>(m_remote.storage);
    }
    const SocketAddress& RemoteStorage() const noexcept { return m_remote; }
    TLookupState LookupState() const noexcept { return m_lookupState; }

    // Links to the owning component.
    std::function<void(TCustomWinSocket* Socket, TSocketEvent SocketEvent)> OnSocketEvent;
    std::function<void(TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode)>
        OnErrorEvent;

private:
    enum class Note { Read, Write, Connect, Close };
    enum class Lookup { None, Host, Service };

    void Event(TSocketEvent event);
    void Error(TErrorEvent event, int& code);

    void OpenBlocking(const std::string& host, const std::string& address,
                      const std::string& service, int port);
    void AsyncInitSocket(const std::string& name, const std::string& address,
                         const std::string& service, int port, bool client);
    void DoOpen(bool announce = true);
    void StartHostLookup(const std::string& name);
    void StartServiceLookup(const std::string& service);
    void HostLookupDone(int id, const LookupResult& result);
    // The literal text of the Address property in the chosen family; none when it is not one.
    SocketAddress LiteralAddress(const std::string& address) const;
    // A new handle of the domain under the same number, so owners keep the handle they saw.
    void RenewHandle(int domain);
    // After a failed connect: the next address, if one is left.
    bool TryNextAddress();
    void ServiceLookupDone(int id, const std::string& service);
    void CancelLookup();
    void CloseHandle(bool raise);
    void ResetState();

    void OnReadReady();
    void OnWriteReady();
    void HandleNotification(Note note, int code);
    void Deliver(std::function<void()> work);
    void Post(std::function<void()> work);
    void UpdateNotifiers();
    void ReleaseNotifiers();

    int m_handle = -1;
    unsigned m_generation = 0; // tells posted work which handle it was meant for
    bool m_connected = false;
    bool m_connecting = false;
    int m_connectError = 0; // a connect that failed at once, reported as its notification
    bool m_readArmed = false;
    bool m_writeArmed = false;
    bool m_firstWritePending = false;
    bool m_closeSeen = false;
    bool m_dispatching = false;
    bool m_dropping = false;
    SocketAddress m_remote = SocketAddress::NoIpv4();
    AddressFamily m_family = AddressFamily::Ipv4;
    std::vector<SocketAddress> m_candidates; // the addresses to try, m_remote the current one
    std::size_t m_candidate = 0;
    LookupStatus m_lastLookup = LookupStatus::Found;
    AddressLookup m_hostLookup{this};

    TLookupState m_lookupState = lsIdle;
    Lookup m_lookup = Lookup::None;
    int m_lookupId = 0;
    int m_lookupSeq = 0; // numbers host and service lookups alike
    std::string m_savedService;
    int m_savedPort = 0;
    bool m_savedClient = false;

    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    std::deque<std::function<void()>> m_deferred;
};

class TClientWinSocket final : public TCustomWinSocket {
    Q_OBJECT

public:
    using TCustomWinSocket::TCustomWinSocket;

    TClientType ClientType() const noexcept { return m_clientType; }
    // Another value while connected raises "使用中のソケットは値を変更できません".
    void setClientType(TClientType value);

private:
    TClientType m_clientType = ctNonBlocking;
};

// The component: connection properties, Active, and the events of its socket object.
class TClientSocket final : public QObject {
    Q_OBJECT

public:
    explicit TClientSocket(QObject* parent = nullptr);
    ~TClientSocket() override;

    // True from the connect event to the disconnect event.
    bool Active() const noexcept { return m_active; }
    void setActive(bool value);
    void Activate() { setActive(true); }
    void Deactivate() { setActive(false); }

    // Setting another value while Active raises "使用中のソケットは値を変更できません".
    const std::string& Address() const noexcept { return m_address; }
    void setAddress(const std::string& value);
    TClientType ClientType() const noexcept;
    void setClientType(TClientType value);
    const std::string& Host() const noexcept { return m_host; }
    void setHost(const std::string& value);
    int Port() const noexcept { return m_port; }
    void setPort(int value);
    const std::string& Service() const noexcept { return m_service; }
    void setService(const std::string& value);
    // Which addresses of the host to use; Ipv4 unless set.
    AddressFamily Family() const noexcept { return m_family; }
    void setFamily(AddressFamily value);

    TClientWinSocket* Socket() const noexcept { return m_socket.get(); }

    TSocketNotifyEvent OnLookup;
    TSocketNotifyEvent OnConnecting;
    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnDisconnect;
    TSocketNotifyEvent OnRead;
    TSocketNotifyEvent OnWrite;
    TSocketErrorEvent OnError;

private:
    void SocketEvent(TCustomWinSocket* socket, TSocketEvent event);
    void SocketError(TCustomWinSocket* socket, TErrorEvent event, int& code);
    void CheckNotActive() const;

    std::unique_ptr<TClientWinSocket> m_socket;
    bool m_active = false;
    std::string m_address;
    std::string m_host;
    std::string m_service;
    int m_port = 0;
    AddressFamily m_family = AddressFamily::Ipv4;
};
