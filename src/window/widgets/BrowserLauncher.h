// Hands a URL to the desktop's web browser.
// Not QProcess: startDetached() gives no exit status, so an opener failing at once (exit code 3,
// a signal) would pass unseen; a QProcess kept for finished() kills the opener when it goes.
#pragma once

#include "core/platform/Exceptions.h"

#include <QString>

// The browser could not be given the page.
class EBrowserError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EBrowserError"; }
};

// Starts the opener with the URL as its single argument: xdg-open, or the program named by
// the environment variable QM_BROWSER_OPENER when that is set and not empty. Returns once the
// opener has exited successfully, or once it is still running after OpenerExitWaitMs() (it is
// then showing the page itself); the page is never waited for. The opener runs in a session of
// its own and outlives the program.
// Throws EBrowserError when the opener is missing, cannot start, or exits with a failure.
void HandUrlToBrowser(const QString& url);

// HandUrlToBrowser, reporting a failure as one message box: "EBrowserError" + " " + message.
void OpenUrlInBrowser(const QString& url);

// How long the opener's exit status is awaited (2000 ms); the event loop runs meanwhile,
// user input held back.
int OpenerExitWaitMs();
void SetOpenerExitWaitMs(int ms);
