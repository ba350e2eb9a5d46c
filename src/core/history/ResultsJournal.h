// The results journal: every line test in full, one JSON object a line, in the user's data
// folder ("results.jsonl"), beside the history list of qm1.dat rather than in it.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

struct JournalAppend {
    enum class Status {
        Appended,
        FolderFailed, // the folder could not be made
        LockFailed,   // the lock file could not be opened or locked
        DiskFull,     // no room (or quota) for the line; the file is as it was
        WriteFailed,  // any other failure; the file is as it was
    };
    Status status = Status::Appended;
    QString message; // for the user, naming the file and the system's reason
    bool ok() const noexcept { return status == Status::Appended; }
};

struct JournalRead {
    QList<QJsonObject> records; // the older file's, then the current file's, in order
    int damaged = 0;            // lines that are no JSON object (a torn last line too)
    QString message;            // a file that exists but could not be read; empty otherwise
};

class ResultsJournal final {
public:
    static constexpr qint64 kRotateBytes = 10 * 1024 * 1024;

    // path: the journal; "<path>.1" holds the lines before the last rotation, and
    // "<path>.lock" is the lock that orders appends from every process.
    explicit ResultsJournal(QString path = DefaultPath(), qint64 rotateBytes = kRotateBytes);

    // $XDG_DATA_HOME/quillmet/results.jsonl
    static QString DefaultPath();

    QString Path() const { return m_path; }
    QString OlderPath() const { return m_path + QStringLiteral(".1"); }

    // Writes the record as one compact line at the end and flushes it to disk. A file that
    // would grow past the rotation size is first renamed to "<path>.1" (replacing the older
    // one) and the line starts a new file. Safe from the window and quillmet-cli at once.
    JournalAppend Append(const QJsonObject& record) const;
    JournalRead Read() const;

private:
    QString m_path;
    qint64 m_rotateBytes = kRotateBytes;
};
