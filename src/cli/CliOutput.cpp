#include "cli/CliOutput.h"

#include "core/history/HistoryExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kCsvRounds = 5;

double rounded(long double value, int decimals) {
    const long double scale = std::pow(10.0L, decimals);
    return static_cast<double>(std::round(value * scale) / scale);
}

bool isDownload(const CliRecord& r) {
    return r.record.kind == HistoryKind::Download;
}

bool isMailUpload(const CliRecord& r) {
    return r.record.kind == HistoryKind::Upload;
}

QString targetName(const CliRecord& r) {
    return isDownload(r)     ? QStringLiteral("url")
           : isMailUpload(r) ? QStringLiteral("smtp")
                             : QStringLiteral("server");
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Where a write to fd begins: the end with O_APPEND (">>"), else the file offset; -1 for
// anything but a regular file.
off_t writeStart(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags != -1 && (flags & O_APPEND) ? st.st_size : ::lseek(fd, 0, SEEK_CUR);
}

} // namespace

QJsonObject RecordJson(const CliRecord& r) {
    QJsonObject o = HistoryJsonObject(r.record);
    o.insert(targetName(r), r.target);
    if (!isMailUpload(r)) {
        QJsonArray rounds;
        for (const CliRound& round : r.rounds) {
            QJsonObject one{
                {QStringLiteral("bytes_per_s"), rounded(round.bytesPerSecond, 3)},
                {QStringLiteral("kbps"), round.kbpsText.toDouble()},
                {QStringLiteral("mbps"), round.mbpsText.toDouble()},
            };
            if (round.bytes >= 0)
                one.insert(QStringLiteral("bytes"), round.bytes);
            rounds.append(one);
        }
        o.insert(QStringLiteral("rounds"), rounds);
    }
    o.insert(QStringLiteral("mark_reasons"), QJsonArray::fromStringList(r.markReasons));
    o.insert(QStringLiteral("family"), QString::fromLatin1(AddressFamilyName(r.family)));
    o.insert(QStringLiteral("address"), r.address);
    o.insert(QStringLiteral("history_line"), r.historyLine);
    return o;
}

QByteArray RecordJsonLine(const CliRecord& record) {
    return QJsonDocument(RecordJson(record)).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray FailureJsonLine(const CliFailure& f) {
    QJsonObject o{
        {QStringLiteral("kind"), QStringLiteral("error")},
        {QStringLiteral("started"), IsoLocalTime(f.started)},
        {f.uploadHttp ? QStringLiteral("server")
         : f.upload   ? QStringLiteral("smtp")
                      : QStringLiteral("url"),
         f.target},
        {QStringLiteral("exit_code"), f.exitCode},
        {QStringLiteral("message"), f.message},
    };
    if (!f.family.isEmpty())
        o.insert(QStringLiteral("family"), f.family);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray CsvHeaderLine() {
    QStringList names = HistoryCsvHeader();
    names << QStringLiteral("url") << QStringLiteral("smtp");
    for (int i = 1; i <= kCsvRounds; ++i) {
        names << QStringLiteral("round%1_bytes_per_s").arg(i)
              << QStringLiteral("round%1_kbps").arg(i) << QStringLiteral("round%1_mbps").arg(i);
    }
    names << QStringLiteral("mark_reasons") << QStringLiteral("exit_code")
          << QStringLiteral("message") << QStringLiteral("family") << QStringLiteral("address")
          << QStringLiteral("history_line");
    return CsvLine(names).toUtf8();
}

QByteArray RecordCsvLine(const CliRecord& r) {
    QStringList fields = HistoryCsvRow(r.record);
    // An HTTP upload's server is in the host column already.
    fields << (isDownload(r) ? r.target : QString()) << (isMailUpload(r) ? r.target : QString());
    for (int i = 0; i < kCsvRounds; ++i) {
        if (i < int(r.rounds.size())) {
            const CliRound& round = r.rounds[std::size_t(i)];
            fields << QString::number(rounded(round.bytesPerSecond, 3), 'f',
                                      QLocale::FloatingPointShortest)
                   << round.kbpsText << round.mbpsText;
        } else {
            fields << QString() << QString() << QString();
        }
    }
    fields << r.markReasons.join(QLatin1Char(';')) << QString() << QString()
           << QString::fromLatin1(AddressFamilyName(r.family)) << r.address << r.historyLine;
    return CsvLine(fields).toUtf8();
}

QByteArray FailureCsvLine(const CliFailure& f) {
    const QStringList exported = HistoryCsvHeader();
    QStringList fields;
    for (const QString& name : exported) {
        fields << (name == QLatin1String("kind")                   ? QStringLiteral("error")
                   : name == QLatin1String("started")              ? IsoLocalTime(f.started)
                   : name == QLatin1String("host") && f.uploadHttp ? f.target
                                                                   : QString());
    }
    const bool url = !f.upload && !f.uploadHttp;
    fields << (url ? f.target : QString()) << (f.upload ? f.target : QString());
    for (int i = 0; i < kCsvRounds * 3; ++i)
        fields << QString();
    fields << QString() << QString::number(f.exitCode) << f.message << f.family << QString()
           << QString();
    return CsvLine(fields).toUtf8();
}

QString WriteWhole(int fd, const QByteArray& bytes) {
    const off_t start = writeStart(fd);
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + written, std::size_t(bytes.size() - written));
        if (n > 0) {
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int error = n < 0 ? errno : ENOSPC;
        struct stat st {};
        // Only the part this write added goes, and only when nobody else wrote after it.
        if (written > 0 && start >= 0 && ::fstat(fd, &st) == 0 && st.st_size == start + written &&
            ::ftruncate(fd, start) == 0)
            ::lseek(fd, start, SEEK_SET);
        return systemReason(error);
    }
    return {};
}

QString CloseOutput(int fd) {
    if (::close(fd) == 0 || errno == EBADF || errno == EINTR)
        return {};
    return systemReason(errno);
}
