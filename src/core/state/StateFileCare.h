// What the window does about qm1.dat when it cannot be read: nothing the user had may be
// lost, and the user hears of it without a box.
#pragma once

#include "core/state/StateFile.h"

#include <QDateTime>
#include <QString>

// Renames a file the reader could not read whole to "<path>.damaged-<yyyymmdd-hhmmss>"
// ("-2", "-3", ... after it when that name is taken; an existing file is never replaced).
// Returns the new path, or an empty text and the system's reason in *error.
QString KeepDamagedFile(const QString& path, const QDateTime& when, QString* error);

// Removes the temporaries of saves that were killed beside the state file: those unchanged
// for a minute, which no save under way ever is. The window does it at start, the command
// line before it appends. Returns how many went.
int RemoveKilledSaveTemporaries(const QString& path);

struct StateLoad {
    StateReadResult read;
    QString keptAs;    // where a damaged file went
    QString keepError; // why a damaged file stayed where it was
    int staleTemporaries = 0;
};

// The window's read at start: removes the temporaries of saves that were killed (older
// than a minute), reads the file into the state and moves a damaged file out of the way
// before any save can replace it.
StateLoad LoadStateFile(const QString& path, StateSnapshot& state, const QDateTime& now);

// The status bar text that tells the user about the load; empty when all is well.
QString StateLoadNotice(const StateLoad& load);
