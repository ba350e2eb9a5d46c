// The results journal's record of one download or upload: what the chart needs to tell the
// families apart and to place the reading in its hour.
#pragma once

#include "core/net/AddressFamily.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

struct MeasuredEntry {
    QString kind; // "download", "upload-http" or "upload"
    QDateTime started;
    QString server; // "host[:port]" as measured, an IPv6 literal in brackets
    AddressFamily family = AddressFamily::Ipv4;
    QString address; // the peer's, without brackets
    double bytesPerSecond = 0;
    int mark = 0;
};

// {"kind", "version": 1, "started", "server", "family", "address", "bytes_per_s", "mark"}.
QJsonObject MeasuredJournalRecord(const MeasuredEntry& entry);
