#include "core/linetest/LineTestMath.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {
constexpr double kRampGrowth = 1.05;
constexpr double kStableSpread = 0.05;
constexpr int kStableSeconds = 4;
constexpr double kTrimmedShare = 0.05;
} // namespace

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Jitter(const std::vector<double>& inOrder) {
    if (inOrder.size() < 2)
        return 0;
    double sum = 0;
    for (std::size_t i = 1; i < inOrder.size(); ++i)
        sum += std::abs(inOrder[i] - inOrder[i - 1]);
    return sum / static_cast<double>(inOrder.size() - 1);
}

LatencySummary SummarizeLatency(const std::vector<double>& inOrder) {
    LatencySummary s;
    if (inOrder.empty())
        return s;
    const auto [low, high] = std::minmax_element(inOrder.begin(), inOrder.end());
    s.lowMs = *low;
    s.highMs = *high;
    s.medianMs = Median(inOrder);
    s.jitterMs = Jitter(inOrder);
    s.count = static_cast<int>(inOrder.size());
    return s;
}

double TrimmedMean(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto dropped =
        static_cast<std::size_t>(std::floor(static_cast<double>(values.size()) * kTrimmedShare));
    values.resize(values.size() - dropped);
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

int Rpm(double trimmedMeanMs) {
    if (trimmedMeanMs <= 0)
        return 0;
    return static_cast<int>(std::lround(60000.0 / trimmedMeanMs));
}

QString RpmBand(int rpm) {
    // Our own bands, set on the latency steps of the grade below: a round trip under load of
    // at most 30 ms (grade A) is 2,000 RPM or more, 60 ms (B) 1,000, 200 ms (C) 300.
    if (rpm >= 2000)
        return QStringLiteral("Excellent");
    if (rpm >= 1000)
        return QStringLiteral("Good");
    if (rpm >= 300)
        return QStringLiteral("Fair");
    return QStringLiteral("Poor");
}

QString BufferbloatGrade(double increaseMs) {
    if (increaseMs < 5)
        return QStringLiteral("A+");
    if (increaseMs < 30)
        return QStringLiteral("A");
    if (increaseMs < 60)
        return QStringLiteral("B");
    if (increaseMs < 200)
        return QStringLiteral("C");
    if (increaseMs < 400)
        return QStringLiteral("D");
    return QStringLiteral("F");
}

RampDecision DecideRamp(double previousRate, double rate, int connections, int maxConnections) {
    if (connections >= maxConnections)
        return RampDecision::Done;
    if (rate <= 0)
        return RampDecision::Wait;
    return rate > previousRate * kRampGrowth ? RampDecision::Add : RampDecision::Done;
}

bool IsStable(const std::vector<double>& samples, int samplesPerSecond) {
    const auto per = static_cast<std::size_t>(std::max(1, samplesPerSecond));
    if (samples.size() < per * kStableSeconds)
        return false;
    double averages[kStableSeconds] = {};
    for (int k = 0; k < kStableSeconds; ++k) {
        const auto end = samples.end() - static_cast<std::ptrdiff_t>(per * k);
        averages[k] = std::accumulate(end - static_cast<std::ptrdiff_t>(per), end, 0.0) /
                      static_cast<double>(per);
    }
    const double mean =
        std::accumulate(std::begin(averages), std::end(averages), 0.0) / kStableSeconds;
    if (mean <= 0)
        return false;
    double squares = 0;
    for (const double a : averages)
        squares += (a - mean) * (a - mean);
    return std::sqrt(squares / kStableSeconds) < kStableSpread * mean;
}
