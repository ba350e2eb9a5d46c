// The checks a download start makes on the URL, with the texts the user is shown.
#pragma once

#include <QString>

struct DownloadStartCheck {
    enum class Refusal { None, Empty, NotHttp, NotJpeg, ControlCharacter };
    Refusal refusal = Refusal::None;
    QString statusText;  // for the status bar; empty when the status stays
    QString messageText; // for a message box; empty when none is shown

    bool Passed() const noexcept { return refusal == Refusal::None; }
};

// Empty, not beginning with exactly "http://", not ending in a lower-case "g", or holding a
// control character refuses the URL, in that order.
DownloadStartCheck CheckDownloadUrl(const QString& url);
