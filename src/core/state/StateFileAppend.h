// Appending one history line to qm1.dat from outside the window, every other byte kept.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

struct StateAppendResult {
    enum class Status {
        Appended,
        Unreadable, // the file exists but could not be read whole: it is left alone
        WriteFailed,
    };
    Status status = Status::Appended;
    QString reason;
    bool ok() const noexcept { return status == Status::Appended; }
};

// Empty when the state file is missing or reads whole (all 18 records); else why not.
// A file that reads only in part must never be rewritten: what could not be read would
// be lost.
QString StateFileUnreadableReason(const QString& path);

// The file's bytes with `line` added at the end of the history and, when the history
// then holds more than cap lines, its first line removed (at most one, as the window
// does). Nothing else changes: the other records, the layout values and the other
// lines keep their bytes. Empty, with *why set, when data does not read whole.
std::optional<std::string> AppendHistoryLine(std::string_view data, const QString& line, int cap,
                                             QString* why);

// Reads the file, appends and replaces it atomically, first removing the temporaries of
// killed saves as the window does. A missing file becomes a new one holding the initial
// state and this one line.
StateAppendResult AppendHistoryLineToFile(const QString& path, const QString& line, int cap);
