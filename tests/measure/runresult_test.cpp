#include "QuillmetConfig.h"
#include "core/measure/NumberFormat.h"
#include "core/measure/RunResult.h"

#include <QtTest>
#include <algorithm>
#include <cmath>

class RunResultTest : public QObject {
    Q_OBJECT

private slots:
    void numberFormat_data() {
        QTest::addColumn<long double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("text");
        QTest::newRow("half up, 1 decimal") << 2.25L << 1 << "2.3";
        QTest::newRow("half away from zero, negative") << -2.25L << 1 << "-2.3";
        QTest::newRow("exact binary half at 3 decimals") << 0.0625L << 3 << "0.063";
        QTest::newRow("just below a half stays down") << std::nextafter(2.25L, 0.0L) << 1 << "2.2";
        QTest::newRow("double nearest 2.35 is above the half")
            << static_cast<long double>(2.35) << 1 << "2.4"; // 2.35000000000000008882
        QTest::newRow("double nearest 0.0005 is above")
            << static_cast<long double>(0.0005) << 3 << "0.001";
        QTest::newRow("zero kbps") << 0.0L << 1 << "0.0";
        QTest::newRow("zero Mbps") << 0.0L << 3 << "0.000";
        QTest::newRow("negative zero") << -0.0L << 1 << "0.0";
        QTest::newRow("tiny negative rounds to zero") << -0.01L << 1 << "0.0";
        QTest::newRow("carry through nines") << 999.96L << 1 << "1000.0";
        QTest::newRow("carry into a new digit") << 9.9996L << 3 << "10.000";
        QTest::newRow("no thousands separator") << 1234567.89L << 1 << "1234567.9";
        QTest::newRow("15 significant digits") << 123456789012345.67L << 1 << "123456789012346.0";
        QTest::newRow("beyond 15 digits zeros")
            << 12345678901234567.0L << 1 << "12345678901234600.0";
        QTest::newRow("small Mbps") << 0.002288818359375L << 3 << "0.002";
        QTest::newRow("integer") << 8192.0L << 1 << "8192.0";
        QTest::newRow("infinite") << static_cast<long double>(INFINITY) << 1 << "INF";
    }
    void numberFormat() {
        QFETCH(long double, value);
        QFETCH(int, decimals);
        QFETCH(QString, text);
        QCOMPARE(FormatFixed(value, decimals), text);
    }

    void orderingPutsExtremesAtTheEnds() {
        // Every permutation of five distinct speeds, and with ties.
        const std::array<std::array<long double, 5>, 3> sets = {{
            {100, 200, 300, 400, 10000},
            {5, 5, 7, 7, 1},
            {3, 3, 3, 3, 3},
        }};
        for (auto base : sets) {
            std::sort(base.begin(), base.end());
            auto perm = base;
            do {
                auto s = perm;
                OrderSpeeds(s);
                QCOMPARE(s[0], base[0]);
                QCOMPARE(s[4], base[4]);
                std::array<long double, 3> middle{s[1], s[2], s[3]};
                std::sort(middle.begin(), middle.end());
                QCOMPARE(middle[0], base[1]);
                QCOMPARE(middle[1], base[2]);
                QCOMPARE(middle[2], base[3]);
            } while (std::next_permutation(perm.begin(), perm.end()));
        }
    }

    void resultOfTheMiddleThree() {
        std::array<long double, 5> speeds{10000, 300, 100, 400, 200};
        const RunResult r = ComputeRunResult({10, 20, 30, 40, 50}, speeds, 1048576);
        QCOMPARE(r.kbpsText, QStringLiteral("2.3")); // 300 B/s = 2.34375 kbps
        QCOMPARE(r.mbpsText, QStringLiteral("0.002"));
        QCOMPARE(r.connectText, QStringLiteral("75")); // sum ÷ 2, not ÷ 5
        QCOMPARE(r.bytesText, QStringLiteral("1048576"));
        // Mean of all five: 11000 B/s × 1.6 / 2^20.
        QVERIFY(std::fabs(r.meanMbpsOfFive - 11000.0L * 1.6L / 1048576.0L) < 1e-12L);
    }

    void resultOfEqualSpeedsIsThatSpeed() {
        std::array<long double, 5> speeds{};
        speeds.fill(1048576.0L); // 8 Mbps
        const RunResult r = ComputeRunResult({1, 1, 1, 1, 1}, speeds, 1);
        QCOMPARE(r.kbpsText, QStringLiteral("8192.0"));
        QCOMPARE(r.mbpsText, QStringLiteral("8.000"));
        QCOMPARE(r.connectText, QStringLiteral("2")); // 5 ÷ 2 truncates
    }

