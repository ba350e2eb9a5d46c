#include "core/history/MeasurementRecord.h"
#include "core/history/ResultsJournal.h"
#include "core/measure/NumberFormat.h"
#include "core/measure/RunResult.h"
#include "support/MessageRecorder.h"
#include "window/chart/HistoryChart.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QFile>
#include <QJsonObject>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
#include <QScatterSeries>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QToolTip>
#include <QValueAxis>
#include <QtTest>

namespace {
const QString kHostA = QStringLiteral("a.example");
const QString kHostB = QStringLiteral("b.example:8080");

struct Run {
    QString host; // empty for the upload
    int mark = 0;
    QDateTime started;
    double mbps = 0;
    bool upload = false;
    QString line() const {
        const QString first = upload ? QStringLiteral("*upload(310KB)") : MarkPrefix(mark) + host;
        return HistoryLine(first, FormatRunDate(started), QStringLiteral("40"),
                           QStringLiteral("2500000"), FormatFixed(mbps * 1024, 1),
                           FormatFixed(mbps, 3));
    }
    QPointF point() const { return QPointF(started.toMSecsSinceEpoch(), mbps); }
};

// 19 downloads every five hours, alternating between the hosts (a: 7 clean, 2 "*", 1 "**";
// b: 8 clean, 1 "*"), then one upload.
QList<Run> twentyRuns() {
    QList<Run> runs;
    const QDateTime start(QDate(2026, 12, 7), QTime(6, 10, 0));
    for (int i = 0; i < 19; ++i) {
        Run r;
        r.host = i % 2 == 0 ? kHostA : kHostB;
        const int j = i / 2;
        r.mark = r.host == kHostA ? (j == 2 || j == 8 ? 1 : j == 5 ? 2 : 0) : (j == 3 ? 1 : 0);
        r.started = start.addSecs(i * 5 * 3600);
        r.mbps = 10 + 1.5 * i;
        runs << r;
    }
    Run up;
    up.upload = true;
    up.started = start.addSecs(19 * 5 * 3600);
    up.mbps = 3.5;
    runs << up;
    return runs;
}

QStringList linesOf(const QList<Run>& runs) {
    QStringList lines;
    for (const Run& r : runs)
        lines << r.line();
    return lines;
}

QList<QPointF> sorted(QList<QPointF> points) {
    std::sort(points.begin(), points.end(), [](const QPointF& a, const QPointF& b) {
        return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y());
    });
    return points;
}

QList<QPointF> pointsOf(const QList<Run>& runs, const std::function<bool(const Run&)>& take) {
    QList<QPointF> points;
    for (const Run& r : runs) {
        if (take(r))
            points << r.point();
    }
    return sorted(points);
}

bool inLegend(TForm7& form, QAbstractSeries* series) {
    const QList<QLegendMarker*> markers = form.Chart1->legend()->markers(series);
    return !markers.isEmpty() && markers.front()->isVisible();
}
} // namespace

