// What a line test reports: its phases, a sample every 100 ms, and the result with its record.
#pragma once

#include "core/linetest/LineTestMath.h"
#include "core/net/AddressFamily.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QStringList>

enum class LineTestPhase { Idle, Descriptor, IdleLatency, Download, Upload };

struct LineTestSample {
    qint64 msecs = 0;          // since the test started
    double bytesPerSecond = 0; // over the last sample interval
    int connections = 0;
    LineTestPhase phase = LineTestPhase::Idle;
};

struct LineDirection {
    // Over the stable window (or the last seconds of the phase when it never settled).
    double bytesPerSecond = 0;
    qint64 bytes = 0;
    double seconds = 0;
    bool stable = false;
    int connections = 0;         // the most at once
    int reconnects = 0;          // new connections a load connection had to open after its first
    LatencySummary latency;      // the probes under load
    double loadRttMs = 0;        // the median tcpi_rtt of the load connections
    std::vector<double> probeMs; // in the order taken, for RPM
};

struct LineTestResult {
    QDateTime started;
    QString server;  // "host:port"
    QString address; // the server's, as the first answered request reached it; no brackets
    AddressFamily family = AddressFamily::Ipv4;
    LineDirection download;
    LineDirection upload;
    LatencySummary idleLatency;
    int rpm = 0;
    QString rpmBand;
    QString grade;
    QStringList notes;
};

// The result's RPM, band and grade from its probes.
void GradeLineTest(LineTestResult* result);

// The record of a completed test, as the journal keeps it and --line --json prints it.
QJsonObject LineTestRecord(const LineTestResult& result);

Q_DECLARE_METATYPE(LineTestSample)
Q_DECLARE_METATYPE(LineTestResult)
