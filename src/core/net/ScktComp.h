// Asynchronous TCP client socket: lookup, connect, data and close arrive as events
// on the GUI thread, one at a time.
#pragma once

#include "core/platform/Exceptions.h"

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>

class QHostInfo;
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
    void OpenConnection(const std::string& host, const std::string& address,
                        const std::string& service, int port, bool block);
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
    std::string RemoteAddressText();
    int RemotePortNumber();

    bool Connected() const noexcept { return m_connected; }
    int SocketHandle() const noexcept { return m_handle; }
    // The address being connected to; port and address in network order.
    const sockaddr_in& RemoteAddr() const noexcept { return m_remote; }
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
    void DoOpen();
    void StartHostLookup(const std::string& name);
    void StartServiceLookup(const std::string& service);
    void HostLookupDone(int id, const QHostInfo& info);
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
    sockaddr_in m_remote{};

    TLookupState m_lookupState = lsIdle;
    Lookup m_lookup = Lookup::None;
    int m_lookupId = 0;
    int m_serviceLookupSeq = 0;
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
};
