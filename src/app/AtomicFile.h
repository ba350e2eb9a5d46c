// Replacing a file's contents so that a crash or a full disk leaves the old contents whole.
#pragma once

#include <QString>
#include <string_view>

// Writes `data` to a new file beside `path`, flushes it to disk and renames it over `path`.
// Returns an empty text on success, else "<path>: <the system's reason>"; the old file then
// stays as it was and no new file is left behind.
QString WriteFileAtomically(const QString& path, std::string_view data);
