// Every completed measurement as a record of the results journal, and the readings read back
// per address family: the chart's points and its hour-of-day view.
#pragma once

#include "core/net/AddressFamily.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

enum class MeasurementKind { Download, UploadHttp, Upload, Line };

// "download", "upload-http", "upload", "line", as the records spell them.
QString MeasurementKindName(MeasurementKind kind);

// The peer a run measured: the family of the address connected to, and that address.
struct MeasuredPeer {
    AddressFamily family = AddressFamily::Ipv4;
    QString address; // no brackets
};
MeasuredPeer PeerOf(const SocketAddress& address);

// The URL's host[:port] as the record names it: an IPv6 literal in brackets, the port only
// when the URL gives one. Empty for text that is no URL with a host.
QString JournalServerOfUrl(const QString& url);

// The record of one completed download or upload; bytesPerSecond is the run's reading.
QJsonObject MeasurementRecord(MeasurementKind kind, const QDateTime& started, const QString& server,
                              const MeasuredPeer& peer, double bytesPerSecond, int mark);

// One reading of the journal with its family.
struct FamilyReading {
    MeasurementKind kind = MeasurementKind::Download;
    QDateTime started; // local time
    double mbps = 0;   // the chart's Mbps: 1,048,576 bits per second
    AddressFamily family = AddressFamily::Ipv4;
    QString address;
    QString server;
};

// The download, upload and HTTP upload records that name their family and address, and the
// line tests' download direction when their record names its family. Records without a
// family, start or finite speed pass unseen.
QList<FamilyReading> ReadFamilyReadings(const QList<QJsonObject>& records);

// Both IPv4 and IPv6 occur among the readings.
bool BothFamilies(const QList<FamilyReading>& readings);

// The download readings (downloads and the line tests' download) of one hour of the day and
// one family, over the chosen period.
struct HourBucket {
    int hour = 0; // 0 to 23, local time of the start
    AddressFamily family = AddressFamily::Ipv4;
    int count = 0;
    double meanMbps = 0;
    double minMbps = 0;
    double maxMbps = 0;
};

// The buckets that hold a reading, by hour, IPv4 before IPv6 within an hour. days > 0 keeps
// the readings started within that many days before now; 0 keeps them all.
QList<HourBucket> HourOfDayBuckets(const QList<FamilyReading>& readings, const QDateTime& now,
                                   int days);

// A journal's bytes_per_s: a finite number of zero or more, else none.
std::optional<double> JournalSpeed(const QJsonValue& value);

// "IPv4" or "IPv6", as the chart names a family.
QString FamilyCaption(AddressFamily family);
