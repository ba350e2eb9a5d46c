#include "core/state/StateFileLock.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

StateFileLock::StateFileLock(QString statePath)
    : m_lockPath(std::move(statePath) + QStringLiteral(".lock")) {}

StateFileLock::~StateFileLock() {
    Release();
}

void StateFileLock::Release() {
    // Closing the descriptor drops every lock taken through it.
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_held = false;
}

bool StateFileLock::open() {
    if (m_fd >= 0)
        return true;
    // Close-on-exec: a program the window starts (the browser) must not keep the lock. No
    // following a link: a lock named by a dangling link would create the file it names.
    m_fd = ::open(QFile::encodeName(m_lockPath).constData(),
                  O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (m_fd < 0) {
        m_reason = m_lockPath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

StateFileLock::Outcome StateFileLock::LockForWindow() {
    return lockRange(kOpenByte, Mode::Exclusive);
}

StateFileLock::Outcome StateFileLock::LockForAppender(const std::function<void()>& onWait) {
    const Outcome open = lockRange(kOpenByte, Mode::Shared);
    if (open != Outcome::Acquired)
        return open;
    const Outcome writer = lockRange(kWriterByte, Mode::Exclusive);
    if (writer != Outcome::Held)
        return writer;
    // Another appender writes now: wait for it (it ends within its own time-outs).
    if (onWait)
        onWait();
    return lockRange(kWriterByte, Mode::ExclusiveWait);
}

StateFileLock::Outcome StateFileLock::LockForJournal() {
    return lockRange(kJournalByte, Mode::ExclusiveWait);
}

StateFileLock::Outcome StateFileLock::lockRange(int byte, Mode mode) {
    if (!open())
        return Outcome::Failed;
    struct flock range {};
    range.l_type = mode == Mode::Shared ? F_RDLCK : F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = byte;
    range.l_len = 1;
    const int command = mode == Mode::ExclusiveWait ? F_OFD_SETLKW : F_OFD_SETLK;
    int result = 0;
    do {
        result = ::fcntl(m_fd, command, &range);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        m_held = true;
        return Outcome::Acquired;
    }
    if (errno == EAGAIN || errno == EACCES) {
        // A window that did not get the open lock holds nothing.
        if (!m_held)
            Release();
        return Outcome::Held;
    }
    m_reason = m_lockPath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    Release();
    return Outcome::Failed;
}
