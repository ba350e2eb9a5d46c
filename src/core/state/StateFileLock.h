// Who may write qm1.dat: an advisory lock on "qm1.dat.lock" beside it.
#pragma once

#include <QString>
#include <functional>

// qm1.dat itself is replaced by a rename on every save, so it cannot carry a lock; the
// lock file beside it is created once and never removed. Two byte ranges of it are
// locked with open-file-description locks (released when the descriptor closes, also
// by a crash):
//  - byte 0, "open": a window holds it exclusively from start to close; a history
//    appender holds it shared, so appenders never keep each other out, but neither
//    gets it while a window has it, and a window does not get it while either runs;
//  - byte 1, "writer": appenders take it exclusively, one after the other;
//  - byte 2, "journal": whoever appends to a journal beside its own lock file takes it
//    exclusively for that one write. Bytes 0 and 1 are held for a whole window's or a whole
//    quillmet-cli run's time; this one is not tied to them, so either may append at any time,
//    and a process that holds them appends through a lock object of its own.
class StateFileLock final {
public:
    enum class Outcome {
        Acquired,
        Held,   // for an appender: a window has qm1.dat; for a window: anyone has it
        Failed, // the lock file could not be opened or locked; see Reason()
    };

    // statePath: the state file, e.g. "qm1.dat"; the lock file is statePath + ".lock".
    explicit StateFileLock(QString statePath);
    ~StateFileLock();
    StateFileLock(const StateFileLock&) = delete;
    StateFileLock& operator=(const StateFileLock&) = delete;

    // For the window: the open lock, exclusively, without waiting.
    Outcome LockForWindow();
    // For an appender: the open lock shared, without waiting; then the writer lock,
    // waiting for an appender that holds it. onWait is called once before such a wait.
    Outcome LockForAppender(const std::function<void()>& onWait = {});

    // For a journal append or read: the journal lock, waiting for the one write that holds it.
    Outcome LockForJournal();

    bool Locked() const noexcept { return m_held; }
    void Release();

    QString LockPath() const { return m_lockPath; }
    // What went wrong, for Outcome::Failed.
    QString Reason() const { return m_reason; }

private:
    enum class Mode { Shared, Exclusive, ExclusiveWait };
    static constexpr int kOpenByte = 0;
    static constexpr int kWriterByte = 1;
    static constexpr int kJournalByte = 2;

    bool open();
    Outcome lockRange(int byte, Mode mode);

    QString m_lockPath;
    QString m_reason;
    int m_fd = -1;
    bool m_held = false;
};
