#include "core/history/HistoryRecord.h"

#include <QtTest>
#include <ctime>

Q_DECLARE_METATYPE(HistoryKind)

namespace {
void setZone(const char* zone) {
    qputenv("TZ", zone);
    ::tzset();
}
} // namespace

class HistoryRecordTest : public QObject {
    Q_OBJECT

private slots:
    void init() { setZone("Asia/Tokyo"); }

    void readsEveryLineTheProgramWrites_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<HistoryKind>("kind");
        QTest::addColumn<int>("mark");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QDateTime>("started");
        QTest::addColumn<qint64>("connectMs");
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<double>("kbps");
        QTest::addColumn<double>("mbps");
        const auto at = [](int d, int h, int m, int s) {
            return QDateTime(QDate(2026, 12, d), QTime(h, m, s));
        };
        QTest::newRow("clean download, Sunday")
            << "server,2013-05-19(日) 07:15:05,62,msec,1048576,byte,8192.0,kbps,8.000,Mbps"
            << HistoryKind::Download << 0 << "server"
            << QDateTime(QDate(2013, 5, 19), QTime(7, 15, 5)) << qint64(62) << qint64(1048576)
            << 8192.0 << 8.0;
        QTest::newRow("one mark, Monday")
            << "*speed.example.jp,2026-12-07(月) "
               "23:59:59,5,msec,2000000,byte,51200.0,kbps,50.000,Mbps"
            << HistoryKind::Download << 1 << "speed.example.jp" << at(7, 23, 59, 59) << qint64(5)
            << qint64(2000000) << 51200.0 << 50.0;
        QTest::newRow("two marks, Tuesday")
            << "**speed.example.jp,2026-12-08(火) 00:00:00,0,msec,15000000,byte,1.5,kbps,0.001,Mbps"
            << HistoryKind::Download << 2 << "speed.example.jp" << at(8, 0, 0, 0) << qint64(0)
            << qint64(15000000) << 1.5 << 0.001;
        QTest::newRow("upload, Wednesday")
            << "*upload(310KB),2026-12-09(水) 14:35:00,120,msec,312100,byte,1219.1,kbps,1.191,Mbps"
            << HistoryKind::Upload << 0 << "" << at(9, 14, 35, 0) << qint64(120) << qint64(312100)
            << 1219.1 << 1.191;
        QTest::newRow("HTTP upload, Wednesday")
            << "*upload-http(qm.example.jp:8080),2026-12-09(水) 14:35:00,3,msec,268435456,byte,"
               "921600.0,kbps,900.000,Mbps"
            << HistoryKind::UploadHttp << 0 << "qm.example.jp:8080" << at(9, 14, 35, 0) << qint64(3)
            << qint64(268435456) << 921600.0 << 900.0;
        QTest::newRow("unsteady HTTP upload")
            << "**upload-http(qm.example.jp),2026-12-09(水) 14:35:00,3,msec,1048576,byte,"
               "921600.0,kbps,900.000,Mbps"
            << HistoryKind::UploadHttp << 1 << "qm.example.jp" << at(9, 14, 35, 0) << qint64(3)
            << qint64(1048576) << 921600.0 << 900.0;
        QTest::newRow("empty host, Thursday")
            << ",2026-12-10(木) 08:01:02,31,msec,100000,byte,780.3,kbps,0.762,Mbps"
            << HistoryKind::Download << 0 << "" << at(10, 8, 1, 2) << qint64(31) << qint64(100000)
            << 780.3 << 0.762;
        QTest::newRow("marked, empty host")
            << "**,2026-12-10(木) 08:01:02,31,msec,100000,byte,780.3,kbps,0.762,Mbps"
            << HistoryKind::Download << 2 << "" << at(10, 8, 1, 2) << qint64(31) << qint64(100000)
            << 780.3 << 0.762;
        QTest::newRow("host with port and user, Friday")
            << "*me@speed.example.jp:8080,2026-12-11(金) 12:00:00,48,msec,5000000,byte,"
               "98304.0,kbps,96.000,Mbps"
            << HistoryKind::Download << 1 << "me@speed.example.jp:8080" << at(11, 12, 0, 0)
            << qint64(48) << qint64(5000000) << 98304.0 << 96.0;
        QTest::newRow("host with a comma, Saturday")
            << "a,b.example,2026-12-12(土) 18:30:00,10,msec,3000000,byte,2048.0,kbps,2.000,Mbps"
            << HistoryKind::Download << 0 << "a,b.example" << at(12, 18, 30, 0) << qint64(10)
            << qint64(3000000) << 2048.0 << 2.0;
        QTest::newRow("upload the socket would not take")
            << "*upload(310KB),2026-12-13(日) 09:00:00,-3,msec,-1,byte,-7.8,kbps,-0.008,Mbps"
            << HistoryKind::Upload << 0 << "" << at(13, 9, 0, 0) << qint64(-3) << qint64(-1) << -7.8
            << -0.008;
    }
    void readsEveryLineTheProgramWrites() {
        QFETCH(QString, line);
        const std::optional<HistoryRecord> r = ParseHistoryLine(line);
        QVERIFY(r.has_value());
        QTEST(r->kind, "kind");
        QTEST(r->mark, "mark");
        QTEST(r->host, "host");
        QTEST(r->started, "started");
        QCOMPARE(r->started.timeSpec(), Qt::LocalTime);
        QTEST(r->connectMs, "connectMs");
        QTEST(r->bytes, "bytes");
        QTEST(r->kbps, "kbps");
        QTEST(r->mbps, "mbps");
        QCOMPARE(r->Line(), line);
    }

    void skipsLinesNotInTheLayout_data() {
        QTest::addColumn<QString>("line");
        const QString good =
            QStringLiteral("h,2026-12-08(火) 14:35:00,62,msec,1048576,byte,8192.0,kbps,8.000,Mbps");
        QVERIFY(ParseHistoryLine(good).has_value());
        const auto with = [&](const char* from, const char* to) {
            QString l = good;
            return l.replace(QString::fromUtf8(from), QString::fromUtf8(to));
        };
        QTest::newRow("empty") << QString();
        QTest::newRow("300 bytes of x") << QString(300, QLatin1Char('x'));
        QTest::newRow("nine fields") << good.left(good.lastIndexOf(QLatin1Char(',')));
        QTest::newRow("unit renamed") << with(",msec,", ",ms,");
        QTest::newRow("weekday of another day") << with("(火)", "(水)");
        QTest::newRow("English weekday") << with("(火)", "(Tue)");
        QTest::newRow("no such date") << with("2026-12-08(火)", "2026-02-30(月)");
        QTest::newRow("hour 24") << with("14:35:00", "24:00:00");
        QTest::newRow("one-digit day") << with("2026-12-08", "2026-12-8");
        QTest::newRow("slashes in the date") << with("2026-12-08", "2026/12/08");
        QTest::newRow("leading zero") << with(",62,", ",062,");
        QTest::newRow("plus sign") << with(",62,", ",+62,");
        QTest::newRow("thousands separators") << with("1048576", "1,048,576");
        QTest::newRow("kbps with two decimals") << with("8192.0", "8192.00");
        QTest::newRow("Mbps with one decimal") << with("8.000", "8.0");
        QTest::newRow("decimal comma") << with("8192.0,kbps,8.000", "8192,0,kbps,8,000");
        QTest::newRow("infinite speed") << with("8192.0", "INF");
        QTest::newRow("undefined speed") << with("8.000", "NAN");
        QTest::newRow("carriage return left on") << good + QLatin1Char('\r');
        QTest::newRow("blank after a comma") << with(",byte,", ", byte,");
    }
    void skipsLinesNotInTheLayout() {
        QFETCH(QString, line);
        QVERIFY(!ParseHistoryLine(line).has_value());
    }

    void countsTheLinesItSkips() {
        const ParsedHistory p = ParseHistory(
            {QStringLiteral("x"),
             QStringLiteral(
                 "h,2026-12-08(火) 14:35:00,62,msec,1048576,byte,8192.0,kbps,8.000,Mbps"),
             QString(),
             QStringLiteral(
                 "*upload(310KB),2026-12-09(水) 14:35:00,1,msec,2,byte,3.0,kbps,0.003,Mbps")});
        QCOMPARE(p.skipped, 2);
        QCOMPARE(p.records.size(), 2);
        QCOMPARE(p.records[0].host, QStringLiteral("h"));
        QCOMPARE(p.records[1].kind, HistoryKind::Upload);
    }

    void startedCarriesTheLocalOffset_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("iso");
        QTest::newRow("Tokyo") << QByteArray("Asia/Tokyo") << "2026-12-08T14:35:00+09:00";
        QTest::newRow("UTC is not Z") << QByteArray("UTC") << "2026-12-08T14:35:00+00:00";
        QTest::newRow("behind, half hour")
            << QByteArray("America/St_Johns") << "2026-12-08T14:35:00-03:30";
        QTest::newRow("summer time") << QByteArray("Europe/Berlin") << "2026-07-08T14:35:00+02:00";
    }
    void startedCarriesTheLocalOffset() {
        QFETCH(QByteArray, zone);
        QFETCH(QString, iso);
        setZone(zone.constData());
        const QString date = iso.startsWith(QLatin1String("2026-07"))
                                 ? QStringLiteral("2026-07-08(水)")
                                 : QStringLiteral("2026-12-08(火)");
        const auto r = ParseHistoryLine(
            QStringLiteral("h,%1 14:35:00,62,msec,1,byte,8192.0,kbps,8.000,Mbps").arg(date));
        QVERIFY(r.has_value());
        QCOMPARE(IsoLocalTime(r->started), iso);
    }

    void megabitsAreDecimalFromTheKbpsFigure_data() {
        QTest::addColumn<QString>("kbps");
        QTest::addColumn<QString>("mbitS");
        QTest::newRow("8 Mbps") << "8192.0"
                                << "8.389";
        QTest::newRow("upload example") << "1219.1"
                                        << "1.248";
        QTest::newRow("half a kbps") << "0.5"
                                     << "0.001";
        QTest::newRow("zero") << "0.0"
                              << "0.000";
        QTest::newRow("gigabit") << "976562.5"
                                 << "1000.000";
    }
    void megabitsAreDecimalFromTheKbpsFigure() {
        QFETCH(QString, kbps);
        QFETCH(QString, mbitS);
        const auto r = ParseHistoryLine(
            QStringLiteral("h,2026-12-08(火) 14:35:00,62,msec,1,byte,%1,kbps,8.000,Mbps")
                .arg(kbps));
        QVERIFY(r.has_value());
        QCOMPARE(MbitPerSecondText(*r), mbitS);
    }
};

QTEST_GUILESS_MAIN(HistoryRecordTest)
#include "records_test.moc"
