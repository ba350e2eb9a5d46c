// Errors that escape an event handler leave the base through one sink the program installs.
#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <utility>

// Receives the message of every exception that escaped a handler run from the event loop.
using EventErrorSink = std::function<void(const QString& message)>;

// The window installs the message-box report, a command-line tool one that writes to
// standard error. Without a sink the message goes to standard error.
void SetEventErrorSink(EventErrorSink sink);

// Hands a message to the installed sink; a sink that throws falls back to standard error.
void ReportEventError(const QString& message);
void ReportEventError(const std::exception& e);
void ReportUnknownEventError();

// Runs a handler entered from the event loop; whatever it throws is reported, and the
// program goes on.
template <typename F>
void Guarded(F&& handler) noexcept {
    try {
        std::forward<F>(handler)();
    } catch (const std::exception& e) {
        ReportEventError(e);
    } catch (...) {
        ReportUnknownEventError();
    }
}
