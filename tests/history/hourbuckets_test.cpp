#include "core/history/MeasurementRecord.h"

#include <QRegularExpression>
#include <QtTest>

namespace {
const QDateTime kNow(QDate(2026, 12, 9), QTime(22, 0));

QJsonObject download(const QDateTime& started, const char* family, double bytesPerSecond) {
    return MeasurementRecord(MeasurementKind::Download, started, QStringLiteral("qm.example"),
                             {*AddressFamilyFromName(family), QStringLiteral("192.0.2.1")},
                             bytesPerSecond, 0);
}

// Speeds in bytes per second that are whole Mbps of 2^20 bits: 131,072 B/s a Mbps.
QList<QJsonObject> journal() {
    QJsonObject line{
        {"kind", "line"},
        {"started", QDateTime(QDate(2026, 12, 7), QTime(21, 30)).toString(Qt::ISODateWithMs)},
        {"family", "ipv6"},
        {"address", "2001:db8::1"},
        {"download", QJsonObject{{"bytes_per_s", 40 * 131072.0}}}};
    QJsonObject unknownFamily = download(kNow.addSecs(-3600), "ipv4", 1e6);
    unknownFamily.remove(QStringLiteral("family"));
    return {download(QDateTime(QDate(2026, 12, 8), QTime(18, 10)), "ipv4", 10 * 131072.0),
            download(QDateTime(QDate(2026, 12, 9), QTime(18, 50)), "ipv4", 20 * 131072.0),
            download(QDateTime(QDate(2026, 12, 9), QTime(18, 5)), "ipv6", 30 * 131072.0), line,
            // Nine days old: only the longer periods hold it.
            download(QDateTime(QDate(2026, 11, 30), QTime(18, 0)), "ipv4", 100 * 131072.0),
            // Not a download reading, and a download whose family is not known.
            MeasurementRecord(MeasurementKind::Upload, QDateTime(QDate(2026, 12, 9), QTime(18, 0)),
                              QStringLiteral("mail.example"),
                              {AddressFamily::Ipv4, QStringLiteral("192.0.2.2")}, 9e6, 0),
            unknownFamily};
}

using Bucket = std::tuple<int, AddressFamily, int, double, double, double>;
QList<Bucket> tuples(const QList<HourBucket>& buckets) {
    QList<Bucket> list;
    for (const HourBucket& b : buckets)
        list << Bucket{b.hour, b.family, b.count, b.meanMbps, b.minMbps, b.maxMbps};
    return list;
}
} // namespace

class HourBucketsTest : public QObject {
    Q_OBJECT

private slots:
    void sevenDaysHoldTheWeeksDownloadsByHourAndFamily() {
        const QList<FamilyReading> readings = ReadFamilyReadings(journal());
        QCOMPARE(readings.size(), 6); // the upload counts for the chart, not for the hours
        QVERIFY(BothFamilies(readings));
        const auto v4 = AddressFamily::Ipv4, v6 = AddressFamily::Ipv6;
        QCOMPARE(tuples(HourOfDayBuckets(readings, kNow, 7)),
                 (QList<Bucket>{{18, v4, 2, 15.0, 10.0, 20.0},
                                {18, v6, 1, 30.0, 30.0, 30.0},
                                {21, v6, 1, 40.0, 40.0, 40.0}}));
        QCOMPARE(tuples(HourOfDayBuckets(readings, kNow, 0)).first(),
                 Bucket(18, v4, 3, 130.0 / 3, 10.0, 100.0));
        QVERIFY(HourOfDayBuckets(readings, kNow.addDays(60), 30).isEmpty());
    }

    void aRecordNamesTheUrlsServerAndThePeer() {
        QCOMPARE(JournalServerOfUrl(QStringLiteral("http://[::1]:8080/qm/qm4M.jpg")),
                 QStringLiteral("[::1]:8080"));
        QCOMPARE(JournalServerOfUrl(QStringLiteral("http://qm.example/x.jpg")),
                 QStringLiteral("qm.example"));
        QCOMPARE(JournalServerOfUrl(QStringLiteral("not a url")), QString());
        const QDateTime started(QDate(2026, 12, 9), QTime(18, 0, 1, 250));
        const QJsonObject record =
            MeasurementRecord(MeasurementKind::UploadHttp, started, QStringLiteral("[::1]:8080"),
                              {AddressFamily::Ipv6, QStringLiteral("::1")}, 5e6, 1);
        QCOMPARE(record.value("kind").toString(), QStringLiteral("upload-http"));
        QCOMPARE(record.value("family").toString(), QStringLiteral("ipv6"));
        // The local start with its offset, so that the record names its moment anywhere.
        const QString at = record.value("started").toString();
        QVERIFY2(
            QRegularExpression(QStringLiteral("^2026-12-09T18:00:01\\.250(Z|[+-]\\d\\d:\\d\\d)$"))
                .match(at)
                .hasMatch(),
            qPrintable(at));
        const QList<FamilyReading> back = ReadFamilyReadings({record});
        QCOMPARE(back.size(), 1);
        QCOMPARE(back[0].started, started);
        QCOMPARE(back[0].address, QStringLiteral("::1"));
        QCOMPARE(back[0].mbps, 5e6 * 8 / 1048576);
    }
};

QTEST_GUILESS_MAIN(HourBucketsTest)
#include "hourbuckets_test.moc"
