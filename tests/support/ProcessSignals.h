// What a child process has done with its signals, read from /proc.
#pragma once

#include <QtGlobal>

// True once the process has installed a handler for the signal (its SigCgt mask).
bool CatchesSignal(qint64 pid, int signal);