class HistoryChartTest : public QObject {
    Q_OBJECT

private slots:
    void seriesHoldThePointsOfEachKindAndHost() {
        const QList<Run> runs = twentyRuns();
        TForm7 form;
        form.SetHistory(linesOf(runs) << QStringLiteral("a damaged line"));
        form.show(); // legend markers count as visible only on a shown chart
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QCOMPARE(form.Stack1->currentWidget(), form.ChartView1);
        QCOMPARE(sorted(form.DownloadSeries->points()),
                 pointsOf(runs, [](const Run& r) { return !r.upload && r.mark == 0; }));
        QCOMPARE(sorted(form.MarkedSeries->points()),
                 pointsOf(runs, [](const Run& r) { return r.mark == 1; }));
        QCOMPARE(sorted(form.UnmeasuredSeries->points()),
                 pointsOf(runs, [](const Run& r) { return r.mark == 2; }));
        QCOMPARE(sorted(form.UploadSeries->points()),
                 pointsOf(runs, [](const Run& r) { return r.upload; }));
        QCOMPARE(form.DownloadSeries->count(), 15);
        QVERIFY(form.Label2->text().contains(QStringLiteral("読み取れない1行")));

        // Clean downloads 5 to 15, each the mean of itself and the four clean ones before it.
        QList<double> clean;
        for (const Run& r : runs) {
            if (!r.upload && r.mark == 0)
                clean << r.mbps;
        }
        QCOMPARE(form.MeanSeries->count(), 11);
        const double lastFive = std::accumulate(clean.end() - 5, clean.end(), 0.0) / 5;
        QCOMPARE(form.MeanSeries->points().back().y(), lastFive);
        QCOMPARE(form.MeanSeries->points().front().y(),
                 std::accumulate(clean.begin(), clean.begin() + 5, 0.0) / 5);

        // One host: its downloads only; the upload has no host and stays.
        QCOMPARE(form.ComboBox1->count(), 3);
        form.ComboBox1->setCurrentIndex(form.ComboBox1->findData(kHostB));
        QCOMPARE(sorted(form.DownloadSeries->points()),
                 pointsOf(runs, [](const Run& r) { return r.host == kHostB && r.mark == 0; }));
        QCOMPARE(form.MarkedSeries->count(), 1);
        QCOMPARE(form.UnmeasuredSeries->count(), 0);
        QCOMPARE(form.UploadSeries->count(), 1);
        QCOMPARE(form.MeanSeries->count(), 4);
        QVERIFY(!inLegend(form, form.UnmeasuredSeries));
        QVERIFY(inLegend(form, form.MarkedSeries));

        form.ComboBox1->setCurrentIndex(0);
        QCOMPARE(form.DownloadSeries->count(), 15);
        QVERIFY(inLegend(form, form.UnmeasuredSeries));
    }

    void followsTheHistoryList() {
        QList<Run> runs = twentyRuns();
        QListWidget list;
        list.addItems(linesOf(runs));
        TForm7 form;
        form.SetHistoryModel(list.model());
        QCOMPARE(form.DownloadSeries->count(), 15);
        form.ComboBox1->setCurrentIndex(form.ComboBox1->findData(kHostB));

        Run next = runs[17];
        next.started = runs.back().started.addSecs(3600);
        next.mbps = 99;
        list.addItem(next.line());
        QCOMPARE(form.ComboBox1->currentData().toString(), kHostB); // the choice stays
        QCOMPARE(form.DownloadSeries->count(), 9);
        QVERIFY(form.DownloadSeries->points().contains(next.point()));

        Run other = next;
        other.host = QStringLiteral("c.example");
        list.addItem(other.line());
        QVERIFY(form.ComboBox1->findData(other.host) > 0);

        delete list.takeItem(0); // the first line, host a
        form.ComboBox1->setCurrentIndex(0);
        QCOMPARE(form.DownloadSeries->count(), 16);

        list.clear();
        QCOMPARE(form.Stack1->currentWidget(), form.Label1);
        QCOMPARE(form.Label1->text(), QStringLiteral("測定履歴がありません。"));
        QVERIFY(!form.Button1->isEnabled());
        QCOMPARE(form.ComboBox1->count(), 1);

        list.addItem(runs[0].line());
        QCOMPARE(form.Stack1->currentWidget(), form.ChartView1);
        QCOMPARE(form.DownloadSeries->count(), 1);
    }

    void historyWithNothingToDrawSaysSo() {
        TForm7 form;
        form.SetHistory({QStringLiteral("x"), QString(300, QLatin1Char('x'))});
        QCOMPARE(form.Stack1->currentWidget(), form.Label1);
        QVERIFY(form.Label1->text().contains(QStringLiteral("2行")));
        QVERIFY(!form.Button1->isEnabled());
    }

