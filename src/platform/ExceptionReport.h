// The standard exception report: no exception ever crosses the event loop.
#pragma once

#include <exception>
#include <utility>

// Shows the exception's message in a message box; the program goes on.
void ShowException(const std::exception& e);
void ShowUnknownException();

// Runs a handler entered from the event loop; whatever it throws is reported.
template <typename F>
void Guarded(F&& handler) noexcept {
    try {
        std::forward<F>(handler)();
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowUnknownException();
    }
}
