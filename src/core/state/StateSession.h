// The main window's hold on qm1.dat from its start to its close: the lock, the read at start
// and the saves, each reported as a value the window shows.
#pragma once

#include "core/state/StateFileCare.h"
#include "core/state/StateFileLock.h"

#include <functional>

struct StateOpen {
    StateLoad load;
    QString status; // for the status bar, empty when there is nothing to tell
    QString log;    // the same for standard error, with the reason
    // The snapshot holds what the file gave (all of it, or what came before the damage).
    bool Found() const noexcept { return load.read.status != StateReadResult::Status::Missing; }
};

struct StateSave {
    enum class Outcome {
        Saved,
        ReadOnly, // nothing written, nothing captured
        Failed,   // see write; nobody was asked, or nobody could answer any more
        GaveUp,   // the user said no to another try
    };
    Outcome outcome = Outcome::Saved;
    StateWriteResult write; // the last try's
    QString status;         // for the status bar, after a failed save
    QString log;            // for standard error, after a failed save
};

class StateSession final {
public:
    explicit StateSession(QString path = QString::fromLatin1(StateFileName));

    // The first open takes the lock before the read: what another holder appends later would
    // otherwise be overwritten by this window's older copy. A read-only session only reads; it
    // leaves a damaged file and the holder's temporaries alone.
    StateOpen Open(StateSnapshot& state, const QDateTime& now);
    // Another window or quillmet-cli has the file: nothing is written.
    bool ReadOnly() const noexcept { return m_readOnly; }

    // Writes what capture gives, anew for every try. After a failed write, retry (when given)
    // asks the user, unless nobody answers any more; a question SetUnattended() ended leaves
    // one more try.
    StateSave Save(const std::function<StateSnapshot()>& capture,
                   const std::function<bool(const QString& question)>& retry = {});
    // From now on no question is asked (the window closes for a termination signal).
    void SetUnattended() noexcept { m_unattended = true; }

private:
    QString m_path;
    StateFileLock m_lock;
    bool m_opened = false;
    bool m_readOnly = false;
    bool m_unattended = false;
};