    void fastestRecordIsAHorizontalLine() {
        TForm7 form;
        form.SetHistory(linesOf(twentyRuns()));
        QCOMPARE(form.RecordSeries->count(), 0);
        form.SetFastestRecord(true, QStringLiteral("80.000"));
        QCOMPARE(form.RecordSeries->count(), 2);
        QCOMPARE(form.RecordSeries->at(0).y(), 80.0);
        QCOMPARE(form.RecordSeries->at(1).y(), 80.0);
        QCOMPARE(form.RecordSeries->at(0).x(), qreal(form.AxisTime->min().toMSecsSinceEpoch()));
        QCOMPARE(form.RecordSeries->at(1).x(), qreal(form.AxisTime->max().toMSecsSinceEpoch()));
        QVERIFY(form.AxisMbps->max() >= 80.0);
        QVERIFY(form.RecordSeries->name().contains(QStringLiteral("80.000")));
        form.SetFastestRecord(true, QStringLiteral("0")); // cleared
        QCOMPARE(form.RecordSeries->count(), 0);
        form.SetFastestRecord(false, QStringLiteral("80.000"));
        QCOMPARE(form.RecordSeries->count(), 0);
    }

    void hoveringAPointShowsItsLine() {
        const QList<Run> runs = twentyRuns();
        TForm7 form;
        form.SetHistory(linesOf(runs));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        for (int i : {4, 10, 19}) { // "*", "**", the upload
            QScatterSeries* s = runs[i].upload      ? form.UploadSeries
                                : runs[i].mark == 1 ? form.MarkedSeries
                                                    : form.UnmeasuredSeries;
            emit s->hovered(runs[i].point(), true);
            QTRY_COMPARE(QToolTip::text(), runs[i].line());
            QCOMPARE(form.Chart1->toolTip(), runs[i].line());
            emit s->hovered(runs[i].point(), false);
            QVERIFY(form.Chart1->toolTip().isEmpty());
        }
    }

    void markupInAHistoryLineIsShownAsText() {
        Run edited;
        edited.host = QStringLiteral("<img src=\"file:///etc/x.png\"><font size=7>big</font>");
        edited.started = QDateTime(QDate(2026, 12, 7), QTime(6, 10, 0));
        edited.mbps = 12;
        TForm7 form;
        form.SetHistory({edited.line()});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        emit form.DownloadSeries->hovered(edited.point(), true);
        const QString tip = form.Chart1->toolTip();
        // A tooltip is taken for markup when it looks like markup: what it then shows is the
        // line, character for character, and no image.
        QVERIFY(Qt::mightBeRichText(tip));
        QTextDocument shown;
        shown.setHtml(tip);
        QCOMPARE(shown.toPlainText(), edited.line());
        QVERIFY(!shown.toHtml().contains(QStringLiteral("<img")));
    }

    // Line tests come from the results journal as series of their own, in the chart's Mbps.
    void lineTestsOfTheJournalAreTheirOwnSeries() {
        QTemporaryDir data;
        const auto restore =
            qScopeGuard([old = qgetenv("XDG_DATA_HOME")] { qputenv("XDG_DATA_HOME", old); });
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        const auto test = [](const char* started, double down, const QJsonValue& up) {
            const auto speed = [](const QJsonValue& v) { return QJsonObject{{"bytes_per_s", v}}; };
            return QJsonObject{
                {"kind", "line"}, {"started", started},      {"server", "qm.example:8080"},
                {"grade", "B"},   {"download", speed(down)}, {"upload", speed(up)}};
        };
        QVERIFY(ResultsJournal().Append(test("2026-12-07T09:00:00.000+09:00", 125e6, 25e6)).ok());
        QVERIFY(ResultsJournal().Append(test("2026-12-08T09:00:00+09:00", 131072e3, "x")).ok());
        QFile torn(ResultsJournal().Path());
        QVERIFY(torn.open(QIODevice::Append) && torn.write("{\"kind\":\"li") > 0);
        torn.close();
        TForm7 form;
        QCOMPARE(form.Stack1->currentWidget(), form.ChartView1); // no history, but line tests
        const QDateTime first(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC);
        // 125,000,000 bytes/s: 10^9 bits/s, 953.674 Mbps of 2^20 bits; "x" is no speed.
        QCOMPARE(form.LineDownloadSeries->points(),
                 (QList<QPointF>{{qreal(first.toMSecsSinceEpoch()), 1e9 / 1048576},
                                 {qreal(first.addDays(1).toMSecsSinceEpoch()), 1000}}));
        QCOMPARE(form.LineUploadSeries->points(),
                 QList<QPointF>{QPointF(first.toMSecsSinceEpoch(), 2e8 / 1048576)});
        QVERIFY(form.Label2->text().contains(QStringLiteral("回線品質 2件")));
        QCOMPARE(form.Label2->text().count(QStringLiteral("読み取れない1行")), 1);
        emit form.LineDownloadSeries->hovered(form.LineDownloadSeries->at(0), true);
        QCOMPARE(form.Chart1->toolTip(),
                 QStringLiteral("回線品質(下り)\n%1\n953.674 Mbps（1000.000 Mbit/s）\n評価 B\n"
                                "サーバー qm.example:8080")
                     .arg(FormatRunDate(first.toLocalTime())));
    }

