// Replacing a file's contents so that a crash or a full disk leaves the old contents whole.
// Not QSaveFile: that ignores a failed fsync and never syncs the directory after the rename.
#pragma once

#include <QString>
#include <chrono>
#include <string_view>

// Writes `data` to a new file beside `path`, flushes it to disk and renames it over `path`.
// When `path` is a symbolic link, the file it names is the one replaced (beside that file).
// Returns an empty text on success, else "<path>: <the system's reason>"; the old file then
// stays as it was and no new file is left behind.
QString WriteFileAtomically(const QString& path, std::string_view data);

// A rename or a new file is only durable once its directory is on disk too. A failure here
// loses nothing, so it is not reported.
void SyncDirectoryOf(const QString& path);

// Removes the temporaries a killed write left beside `path`: regular files named
// "<name>.tmp-" and 1 to 8 lower-case hex digits, unchanged for longer than `age` (a write
// still under way keeps touching its own). Nothing else is touched. Returns how many went.
int RemoveStaleTemporaries(const QString& path, std::chrono::seconds age);
