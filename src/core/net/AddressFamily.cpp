#include "core/net/AddressFamily.h"

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QUrl>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <thread>

namespace {

constexpr std::pair<AddressFamily, const char*> kNames[] = {
    {AddressFamily::Ipv4, "ipv4"}, {AddressFamily::Ipv6, "ipv6"}, {AddressFamily::Auto, "auto"}};

int DomainOf(AddressFamily family) {
    switch (family) {
    case AddressFamily::Ipv4:
        return AF_INET;
    case AddressFamily::Ipv6:
        return AF_INET6;
    case AddressFamily::Auto:
        break;
    }
    return AF_UNSPEC;
}

// getaddrinfo's answer for one domain; false when the name has no address there.
bool Query(const std::string& name, int domain, int flags, std::vector<SocketAddress>* found,
           int* error) {
    addrinfo hints{};
    hints.ai_family = domain;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    *error = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (*error != 0)
        return false;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        const SocketAddress address = SocketAddress::FromRaw(a->ai_addr, a->ai_addrlen);
        if (address.length == 0)
            continue;
        // A name listed twice in the hosts file is still one address to try.
        if (std::none_of(found->begin(), found->end(),
                         [&](const SocketAddress& s) { return s.SameAddress(address); }))
            found->push_back(address);
    }
    ::freeaddrinfo(list);
    return !found->empty();
}

} // namespace

const char* AddressFamilyName(AddressFamily family) {
    for (const auto& [value, name] : kNames) {
        if (value == family)
            return name;
    }
    return "ipv4";
}

std::optional<AddressFamily> AddressFamilyFromName(std::string_view name) {
    for (const auto& [value, text] : kNames) {
        if (name == text)
            return value;
    }
    return std::nullopt;
}

SocketAddress SocketAddress::NoIpv4() {
    return FromIpv4(0);
}

SocketAddress SocketAddress::FromIpv4(quint32 networkOrder) {
    SocketAddress a;
    auto* in = reinterpret_cast<sockaddr_in*>(&a.storage);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = networkOrder;
    a.length = sizeof(sockaddr_in);
    return a;
}

SocketAddress SocketAddress::FromRaw(const sockaddr* raw, socklen_t size) {
    SocketAddress a;
    if (!raw || size > socklen_t(sizeof a.storage) ||
        (raw->sa_family == AF_INET && size < socklen_t(sizeof(sockaddr_in))) ||
        (raw->sa_family == AF_INET6 && size < socklen_t(sizeof(sockaddr_in6))) ||
        (raw->sa_family != AF_INET && raw->sa_family != AF_INET6))
        return a;
    std::memcpy(&a.storage, raw, size);
    a.length = size;
    return a;
}

AddressFamily SocketAddress::Family() const noexcept {
    return Domain() == AF_INET6 ? AddressFamily::Ipv6 : AddressFamily::Ipv4;
}

std::string SocketAddress::Text() const {
    char text[NI_MAXHOST] = {};
    if (Domain() == AF_INET6) {
        if (::getnameinfo(Raw(), length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
            return {};
        return text;
    }
    const auto* in = reinterpret_cast<const sockaddr_in*>(&storage);
    return ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) ? text : "";
}

quint16 SocketAddress::Port() const noexcept {
    // sin_port and sin6_port share their place.
    return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

void SocketAddress::SetPort(quint16 port) noexcept {
    reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(port);
}

bool SocketAddress::IsSpecified() const noexcept {
    if (Domain() == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
        return !IN6_IS_ADDR_UNSPECIFIED(&in6->sin6_addr);
    }
    return Domain() == AF_INET &&
           reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr != INADDR_ANY;
}

bool SocketAddress::SameAddress(const SocketAddress& other) const noexcept {
    return length == other.length && std::memcmp(&storage, &other.storage, length) == 0;
}

std::optional<SocketAddress> Ipv6Literal(const std::string& name) {
    if (name.find(':') == std::string::npos)
        return std::nullopt;
    std::vector<SocketAddress> found;
    int error = 0;
    // Numeric only: answers at once, and takes a scope ("%eth0") that inet_pton would not.
    if (!Query(name, AF_INET6, AI_NUMERICHOST, &found, &error))
        return std::nullopt;
    return found.front();
}

LookupResult LookUpAddresses(const std::string& name, AddressFamily family) {
    LookupResult result;
    // International names go to the resolver in their ASCII form, as every resolver wants.
    std::string ascii = name;
    if (!Ipv6Literal(name)) {
        ascii = QUrl::toAce(QString::fromStdString(name)).toStdString();
        if (ascii.empty() || ascii.size() != std::strlen(ascii.c_str())) {
            result.status = LookupStatus::NoSuchHost;
            return result;
        }
    }
    int error = 0;
    if (Query(ascii, DomainOf(family), 0, &result.addresses, &error)) {
        if (family == AddressFamily::Ipv4)
            result.addresses.resize(1); // the first address of the reply
        result.status = LookupStatus::Found;
        return result;
    }
    const bool noName = error == 0 || error == EAI_NONAME || error == EAI_NODATA ||
                        error == EAI_ADDRFAMILY || error == EAI_FAMILY;
    result.status = noName ? LookupStatus::NoSuchHost : LookupStatus::Failed;
    // A name with addresses of the other family only is told apart from no name at all (the
    // query of one family may also end with the name server's silence after the hosts file).
    std::vector<SocketAddress> any;
    if (family != AddressFamily::Auto && Query(ascii, AF_UNSPEC, 0, &any, &error))
        result.status = LookupStatus::NoAddressOfFamily;
    return result;
}

struct AddressLookup::Pending {
    std::mutex mutex;
    QObject* receiver = nullptr;
};

void AddressLookup::Start(const std::string& name, AddressFamily family, Done done) {
    Cancel();
    auto pending = std::make_shared<Pending>();
    pending->receiver = m_receiver;
    m_pending = pending;
    std::thread([pending, name, family, done = std::move(done)]() mutable {
        LookupResult result = LookUpAddresses(name, family);
        // Held while posting: the receiver cannot go away in between (Cancel waits here),
        // and Qt drops what was posted to an object that is destroyed later.
        const std::lock_guard lock(pending->mutex);
        if (!pending->receiver)
            return;
        QMetaObject::invokeMethod(
            pending->receiver,
            [pending, result = std::move(result), done = std::move(done)] {
                {
                    const std::lock_guard inner(pending->mutex);
                    if (!pending->receiver)
                        return;
                    pending->receiver = nullptr;
                }
                done(result);
            },
            Qt::QueuedConnection);
    }).detach();
}

void AddressLookup::Cancel() {
    if (!m_pending)
        return;
    {
        const std::lock_guard lock(m_pending->mutex);
        m_pending->receiver = nullptr;
    }
    m_pending.reset();
}