    // From the keyboard to the hour view: each family's hours as means with their range, and
    // in the time view the IPv6 download of the history as a series of its own.
    void theViewSwitchShowsTheHoursOfEachFamily() {
        QTemporaryDir data;
        const auto restore =
            qScopeGuard([old = qgetenv("XDG_DATA_HOME")] { qputenv("XDG_DATA_HOME", old); });
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        const QDate today = QDate::currentDate();
        const auto record = [](const QDateTime& started, const char* family, double mbps) {
            return MeasurementRecord(MeasurementKind::Download, started, kHostA,
                                     {*AddressFamilyFromName(family), QStringLiteral("::1")},
                                     mbps * 131072, 0);
        };
        const QDateTime v6At(today.addDays(-1), QTime(19, 0, 5, 300));
        for (const QJsonObject& r :
             {record(QDateTime(today.addDays(-2), QTime(19, 20)), "ipv4", 10),
              record(QDateTime(today.addDays(-1), QTime(19, 40)), "ipv4", 30),
              record(v6At, "ipv6", 50),
              record(QDateTime(today.addDays(-3), QTime(7, 0)), "ipv6", 80)})
            QVERIFY(ResultsJournal().Append(r).ok());
        Run v6{kHostA, 0, v6At.addMSecs(-300), 50};
        TForm7 form;
        form.SetHistory({v6.line()});
        QCOMPARE(form.Download6Series->points(), QList<QPointF>{v6.point()});
        QCOMPARE(form.DownloadSeries->name(), QStringLiteral("ダウンロード（IPv4）"));

        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.ViewBox->setFocus();
        QTest::keyClick(form.ViewBox, Qt::Key_Down);
        QCOMPARE(form.Stack1->currentWidget(), form.HourView1);
        QVERIFY(form.PeriodBox->isEnabled() && !form.ComboBox1->isEnabled());
        QCOMPARE(form.HourMean4Series->points(), QList<QPointF>{QPointF(19 - 0.17, 20)});
        QCOMPARE(form.HourMean6Series->points(),
                 (QList<QPointF>{QPointF(7 + 0.17, 80), QPointF(19 + 0.17, 50)}));
        QCOMPARE(form.HourRangeSeries.size(), 3);
        QCOMPARE(form.HourRangeSeries[1]->points(), // 7 h IPv6, then 19 h IPv4
                 (QList<QPointF>{QPointF(19 - 0.17, 10), QPointF(19 - 0.17, 30)}));
        const auto legend = [&form](QAbstractSeries* series) {
            const QList<QLegendMarker*> m = form.HourChart->legend()->markers(series);
            return !m.isEmpty() && m.front()->isVisible();
        };
        // One legend entry for each family's ranges, whatever the number of hours.
        QVERIFY(legend(form.HourMean4Series) && legend(form.HourMean6Series));
        QCOMPARE(std::count_if(form.HourRangeSeries.begin(), form.HourRangeSeries.end(), legend),
                 2);
        QCOMPARE_NE(form.HourRangeSeries[1]->pen().style(), form.HourRangeSeries[0]->pen().style());

        form.ViewBox->setCurrentIndex(0);
        QCOMPARE(form.Stack1->currentWidget(), form.ChartView1);
    }

