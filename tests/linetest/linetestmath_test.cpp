// The line test's arithmetic with figures worked out by hand.
#include "core/linetest/LineTestMath.h"

#include <QTest>

class LineTestMathTest final : public QObject {
    Q_OBJECT

private slots:
    void gradeEdges_data() {
        QTest::addColumn<double>("increaseMs");
        QTest::addColumn<QString>("grade");
        QTest::newRow("none") << -0.4 << QStringLiteral("A+");
        QTest::newRow("just under 5") << 4.99 << QStringLiteral("A+");
        QTest::newRow("5") << 5.0 << QStringLiteral("A");
        QTest::newRow("30") << 30.0 << QStringLiteral("B");
        QTest::newRow("59.9") << 59.9 << QStringLiteral("B");
        QTest::newRow("60") << 60.0 << QStringLiteral("C");
        QTest::newRow("200") << 200.0 << QStringLiteral("D");
        QTest::newRow("399") << 399.0 << QStringLiteral("D");
        QTest::newRow("400") << 400.0 << QStringLiteral("F");
    }
    void gradeEdges() {
        QFETCH(double, increaseMs);
        QFETCH(QString, grade);
        QCOMPARE(BufferbloatGrade(increaseMs), grade);
    }

    // 20 probes 1..20 ms: the top 5 % is one probe (20), the mean of 1..19 is 10 ms: 6,000 RPM.
    void trimmedMeanDropsTheSlowestTwentieth() {
        std::vector<double> probes;
        for (int i = 20; i >= 1; --i)
            probes.push_back(i);
        QCOMPARE(TrimmedMean(probes), 10.0);
        QCOMPARE(Rpm(TrimmedMean(probes)), 6000);
        // Ten probes keep all: (1 + ... + 9 + 100) / 10 = 14.5.
        QCOMPARE(TrimmedMean({100, 1, 2, 3, 4, 5, 6, 7, 8, 9}), 14.5);
    }

    void rpmAndBand() {
        QCOMPARE(Rpm(25.0), 2400);
        QCOMPARE(RpmBand(Rpm(25.0)), QStringLiteral("Excellent"));
        QCOMPARE(Rpm(60.0), 1000);
        QCOMPARE(RpmBand(999), QStringLiteral("Fair"));
        QCOMPARE(Rpm(250.0), 240);
        QCOMPARE(RpmBand(240), QStringLiteral("Poor"));
        QCOMPARE(Rpm(0), 0);
    }

    // 10, 12, 9, 9: |2| + |-3| + |0| over 3 = 5/3; median (9 + 10) / 2.
    void latencySummary() {
        const LatencySummary s = SummarizeLatency({10, 12, 9, 9});
        QCOMPARE(s.medianMs, 9.5);
        QCOMPARE(s.lowMs, 9.0);
        QCOMPARE(s.highMs, 12.0);
        QCOMPARE(s.jitterMs, 5.0 / 3.0);
        QCOMPARE(s.count, 4);
    }

    void rampGrowsWhileTheAggregateDoes() {
        QCOMPARE(DecideRamp(0, 50, 1, 16), RampDecision::Add);
        QCOMPARE(DecideRamp(100, 106, 2, 16), RampDecision::Add);
        QCOMPARE(DecideRamp(100, 105, 2, 16), RampDecision::Done); // 5 % is not more than 5 %
        QCOMPARE(DecideRamp(100, 0, 2, 16), RampDecision::Wait);
        QCOMPARE(DecideRamp(100, 500, 16, 16), RampDecision::Done);
    }

    // Second averages 100, 100, 100, 108: mean 102, deviation sqrt((3 * 4 + 36) / 4) = 3.46,
    // 3.4 % of the mean. With 120 instead: mean 105, deviation sqrt(75) = 8.66, 8.2 %.
    void stableWhenTheLastFourSecondsAgree() {
        const auto seconds = [](std::initializer_list<double> perSecond) {
            std::vector<double> samples(5, 1.0); // ramp-up before
            for (const double s : perSecond)
                samples.insert(samples.end(), 10, s);
            return samples;
        };
        QVERIFY(IsStable(seconds({100, 100, 100, 108}), 10));
        QVERIFY(!IsStable(seconds({100, 100, 100, 120}), 10));
        QVERIFY(!IsStable(seconds({100, 100, 100}), 10)); // three seconds are not enough
        // Within a second the samples may vary freely: only the averages count.
        std::vector<double> uneven = seconds({100, 100, 100, 100});
        uneven[uneven.size() - 1] = 190;
        uneven[uneven.size() - 2] = 10;
        QVERIFY(IsStable(uneven, 10));
    }
};

QTEST_GUILESS_MAIN(LineTestMathTest)
#include "linetestmath_test.moc"
