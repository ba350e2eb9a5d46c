#include "core/net/SocketSupport.h"

#include <QHostAddress>
#include <QHostInfo>
#include <algorithm>
#include <cerrno>

namespace {
// Winsock numbers the BSD socket errors from 10000.
struct CodePair {
    int code;
    int err;
};
constexpr CodePair kCodes[] = {
    {10004, EINTR},           {10009, EBADF},        {10013, EACCES},
    {10013, EPERM},           {10014, EFAULT},       {10022, EINVAL},
    {10024, EMFILE},          {10024, ENFILE},       {10035, EWOULDBLOCK},
    {10035, EAGAIN},          {10036, EINPROGRESS},  {10037, EALREADY},
    {10038, ENOTSOCK},        {10039, EDESTADDRREQ}, {10040, EMSGSIZE},
    {10041, EPROTOTYPE},      {10042, ENOPROTOOPT},  {10043, EPROTONOSUPPORT},
    {10044, ESOCKTNOSUPPORT}, {10045, EOPNOTSUPP},   {10046, EPFNOSUPPORT},
    {10047, EAFNOSUPPORT},    {10048, EADDRINUSE},   {10049, EADDRNOTAVAIL},
    {10050, ENETDOWN},        {10051, ENETUNREACH},  {10052, ENETRESET},
    {10053, ECONNABORTED},    {10054, ECONNRESET},   {10054, EPIPE},
    {10055, ENOBUFS},         {10055, ENOMEM},       {10056, EISCONN},
    {10057, ENOTCONN},        {10058, ESHUTDOWN},    {10059, ETOOMANYREFS},
    {10060, ETIMEDOUT},       {10061, ECONNREFUSED}, {10062, ELOOP},
    {10063, ENAMETOOLONG},    {10064, EHOSTDOWN},    {10065, EHOSTUNREACH},
    {10066, ENOTEMPTY},       {10068, EUSERS},       {10069, EDQUOT},
    {10070, ESTALE},          {10071, EREMOTE},
};
} // namespace

int WinsockErrorFromErrno(int error) {
    if (error == 0)
        return 0;
    for (const auto& pair : kCodes) {
        if (pair.err == error)
            return pair.code;
    }
    return kUnknownErrnoBase + error;
}

int ErrnoFromWinsockError(int code) {
    for (const auto& pair : kCodes) {
        if (pair.code == code)
            return pair.err;
    }
    return code > kUnknownErrnoBase ? code - kUnknownErrnoBase : 0;
}

quint32 FirstIPv4(const QHostInfo& info) {
    for (const QHostAddress& address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address.toIPv4Address();
    }
    return 0;
}

bool SameText(const std::string& a, const std::string& b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}
