#include "core/history/ResultsJournal.h"

#include "core/state/AtomicFile.h"

#include "core/state/StateFileLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

JournalAppend failed(JournalAppend::Status status, QString message) {
    JournalAppend result;
    result.status = status;
    result.message = std::move(message);
    return result;
}

JournalAppend writeFailed(const QString& path, int error) {
    if (error == ENOSPC || error == EDQUOT)
        return failed(
            JournalAppend::Status::DiskFull,
            QStringLiteral("ディスクに空きがないため、測定結果を %1 に記録できませんでした。")
                .arg(path));
    return failed(JournalAppend::Status::WriteFailed,
                  QStringLiteral("測定結果を %1 に記録できませんでした（%2）。")
                      .arg(path, systemReason(error)));
}

// No following a link: the journal is ours, a link in its place is not. Read and write: the
// last byte is looked at before the line goes on.
int openForAppend(const QByteArray& path) {
    int fd = -1;
    do {
        fd = ::open(path.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<std::size_t>(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// Lines of one file into records; a line that is no JSON object is counted, an empty one is
// nothing at all. Empty text on success, else why the file could not be read.
QString readLines(const QString& path, JournalRead* read) {
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return path + QStringLiteral(": ") + file.errorString();
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error == QJsonParseError::NoError && doc.isObject())
            read->records << doc.object();
        else
            ++read->damaged;
    }
    if (file.error() != QFileDevice::NoError)
        return path + QStringLiteral(": ") + file.errorString();
    return {};
}

} // namespace

ResultsJournal::ResultsJournal(QString path, qint64 rotateBytes)
    : m_path(std::move(path))
    , m_rotateBytes(rotateBytes) {}

QString ResultsJournal::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/quillmet/results.jsonl");
}

JournalAppend ResultsJournal::Append(const QJsonObject& record) const {
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return failed(
            JournalAppend::Status::FolderFailed,
            QStringLiteral("測定結果を記録するフォルダー %1 を作成できませんでした。").arg(folder));

    // The lock sits beside the journal, not beside qm1.dat: qm1.dat is found in the working
    // folder, and a window and quillmet-cli started in different folders share this file.
    StateFileLock lock(m_path);
    if (lock.LockForJournal() != StateFileLock::Outcome::Acquired)
        return failed(JournalAppend::Status::LockFailed,
                      QStringLiteral("測定結果の記録 %1 をロックできませんでした（%2）。")
                          .arg(m_path, lock.Reason()));

    QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
    line.append('\n');
    const QByteArray path = QFile::encodeName(m_path);
    int fd = openForAppend(path);
    if (fd < 0)
        return writeFailed(m_path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return writeFailed(m_path, error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return failed(JournalAppend::Status::WriteFailed,
                      QStringLiteral("%1 は通常のファイルではないため、測定結果を記録できません。")
                          .arg(m_path));
    }
    bool created = st.st_size == 0;

    if (st.st_size > 0 && st.st_size + line.size() > m_rotateBytes) {
        ::close(fd);
        if (::rename(path.constData(), QFile::encodeName(OlderPath()).constData()) != 0)
            return writeFailed(m_path, errno);
        SyncDirectoryOf(m_path);
        fd = openForAppend(path);
        if (fd < 0)
            return writeFailed(m_path, errno);
        st.st_size = 0;
        created = true;
    } else if (st.st_size > 0) {
        // A line torn by a crash stays a line of its own (counted as damaged when read),
        // rather than swallowing this one.
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
            line.prepend('\n');
    }

    int error = 0;
    if (!writeAll(fd, line.constData(), line.size()) || ::fsync(fd) != 0)
        error = errno;
    if (error != 0) {
        // What was there before stays exactly so: no half line is left behind.
        if (::ftruncate(fd, st.st_size) == 0)
            ::fsync(fd);
        ::close(fd);
        return writeFailed(m_path, error);
    }
    if (::close(fd) != 0)
        return writeFailed(m_path, errno);
    if (created)
        SyncDirectoryOf(m_path);
    return {};
}

JournalRead ResultsJournal::Read() const {
    JournalRead read;
    // Under the lock, no rotation runs between the two files and no line is half written.
    // Without one (a folder nobody may write to) reading is still harmless.
    StateFileLock lock(m_path);
    if (QFileInfo::exists(QFileInfo(m_path).absolutePath()))
        lock.LockForJournal();
    QStringList reasons;
    for (const QString& file : {OlderPath(), m_path}) {
        const QString reason = readLines(file, &read);
        if (!reason.isEmpty())
            reasons << reason;
    }
    if (!reasons.isEmpty())
        read.message = QStringLiteral("測定結果の記録を読み込めませんでした（%1）。")
                           .arg(reasons.join(QStringLiteral("、")));
    return read;
}
