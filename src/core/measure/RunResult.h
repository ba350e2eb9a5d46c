// The result of a download run: ordering, averages, checks and the history line.
#pragma once

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>

// 1 kbps = 1,024 bits per second, 1 Mbps = 1,048,576 bits per second.
inline constexpr long double kPerKbps = 0.0009765625L;             // 2^-10
inline constexpr long double kPerMbps = 0.00000095367431640625L;   // 2^-20
inline constexpr long double kMeanOfThreeKbps = 1.0L / 3072.0L;    // mean of three, in kbps
inline constexpr long double kMeanOfThreeMbps = 1.0L / 3145728.0L; // mean of three, in Mbps
inline constexpr double kEightFifths = 1.6;                        // five-round sum to mean bits
inline constexpr long double kTooSmallMbps = 30.0L;
inline constexpr std::int32_t kTooSmallBytes = 2500000;
inline constexpr std::int32_t kTooSmallBytesPortal = 1000000;
inline constexpr int kDownloadHistoryCap = 100;
inline constexpr int kUploadHistoryCap = 50;

// One upward pass over all five, then one downward pass over the first four:
// afterwards [0] is the smallest, [4] the largest, [1..3] the other three.
void OrderSpeeds(std::array<long double, 5>& speeds);

// A round more than twice as fast, or more than twice as slow, as the one before it.
bool IsUnsteadyRound(long double speed, long double previousSpeed);

// A round's speed in bytes per second shown as kbps (1 decimal) and Mbps (3 decimals).
QString RoundKbpsText(long double bytesPerSecond);
QString RoundMbpsText(long double bytesPerSecond);

struct RunResult {
    QString connectText;            // sum of the five connect times ÷ 2
    QString bytesText;              // the last round's byte count
    QString kbpsText;               // mean of the middle three, 1 decimal
    QString mbpsText;               // mean of the middle three, 3 decimals
    long double meanMbpsOfFive = 0; // for the too-small check
};

// Orders the speeds in place and computes what the result boxes show.
RunResult ComputeRunResult(const std::array<std::int32_t, 5>& connectTimes,
                           std::array<long double, 5>& speeds, std::int32_t bytes);

// A file too small for a fast line: mean of five above 30 Mbps with fewer bytes than
// 2,500,000 (1,000,000 on the carrier's portal host).
bool IsFileTooSmall(const QString& hostPart, long double meanMbpsOfFive, std::int32_t bytes);

// The URL less its first seven characters ("http://"), up to the first "/"; empty
// when no "/" follows. A port or user name stays part of the host.
QString UrlHostPart(const QString& url);

// "yyyy-mm-dd(aaa) hh:nn:ss" with the Japanese weekday (日 月 火 水 木 金 土).
QString FormatRunDate(const QDateTime& when);

// "*" for mark 1, "**" for mark 2, nothing for 0.
QString MarkPrefix(int resultMark);

// first,date,connect,msec,bytes,byte,kbps,kbps,mbps,Mbps
QString HistoryLine(const QString& firstField, const QString& date, const QString& connect,
                    const QString& bytes, const QString& kbps, const QString& mbps);
