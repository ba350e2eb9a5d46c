#include "core/platform/Exceptions.h"
#include "core/platform/Tick.h"
#include "core/platform/WindowTimer.h"
#include "support/MessageRecorder.h"
#include "window/widgets/ExceptionReport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

class PlatformTest : public QObject {
    Q_OBJECT

private slots:
    void strToInt_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "3" << true << 3;
        QTest::newRow("zero") << "0" << true << 0;
        QTest::newRow("negative") << "-1" << true << -1;
        QTest::newRow("plus") << "+6" << true << 6;
        QTest::newRow("leading blanks") << "  12" << true << 12;
        QTest::newRow("max") << "2147483647" << true << 2147483647;
        QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
        QTest::newRow("overflow") << "2147483648" << false << 0;
        QTest::newRow("letters") << "abc" << false << 0;
        QTest::newRow("trailing") << "3x" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("sign only") << "-" << false << 0;
        QTest::newRow("fraction") << "1.5" << false << 0;
    }
    void strToInt() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        try {
            const int got = StrToInt(text.toStdString());
            QVERIFY(ok);
            QCOMPARE(got, value);
        } catch (const EConvertError& e) {
            QVERIFY(!ok);
            QCOMPARE(QString::fromUtf8(e.what()), "'" + text + "' は整数ではありません");
        }
    }

    void tickDiffReadsAcrossTheWrap() {
        QCOMPARE(TickDiff(5u, 0xFFFFFFFBu), 10);
        QCOMPARE(TickDiff(0xFFFFFFFBu, 5u), -10);
        SetTickOffsetForTest(0xFFFFFFFFu - Tick() + 1);
        const auto before = Tick();
        QTest::qWait(20);
        QVERIFY(TickDiff(Tick(), before) >= 15);
        SetTickOffsetForTest(0);
    }

    void guardedReportsAndGoesOn() {
        MessageRecorder messages;
        bool after = false;
        Guarded([] { throw Exception("Connection Failed"); });
        Guarded([&] { after = true; });
        QCOMPARE(messages.texts(), QStringList{"Connection Failed"});
        QVERIFY(after);
    }

    void windowTimerFiresOnlyWhileEnabledWithInterval() {
        WindowTimer timer(nullptr, 0);
        int ticks = 0;
        timer.OnTimer = [&] { ++ticks; };
        timer.setEnabled(true);
        QTest::qWait(50);
        QCOMPARE(ticks, 0); // interval 0 never fires

        timer.setInterval(10);
        QTRY_VERIFY(ticks >= 2);
        timer.setEnabled(false);
        const int stopped = ticks;
        QTest::qWait(40);
        QCOMPARE(ticks, stopped);
    }

    void windowTimerOneShotByDisablingInHandler() {
        WindowTimer timer(nullptr, 10);
        int ticks = 0;
        timer.OnTimer = [&] {
            timer.setEnabled(false);
            ++ticks;
        };
        QElapsedTimer clock;
        clock.start();
        timer.setEnabled(true);
        QTRY_COMPARE(ticks, 1);
        QVERIFY(clock.elapsed() >= 9);
        QTest::qWait(50);
        QCOMPARE(ticks, 1);
    }

    void windowTimerHandlerExceptionIsReported() {
        MessageRecorder messages;
        WindowTimer timer(nullptr, 5);
        timer.OnTimer = [&] {
            timer.setEnabled(false);
            throw Exception("boom");
        };
        timer.setEnabled(true);
        QTRY_COMPARE(messages.texts(), QStringList{"boom"});
    }
};

QTEST_MAIN(PlatformTest)
#include "platform_test.moc"
