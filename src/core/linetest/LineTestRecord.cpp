#include "core/linetest/LineTestResult.h"

#include <QJsonArray>
#include <algorithm>
#include <cmath>

namespace {
// Milliseconds to a hundredth: a loopback or LAN round trip is well under one.
double hundredths(double ms) {
    return std::round(ms * 100.0) / 100.0;
}

QJsonObject latencyJson(const LatencySummary& s) {
    return {{QStringLiteral("median_ms"), hundredths(s.medianMs)},
            {QStringLiteral("low_ms"), hundredths(s.lowMs)},
            {QStringLiteral("high_ms"), hundredths(s.highMs)},
            {QStringLiteral("jitter_ms"), hundredths(s.jitterMs)}};
}

QJsonObject directionJson(const LineDirection& d) {
    return {{QStringLiteral("bytes_per_s"), d.bytesPerSecond},
            {QStringLiteral("bytes"), static_cast<double>(d.bytes)},
            {QStringLiteral("seconds"), std::round(d.seconds * 1000.0) / 1000.0},
            {QStringLiteral("stable"), d.stable},
            {QStringLiteral("reconnects"), d.reconnects},
            {QStringLiteral("load_rtt_ms"), hundredths(d.loadRttMs)},
            {QStringLiteral("latency"), latencyJson(d.latency)}};
}
} // namespace

void GradeLineTest(LineTestResult* r) {
    std::vector<double> loaded = r->download.probeMs;
    loaded.insert(loaded.end(), r->upload.probeMs.begin(), r->upload.probeMs.end());
    r->rpm = Rpm(TrimmedMean(loaded));
    r->rpmBand = RpmBand(r->rpm);
    const double worse = std::max(r->download.latency.medianMs, r->upload.latency.medianMs);
    r->grade = BufferbloatGrade(worse - r->idleLatency.medianMs);
}

QJsonObject LineTestRecord(const LineTestResult& r) {
    QJsonObject record{{QStringLiteral("kind"), QStringLiteral("line")},
                       {QStringLiteral("version"), 1},
                       {QStringLiteral("started"), r.started.toString(Qt::ISODateWithMs)},
                       {QStringLiteral("server"), r.server},
                       {QStringLiteral("connections"),
                        QJsonObject{{QStringLiteral("download"), r.download.connections},
                                    {QStringLiteral("upload"), r.upload.connections}}},
                       {QStringLiteral("download"), directionJson(r.download)},
                       {QStringLiteral("upload"), directionJson(r.upload)},
                       {QStringLiteral("idle_latency"), latencyJson(r.idleLatency)},
                       {QStringLiteral("rpm"), r.rpm},
                       {QStringLiteral("rpm_band"), r.rpmBand},
                       {QStringLiteral("grade"), r.grade},
                       {QStringLiteral("notes"), QJsonArray::fromStringList(r.notes)}};
    if (!r.address.isEmpty()) {
        record.insert(QStringLiteral("family"), QString::fromLatin1(AddressFamilyName(r.family)));
        record.insert(QStringLiteral("address"), r.address);
    }
    return record;
}
