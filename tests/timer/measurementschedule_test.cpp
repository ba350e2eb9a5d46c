#include "core/platform/WindowTimer.h"
#include "core/schedule/MeasurementSchedule.h"

#include <QtTest>

namespace {
using Reason = MeasurementSchedule::EndReason;

// Plays the window: each runDue starts a download that completes 10 ms later.
struct Runs {
    explicit Runs(MeasurementSchedule& s)
        : ended(&s, &MeasurementSchedule::ended) {
        clock.start();
        s.RunGoingOn = s.RunStarted = [this] { return running; };
        QObject::connect(&s, &MeasurementSchedule::runDue, [this, &s] {
            due << clock.elapsed();
            running = true;
            QTimer::singleShot(10, &s, [this, &s] {
                running = false;
                ends << clock.elapsed();
                s.RunCompleted();
            });
        });
    }
    QSignalSpy ended;
    QElapsedTimer clock;
    bool running = false;
    QList<qint64> due, ends;
};
} // namespace

class MeasurementScheduleTest : public QObject {
    Q_OBJECT

private slots:
    void threeRunsTwiceComeAGapAndAnIntervalApart() {
        constexpr int interval = 300, gap = 30;
        MeasurementSchedule s;
        Runs runs(s);
        QList<int> left;
        connect(&s, &MeasurementSchedule::changed, [&] { left << s.BurstsLeft(); });
        s.Start(interval, gap, 3, 2);
        QTRY_COMPARE_WITH_TIMEOUT(runs.ended.count(), 1, 10000);
        QCOMPARE(runs.ended.at(0).at(0).value<Reason>(), Reason::Ended);
        QCOMPARE(runs.ends.size(), 6);
        QCOMPARE(left, QList<int>({2, 1, 0}));
        QVERIFY(runs.due[0] >= interval);
        for (int run = 1; run < 6; ++run) {
            const qint64 pause = runs.due[run] - runs.ends[run - 1];
            const QString why = QStringLiteral("run %1 after %2 ms").arg(run + 1).arg(pause);
            QVERIFY2(run % 3 ? pause >= gap && pause < interval : pause >= interval,
                     qPrintable(why));
        }
        QTest::qWait(2 * interval);
        QCOMPARE(runs.due.size(), 6);
    }

    // Alternating, each run of a burst is measured with IPv4 and then with IPv6; the
    // command-line repeat and a schedule without alternation choose no family.
    void aBurstOfOneAlternatingMeasuresIpv4ThenIpv6() {
        MeasurementSchedule s;
        Runs runs(s);
        QList<std::optional<AddressFamily>> families;
        connect(&s, &MeasurementSchedule::runDue, [&] { families << s.DueFamily(); });
        s.SetAlternateFamilies(true);
        s.Start(50, 10, 1, 2);
        QCOMPARE(s.PerBurst(), 1);
        QTRY_COMPARE(runs.ended.count(), 1);
        const std::optional<AddressFamily> v4 = AddressFamily::Ipv4, v6 = AddressFamily::Ipv6;
        QCOMPARE(families, (QList<std::optional<AddressFamily>>{v4, v6, v4, v6}));
        QCOMPARE(s.DueFamily(), std::nullopt);

        s.SetAlternateFamilies(false);
        s.Start(20, 10, 2, 1);
        QTRY_COMPARE(runs.ended.count(), 2);
        QCOMPARE(families.size(), 6);
        QCOMPARE(families.mid(4), (QList<std::optional<AddressFamily>>{{}, {}}));
    }

    void stopDuringARunLeavesNoRunToCome() {
        MeasurementSchedule s;
        Runs runs(s);
        connect(&s, &MeasurementSchedule::runDue, &s, &MeasurementSchedule::Stop);
        s.Start(50, 10, 3, 2);
        QTRY_COMPARE(runs.ends.size(), 1);
        QVERIFY(!s.Active() && !s.IntervalTimer->Enabled() && !s.GapTimer->Enabled());
        QTest::qWait(200);
        QCOMPARE(runs.due.size(), 1);
        QCOMPARE(runs.ended.count(), 0);
    }

    // As quillmet-cli --runs 3 drives it: a run, then a pause before each further one.
    void threeRepeatedRunsHaveTwoPauses() {
        MeasurementSchedule s;
        QCOMPARE(s.RepeatTimer->Interval(), 3000);
        s.RepeatTimer->setInterval(20);
        QEventLoop loop;
        connect(&s, &MeasurementSchedule::runDue, &loop, &QEventLoop::quit);
        s.SetRepeatCount(3, 3);
        int runs = 1;
        for (; s.RepeatAfterRun(); ++runs)
            loop.exec();
        QCOMPARE(runs, 3);
        QVERIFY(!s.RepeatTimer->Enabled());
        QCOMPARE(s.RepeatCount(), 0);
    }
};

QTEST_GUILESS_MAIN(MeasurementScheduleTest)
#include "measurementschedule_test.moc"
