// Which address family a connection uses, the addresses a name stands for, and a lookup that
// answers through the event loop.
#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <vector>

class QObject;

// Ipv4: the A records only, and of those the first. Ipv6: the AAAA records only. Auto: every
// address in the system's order (getaddrinfo sorts by RFC 6724), the next one tried when a
// connect fails.
enum class AddressFamily { Ipv4, Ipv6, Auto };

// "ipv4", "ipv6", "auto", as settings files and options spell them.
const char* AddressFamilyName(AddressFamily family);
std::optional<AddressFamily> AddressFamilyFromName(std::string_view name);

// One IPv4 or IPv6 address with a port, as connect() takes it.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    // The unspecified IPv4 address 0.0.0.0: what a socket knows before a lookup.
    static SocketAddress NoIpv4();
    // An IPv4 address in network byte order.
    static SocketAddress FromIpv4(quint32 networkOrder);
    // What getpeername()/getsockname() wrote; none for another family.
    static SocketAddress FromRaw(const sockaddr* raw, socklen_t size);

    int Domain() const noexcept { return storage.ss_family; }
    // Ipv4 or Ipv6.
    AddressFamily Family() const noexcept;
    const sockaddr* Raw() const noexcept { return reinterpret_cast<const sockaddr*>(&storage); }
    // "127.0.0.1", "::1", "fe80::1%eth0"; IPv6 without brackets.
    std::string Text() const;
    // Host byte order.
    quint16 Port() const noexcept;
    void SetPort(quint16 port) noexcept;
    // A usable destination: not 0.0.0.0 nor ::.
    bool IsSpecified() const noexcept;
    bool SameAddress(const SocketAddress& other) const noexcept;
};

enum class LookupStatus { Found, NoSuchHost, NoAddressOfFamily, Failed };

struct LookupResult {
    LookupStatus status = LookupStatus::Failed;
    std::vector<SocketAddress> addresses; // of the chosen family, in the system's order
};

// An IPv6 literal as a whole ("::1", "fe80::1%eth0"; no brackets); none for anything else.
std::optional<SocketAddress> Ipv6Literal(const std::string& name);

// Blocks. A name with addresses, but none of the chosen family, is NoAddressOfFamily.
LookupResult LookUpAddresses(const std::string& name, AddressFamily family);

// LookUpAddresses on a thread of its own. The answer comes on the receiver's thread through
// its event loop, never after Cancel() or the destruction of this object.
class AddressLookup final {
public:
    using Done = std::function<void(const LookupResult&)>;

    explicit AddressLookup(QObject* receiver)
        : m_receiver(receiver) {}
    ~AddressLookup() { Cancel(); }
    AddressLookup(const AddressLookup&) = delete;
    AddressLookup& operator=(const AddressLookup&) = delete;

    // Cancels a lookup still under way first.
    void Start(const std::string& name, AddressFamily family, Done done);
    void Cancel();

private:
    struct Pending;
    QObject* m_receiver = nullptr;
    std::shared_ptr<Pending> m_pending;
};