    void timeAxisTicksFallOnWholeHoursAndDays_data() {
        QTest::addColumn<QDateTime>("first");
        QTest::addColumn<QDateTime>("last");
        QTest::addColumn<bool>("midnight");
        QTest::addColumn<bool>("year");
        const auto at = [](int y, int mo, int d, int h, int mi) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi));
        };
        QTest::newRow("one run") << at(2026, 12, 8, 10, 20) << at(2026, 12, 8, 10, 20) << false
                                 << false;
        QTest::newRow("on the hour")
            << at(2026, 12, 8, 10, 0) << at(2026, 12, 8, 13, 0) << false << false;
        QTest::newRow("three hours")
            << at(2026, 12, 8, 10, 20) << at(2026, 12, 8, 13, 40) << false << false;
        QTest::newRow("a day") << at(2026, 12, 8, 10, 20) << at(2026, 12, 9, 9, 0) << false
                               << false;
        QTest::newRow("a week") << at(2026, 12, 7, 8, 0) << at(2026, 12, 13, 22, 0) << true
                                << false;
        QTest::newRow("three months")
            << at(2026, 9, 10, 8, 0) << at(2026, 12, 8, 22, 0) << true << false;
        QTest::newRow("two years")
            << at(2025, 1, 3, 8, 0) << at(2026, 12, 8, 22, 0) << true << true;
        QTest::newRow("thirty years")
            << at(1996, 1, 3, 8, 0) << at(2026, 12, 8, 22, 0) << true << true;
    }
    void timeAxisTicksFallOnWholeHoursAndDays() {
        QFETCH(QDateTime, first);
        QFETCH(QDateTime, last);
        QFETCH(bool, midnight);
        QFETCH(bool, year);
        Run a{kHostA, 0, first, 20};
        Run b{kHostA, 0, last, 30};
        TForm7 form;
        form.SetHistory({a.line(), b.line()});
        const QDateTime min = form.AxisTime->min();
        const QDateTime max = form.AxisTime->max();
        QVERIFY2(min < first && max > last, qPrintable(min.toString() + " " + max.toString()));
        const int ticks = form.AxisTime->tickCount();
        QVERIFY2(ticks >= 2 && ticks <= 10, qPrintable(QString::number(ticks)));
        const qint64 step = min.secsTo(max) / (ticks - 1);
        QCOMPARE(min.secsTo(max) % (ticks - 1), 0);
        QCOMPARE(step % 3600, 0);
        QCOMPARE(min.time().minute(), 0);
        QCOMPARE(min.time().second(), 0);
        if (midnight)
            QCOMPARE(min.time(), QTime(0, 0));
        QCOMPARE(form.AxisTime->format().contains(QStringLiteral("yyyy")), year);
    }

    void savesTheChartAsAPngOfTheViewsSize() {
        TForm7 form;
        form.SetHistory(linesOf(twentyRuns()));
        form.resize(820, 540);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTemporaryDir dir;
        const QString path = dir.filePath("chart.png");
        MessageRecorder boxes;
        QVERIFY(form.SaveImage(path));
        QVERIFY(boxes.texts().isEmpty());

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(8), QByteArray("\x89PNG\r\n\x1a\n"));
        const QImage image(path, "PNG");
        QCOMPARE(image.size(), form.ChartView1->size() * form.ChartView1->devicePixelRatio());
        // The clean downloads are drawn filled in their colour.
        const QRgb download = form.DownloadSeries->brush().color().rgb();
        int hits = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                hits += image.pixel(x, y) == download;
        }
        QVERIFY2(hits > 15 * 10, qPrintable(QString::number(hits)));

        const QString nowhere = dir.filePath("missing/chart.png");
        QVERIFY(!form.SaveImage(nowhere));
        QCOMPARE(boxes.texts().size(), 1);
        QVERIFY(boxes.texts().front().startsWith(QStringLiteral("画像を保存できませんでした。\n") +
                                                 nowhere));
        QVERIFY(!QFile::exists(nowhere));
    }
};

QTEST_MAIN(HistoryChartTest)
#include "chart_test.moc"