    void connectTimeSumTruncatesTowardZero() {
        std::array<long double, 5> speeds{};
        QCOMPARE(ComputeRunResult({-1, -2, 0, 0, 0}, speeds, 0).connectText, QStringLiteral("-1"));
        QCOMPARE(ComputeRunResult({2147483647, 2147483647, 0, 0, 0}, speeds, 0).connectText,
                 QStringLiteral("2147483647"));
    }

    void unsteadyRounds_data() {
        QTest::addColumn<double>("speed");
        QTest::addColumn<double>("previous");
        QTest::addColumn<bool>("unsteady");
        QTest::newRow("exactly double") << 200.0 << 100.0 << false;
        QTest::newRow("exactly half") << 50.0 << 100.0 << false;
        QTest::newRow("a little more than double") << 200.001 << 100.0 << true;
        QTest::newRow("a little less than half") << 49.999 << 100.0 << true;
        QTest::newRow("equal") << 100.0 << 100.0 << false;
        QTest::newRow("zero after zero") << 0.0 << 0.0 << false;
        QTest::newRow("something after zero") << 1.0 << 0.0 << true;
    }
    void unsteadyRounds() {
        QFETCH(double, speed);
        QFETCH(double, previous);
        QFETCH(bool, unsteady);
        QCOMPARE(IsUnsteadyRound(speed, previous), unsteady);
    }

    void roundTexts() {
        QCOMPARE(RoundKbpsText(300), QStringLiteral("2.3"));
        QCOMPARE(RoundMbpsText(131072), QStringLiteral("1.000"));
        QCOMPARE(RoundKbpsText(0), QStringLiteral("0.0"));
    }

    void tooSmall_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<double>("mbps");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<bool>("tooSmall");
        const QString portal = QString::fromUtf8(qmconfig::CarrierPortalHost);
        QTest::newRow("fast, small") << "localhost:8080" << 50.0 << 1500000 << true;
        QTest::newRow("exactly 30 Mbps") << "localhost:8080" << 30.0 << 1500000 << false;
        QTest::newRow("just over 30") << "localhost:8080" << 30.0001 << 1500000 << true;
        QTest::newRow("at the size threshold") << "localhost:8080" << 50.0 << 2500000 << false;
        QTest::newRow("just under the size") << "localhost:8080" << 50.0 << 2499999 << true;
        QTest::newRow("portal, 1.5 MB") << portal << 50.0 << 1500000 << false;
        QTest::newRow("portal, just under 1 MB") << portal << 50.0 << 999999 << true;
        QTest::newRow("portal, at 1 MB") << portal << 50.0 << 1000000 << false;
        QTest::newRow("portal host is case-sensitive")
            << portal.toUpper() << 50.0 << 1500000 << true;
    }
    void tooSmall() {
        QFETCH(QString, host);
        QFETCH(double, mbps);
        QFETCH(int, bytes);
        QFETCH(bool, tooSmall);
        QCOMPARE(IsFileTooSmall(host, mbps, bytes), tooSmall);
    }

    void hostPart_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("host");
        QTest::newRow("plain") << "http://server/qm/x.jpg"
                               << "server";
        QTest::newRow("port") << "http://localhost:8080/qm/qm1M.jpg"
                              << "localhost:8080";
        QTest::newRow("user name") << "http://user@host/x.jpg"
                                   << "user@host";
        QTest::newRow("no slash") << "http://host.example"
                                  << "";
        QTest::newRow("starts with slash") << "http:///x.jpg"
                                           << "";
        QTest::newRow("Japanese host") << "http://測定.example/a.jpg"
                                       << "測定.example";
    }
    void hostPart() {
        QFETCH(QString, url);
        QFETCH(QString, host);
        QCOMPARE(UrlHostPart(url), host);
    }

    void runDateUsesJapaneseWeekdays() {
        QCOMPARE(FormatRunDate(QDateTime(QDate(2013, 5, 19), QTime(7, 15, 5))),
                 QStringLiteral("2013-05-19(日) 07:15:05"));
        const QString names = QStringLiteral("月火水木金土日");
        for (int day = 0; day < 7; ++day) {
            const QDateTime when(QDate(2026, 12, 7).addDays(day), QTime(23, 59, 59)); // a Monday
            QCOMPARE(FormatRunDate(when).mid(11, 1), names.mid(day, 1));
        }
    }

    void historyLineLayout() {
        QCOMPARE(HistoryLine(MarkPrefix(1) + "server", "2013-05-19(日) 07:15:05", "62", "1048576",
                             "8192.0", "8.000"),
                 QStringLiteral("*server,2013-05-19(日) 07:15:05,62,msec,1048576,byte,8192.0,kbps,"
                                "8.000,Mbps"));
        QCOMPARE(MarkPrefix(0), QString());
        QCOMPARE(MarkPrefix(2), QStringLiteral("**"));
    }
};

QTEST_MAIN(RunResultTest)
#include "runresult_test.moc"
