#include "core/schedule/TimerSchedule.h"

#include <QtTest>

using namespace TimerSchedule;

namespace {
// Plays a schedule as the main window drives it, every run completing, and writes down
// what happens: I interval armed, R run started, G gap armed, E schedule ended.
QString play(int perBurst, int bursts) {
    QString events = QStringLiteral("I");
    std::int32_t counter = NoBurst;
    int left = bursts;
    for (int ticks = 0; ticks < 100; ++ticks) {
        counter = BurstStarted(perBurst); // the interval timer fires
        events += QLatin1Char('R');
        for (;;) {
            const AfterRun after = RunCompleted(counter, left);
            counter = after.counter;
            left = after.burstsLeft;
            if (after.next == Next::End)
                return events + QLatin1Char('E');
            if (after.next == Next::NextBurst) {
                events += QLatin1Char('I');
                break;
            }
            if (after.next == Next::Nothing)
                return events + QLatin1Char('?');
            events += QLatin1Char('G');
            const GapTick tick = GapElapsed(counter);
            counter = tick.counter;
            if (!tick.startRun)
                return events + QLatin1Char('?');
            events += QLatin1Char('R');
        }
    }
    return events + QStringLiteral("...");
}
} // namespace

class ScheduleTest : public QObject {
    Q_OBJECT

private slots:
    void intervalIsMinutesTimesAMinute_data() {
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("msPerMinute");
        QTest::addColumn<int>("interval");
        QTest::newRow("30") << 30 << MsPerMinute << 1800000;
        QTest::newRow("60") << 60 << MsPerMinute << 3600000;
        QTest::newRow("90") << 90 << MsPerMinute << 5400000;
        QTest::newRow("120") << 120 << MsPerMinute << 7200000;
        QTest::newRow("30, shortened") << 30 << 20 << 600;
    }
    void intervalIsMinutesTimesAMinute() {
        QFETCH(int, minutes);
        QFETCH(int, msPerMinute);
        QFETCH(int, interval);
        QCOMPARE(IntervalMs(minutes, msPerMinute), interval);
    }

    void gapIsThreeSeconds() { QCOMPARE(GapMs, 3000); }

    void scheduleMakesBurstsOfRuns_data() {
        QTest::addColumn<int>("perBurst");
        QTest::addColumn<int>("bursts");
        QTest::addColumn<QString>("events");
        QTest::newRow("1 x 1") << 1 << 1 << "IRE";
        QTest::newRow("1 x 3") << 1 << 3 << "IRIRIRE";
        QTest::newRow("2 x 3") << 2 << 3 << "IRGRIRGRIRGRE";
        QTest::newRow("3 x 1") << 3 << 1 << "IRGRGRE";
        QTest::newRow("3 x 2") << 3 << 2 << "IRGRGRIRGRGRE";
    }
    void scheduleMakesBurstsOfRuns() {
        QFETCH(int, perBurst);
        QFETCH(int, bursts);
        QFETCH(QString, events);
        QCOMPARE(play(perBurst, bursts), events);
    }

    void everyChoiceMakesBurstsTimesRuns() {
        for (int perBurst = 1; perBurst <= 3; ++perBurst) {
            for (int bursts = 1; bursts <= 7; ++bursts) {
                const QString events = play(perBurst, bursts);
                QVERIFY2(events.endsWith(QLatin1Char('E')), qPrintable(events));
                QCOMPARE(events.count(QLatin1Char('R')), perBurst * bursts);
                QCOMPARE(events.count(QLatin1Char('I')), bursts);
                QCOMPARE(events.count(QLatin1Char('G')), (perBurst - 1) * bursts);
            }
        }
    }

    void gapTick_data() {
        QTest::addColumn<int>("counter");
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("startRun");
        QTest::newRow("two left") << 2 << 1 << true;
        QTest::newRow("one left") << 1 << 0 << true;
        QTest::newRow("none left") << 0 << -1 << false;
        QTest::newRow("no burst") << int(NoBurst) << int(NoBurst) << false;
    }
    void gapTick() {
        QFETCH(int, counter);
        QFETCH(int, after);
        QFETCH(bool, startRun);
        const GapTick tick = GapElapsed(counter);
        QCOMPARE(tick.counter, after);
        QCOMPARE(tick.startRun, startRun);
    }

    void completedRunMovesTheSchedule_data() {
        QTest::addColumn<int>("counter");
        QTest::addColumn<int>("burstsLeft");
        QTest::addColumn<int>("next");
        QTest::addColumn<int>("counterAfter");
        QTest::addColumn<int>("burstsLeftAfter");
        QTest::newRow("burst goes on") << 1 << 3 << int(Next::NextRun) << 1 << 3;
        QTest::newRow("burst over, two left")
            << 0 << 3 << int(Next::NextBurst) << int(NoBurst) << 2;
        QTest::newRow("last burst over") << 0 << 1 << int(Next::End) << int(NoBurst) << 0;
        // A run the schedule did not start (started by hand or from the command line before
        // the first tick, or between bursts) takes no burst away.
        QTest::newRow("outside a burst")
            << int(NoBurst) << 1 << int(Next::Nothing) << int(NoBurst) << 1;
    }
    void completedRunMovesTheSchedule() {
        QFETCH(int, counter);
        QFETCH(int, burstsLeft);
        QFETCH(int, next);
        QFETCH(int, counterAfter);
        QFETCH(int, burstsLeftAfter);
        const AfterRun after = RunCompleted(counter, burstsLeft);
        QCOMPARE(int(after.next), next);
        QCOMPARE(after.counter, counterAfter);
        QCOMPARE(after.burstsLeft, burstsLeftAfter);
    }
};

QTEST_APPLESS_MAIN(ScheduleTest)
#include "schedule_test.moc"
