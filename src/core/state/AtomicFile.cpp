#include "core/state/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString describe(const QString& path, int error) {
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A link is written through: the file it names is replaced, beside itself, and the link stays.
// A chain of links is followed to its end, as far as the system itself would follow one.
QString throughLinks(const QString& path) {
    QString file = path;
    for (int hop = 0; hop < 40; ++hop) {
        const QFileInfo info(file);
        if (!info.isSymLink())
            return file;
        file = info.symLinkTarget();
    }
    return path;
}

// The suffix of a temporary: a 32-bit random number in hex, as QByteArray::number writes it.
const QString TemporaryInfix = QStringLiteral(".tmp-");

} // namespace

void SyncDirectoryOf(const QString& path) {
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString WriteFileAtomically(const QString& path, std::string_view data) {
    const QString file = throughLinks(path);
    const QByteArray target = QFile::encodeName(file);
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = target + TemporaryInfix.toLatin1() +
               QByteArray::number(QRandomGenerator::global()->generate(), 16);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return describe(path, errno);

    // The new file keeps the permissions the user gave the old one.
    struct stat old {};
    if (::stat(target.constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);

    int error = 0;
    if (!writeAll(fd, data) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.constData());
        return describe(path, error);
    }
    SyncDirectoryOf(file);
    return {};
}

int RemoveStaleTemporaries(const QString& path, std::chrono::seconds age) {
    const QFileInfo info(throughLinks(path));
    const QDir dir = info.absoluteDir();
    const QRegularExpression own(QStringLiteral("^") +
                                 QRegularExpression::escape(info.fileName() + TemporaryInfix) +
                                 QStringLiteral("[0-9a-f]{1,8}$"));
    const std::time_t before = std::time(nullptr) - age.count();
    int removed = 0;
    const auto names = dir.entryList({info.fileName() + TemporaryInfix + QLatin1Char('*')},
                                     QDir::AllEntries | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (!own.match(name).hasMatch())
            continue;
        const QByteArray file = QFile::encodeName(dir.filePath(name));
        struct stat st {};
        // lstat: a link of that name is not ours, whatever it points to.
        if (::lstat(file.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_mtime >= before)
            continue;
        if (::unlink(file.constData()) == 0)
            ++removed;
    }
    return removed;
}
