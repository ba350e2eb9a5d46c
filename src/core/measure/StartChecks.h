// The checks a download start makes on the URL, with the texts the user is shown.
#pragma once

#include "core/net/AddressFamily.h"

#include <QString>

struct DownloadStartCheck {
    enum class Refusal {
        None,
        Empty,
        NotHttp,
        NotJpeg,
        ControlCharacter,
        UserInfo,
        NoHost,
        BadIpv6Literal,
        BadPort
    };
    Refusal refusal = Refusal::None;
    QString statusText;  // for the status bar; empty when the status stays
    QString messageText; // for a message box; empty when none is shown

    bool Passed() const noexcept { return refusal == Refusal::None; }
};

// Empty, not beginning with exactly "http://", not ending in a lower-case "g", or holding a
// control character refuses the URL, in that order; then a host part the client cannot use:
// a user name or password, a bracket that holds no IPv6 address, no host, a port that is not
// 1 to 65535.
DownloadStartCheck CheckDownloadUrl(const QString& url);

// The family a download of url connects with: an IPv6 literal names its family itself,
// whatever was chosen; any other host the chosen one.
AddressFamily DownloadFamily(const QString& url, AddressFamily chosen);
