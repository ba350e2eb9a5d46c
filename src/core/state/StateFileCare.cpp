#include "core/state/StateFileCare.h"

#include "core/state/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// rename() that fails instead of replacing an existing file.
int renameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // A file system without the flag: a second link, then the old name goes.
    if (::link(from.constData(), to.constData()) != 0)
        return -1;
    if (::unlink(from.constData()) != 0) {
        const int error = errno;
        ::unlink(to.constData());
        errno = error;
        return -1;
    }
    return 0;
}

} // namespace

QString KeepDamagedFile(const QString& path, const QDateTime& when, QString* error) {
    const QString base =
        path + QStringLiteral(".damaged-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QByteArray from = QFile::encodeName(path);
    int failure = 0;
    for (int n = 1; n <= 100; ++n) {
        const QString to = n == 1 ? base : base + QStringLiteral("-%1").arg(n);
        if (renameNoReplace(from, QFile::encodeName(to)) == 0)
            return to;
        failure = errno;
        if (failure != EEXIST)
            break;
    }
    *error = QString::fromLocal8Bit(std::strerror(failure));
    return {};
}

int RemoveKilledSaveTemporaries(const QString& path) {
    return RemoveStaleTemporaries(path, std::chrono::seconds(60));
}

StateLoad LoadStateFile(const QString& path, StateSnapshot& state, const QDateTime& now) {
    StateLoad load;
    load.staleTemporaries = RemoveKilledSaveTemporaries(path);
    load.read = ReadStateFile(path, state);
    // The window saves after every history line and at the close; a file it could not read
    // whole goes aside first. A rename keeps the very bytes, costs no room on a full disk
    // and frees the name for the next save in one step. When it fails (a read-only folder)
    // the file stays, and so does the next save's attempt to replace it, which needs the
    // same right to the folder.
    if (load.read.damaged())
        load.keptAs = KeepDamagedFile(path, now, &load.keepError);
    return load;
}

QString StateLoadNotice(const StateLoad& load) {
    if (!load.read.damaged())
        return {};
    const QString name = QString::fromLatin1(StateFileName);
    if (!load.keptAs.isEmpty())
        return QStringLiteral("%1 を読み込めなかったため %2 として残しました")
            .arg(name, QFileInfo(load.keptAs).fileName());
    return QStringLiteral("%1 を読み込めず、別名で残すこともできませんでした: %2")
        .arg(name, load.keepError);
}
