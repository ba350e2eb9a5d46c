// SIGTERM, SIGINT and SIGHUP delivered on the GUI thread.
#pragma once

#include <functional>

// Installs handlers that call onSignal from the event loop (never from the signal
// handler itself). Call once, after the application object exists.
void InstallTerminationSignals(std::function<void(int signal)> onSignal);
