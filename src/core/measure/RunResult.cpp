#include "core/measure/RunResult.h"

#include "QuillmetConfig.h"
#include "core/measure/NumberFormat.h"

#include <utility>

void OrderSpeeds(std::array<long double, 5>& s) {
    for (std::size_t i = 0; i < 4; ++i) {
        if (s[i + 1] < s[i])
            std::swap(s[i], s[i + 1]);
    }
    for (std::size_t i = 3; i-- > 0;) {
        if (s[i] > s[i + 1])
            std::swap(s[i], s[i + 1]);
    }
}

bool IsUnsteadyRound(long double speed, long double previousSpeed) {
    return speed > 2 * previousSpeed || previousSpeed > 2 * speed;
}

QString RoundKbpsText(long double bytesPerSecond) {
    return FormatFixed(bytesPerSecond * 8 * kPerKbps, 1);
}

QString RoundMbpsText(long double bytesPerSecond) {
    return FormatFixed(bytesPerSecond * 8 * kPerMbps, 3);
}

RunResult ComputeRunResult(const std::array<std::int32_t, 5>& connectTimes,
                           std::array<long double, 5>& speeds, std::int32_t bytes) {
    OrderSpeeds(speeds);
    RunResult r;
    r.bytesText = QString::number(bytes);
    std::int64_t connectSum = 0;
    for (std::int32_t t : connectTimes)
        connectSum += t;
    r.connectText = QString::number(connectSum / 2); // the divisor is 2, truncating
    const long double middle = (speeds[1] + speeds[2]) + speeds[3];
    r.kbpsText = FormatFixed(middle * 8 * kMeanOfThreeKbps, 1);
    r.mbpsText = FormatFixed(middle * 8 * kMeanOfThreeMbps, 3);
    const long double all = (((speeds[0] + speeds[1]) + speeds[2]) + speeds[3]) + speeds[4];
    r.meanMbpsOfFive = all * static_cast<long double>(kEightFifths) * kPerMbps;
    return r;
}

bool IsFileTooSmall(const QString& hostPart, long double meanMbpsOfFive, std::int32_t bytes) {
    const std::int32_t threshold = hostPart == QString::fromUtf8(qmconfig::CarrierPortalHost)
                                       ? kTooSmallBytesPortal
                                       : kTooSmallBytes;
    return meanMbpsOfFive > kTooSmallMbps && bytes < threshold;
}

QString UrlHostPart(const QString& url) {
    const QString rest = url.mid(7);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : rest.left(slash);
}

QString FormatRunDate(const QDateTime& when) {
    static const char* const weekdays[] = {"月", "火", "水", "木", "金", "土", "日"};
    const QDate d = when.date();
    const QTime t = when.time();
    return QStringLiteral("%1-%2-%3(%4) %5:%6:%7")
        .arg(d.year(), 4, 10, QLatin1Char('0'))
        .arg(d.month(), 2, 10, QLatin1Char('0'))
        .arg(d.day(), 2, 10, QLatin1Char('0'))
        .arg(QString::fromUtf8(weekdays[d.dayOfWeek() - 1]))
        .arg(t.hour(), 2, 10, QLatin1Char('0'))
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.second(), 2, 10, QLatin1Char('0'));
}

QString MarkPrefix(int resultMark) {
    if (resultMark == 1)
        return QStringLiteral("*");
    if (resultMark == 2)
        return QStringLiteral("**");
    return QString();
}

QString HistoryLine(const QString& firstField, const QString& date, const QString& connect,
                    const QString& bytes, const QString& kbps, const QString& mbps) {
    return firstField + QLatin1Char(',') + date + QLatin1Char(',') + connect +
           QStringLiteral(",msec,") + bytes + QStringLiteral(",byte,") + kbps +
           QStringLiteral(",kbps,") + mbps + QStringLiteral(",Mbps");
}
