// The line test's arithmetic: summaries of probe times, the ramp and stability rules, RPM and
// the grades. Plain functions, so that each rule is checked without a socket.
#pragma once

#include <QString>
#include <vector>

struct LatencySummary {
    double medianMs = 0;
    double lowMs = 0;
    double highMs = 0;
    double jitterMs = 0;
    int count = 0; // probes that answered
};

double Median(std::vector<double> values);
// The mean absolute difference of consecutive values, in the order they were taken.
double Jitter(const std::vector<double>& inOrder);
LatencySummary SummarizeLatency(const std::vector<double>& inOrder);

// The mean with the highest 5 % of the values left out (the 95th-percentile trimmed mean),
// as the responsiveness measurement trims its probe times.
double TrimmedMean(std::vector<double> values);
// Round trips per minute: 60,000 over the trimmed mean probe time in ms; 0 without one.
int Rpm(double trimmedMeanMs);
// "Poor", "Fair", "Good" or "Excellent".
QString RpmBand(int rpm);
// From the latency increase under load (loaded median minus idle median), in ms.
QString BufferbloatGrade(double increaseMs);

enum class RampDecision {
    Add,  // the aggregate still grows: one more connection
    Wait, // nothing arrived yet to judge by
    Done, // it stopped growing, or the cap is reached
};
// previousRate and rate: the aggregate over the last two ramp intervals.
RampDecision DecideRamp(double previousRate, double rate, int connections, int maxConnections);

// samples: bytes per sample interval, oldest first. Stable when the standard deviation of the
// last four 1-second averages is under 5 % of their mean.
bool IsStable(const std::vector<double>& samples, int samplesPerSecond);
