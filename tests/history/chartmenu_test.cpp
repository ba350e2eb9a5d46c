// The main window's way to the history chart and the export, and its list's scrolling.
#include "core/measure/NumberFormat.h"
#include "core/measure/RunResult.h"
#include "core/state/StateFile.h"
#include "support/MessageRecorder.h"
#include "support/TempWorkDir.h"
#include "window/chart/HistoryChart.h"
#include "window/main/quillmetUnit1.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QScatterSeries>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>
#include <optional>

namespace {
QString downloadLine(int hour, double mbps) {
    const QDateTime started(QDate(2026, 11, 2), QTime(0, 0));
    return HistoryLine(QStringLiteral("speed.example"), FormatRunDate(started.addSecs(hour * 3600)),
                       QStringLiteral("40"), QStringLiteral("2500000"), FormatFixed(mbps * 1024, 1),
                       FormatFixed(mbps, 3));
}

QStringList downloadLines(int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << downloadLine(i, 10 + i % 7);
    return lines;
}

// The last line lies wholly inside the list's visible part.
bool lastLineInView(const QListWidget* list) {
    const QRect line = list->visualItemRect(list->item(list->count() - 1));
    return list->viewport()->rect().contains(line);
}

TForm7* chartOf(const TForm1& form) {
    const QList<TForm7*> charts = form.findChildren<TForm7*>();
    return charts.size() == 1 ? charts.front() : nullptr;
}
} // namespace

class ChartMenuTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_cwd.emplace(); }
    void cleanup() { m_cwd.reset(); }

    void chartOpensOnceAndFollowsTheList_data() {
        QTest::addColumn<QString>("via");
        QTest::newRow("menu") << "menu";
        QTest::newRow("Ctrl+G") << "key";
        QTest::newRow("double-click") << "double-click";
    }
    void chartOpensOnceAndFollowsTheList() {
        QFETCH(QString, via);
        TForm1 form;
        form.ListBox1->addItems(downloadLines(3));
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        auto open = [&] {
            if (via == QLatin1String("menu")) {
                form.G1->trigger();
            } else if (via == QLatin1String("key")) {
                form.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&form));
                QTest::keyClick(&form, Qt::Key_G, Qt::ControlModifier);
            } else {
                QListWidget* list = form.ListBox1;
                const QPoint at = list->visualItemRect(list->item(1)).center();
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
            }
        };
        open();
        TForm7* chart = chartOf(form);
        QVERIFY(chart);
        QVERIFY(chart->isVisible());
        QVERIFY(!chart->isModal());
        QCOMPARE(chart->DownloadSeries->count(), 3);

        // A run's line shows on the open chart.
        form.AppendHistoryLine(downloadLine(3, 12), 100);
        QCOMPARE(chart->DownloadSeries->count(), 4);

        // Asking again brings back the same window.
        chart->hide();
        open();
        QCOMPARE(chartOf(form), chart);
        QVERIFY(chart->isVisible());
    }

    void recordLineFollowsTheDisplay() {
        TForm1 form;
        form.ListBox1->addItems(downloadLines(3));
        form.Label42->setText(QStringLiteral("81920.0"));
        form.Label43->setText(QStringLiteral("80.000"));
        form.G1->trigger();
        TForm7* chart = chartOf(form);
        QVERIFY(chart);
        QCOMPARE(chart->RecordSeries->count(), 0); // the display is off

        form.onoffR1->trigger();
        QCOMPARE(chart->RecordSeries->count(), 2);
        QCOMPARE(chart->RecordSeries->at(0).y(), 80.0);

        // A new record moves the line.
        form.Edit5->setText(QStringLiteral("92160.0"));
        form.Edit9->setText(QStringLiteral("90.000"));
        form.OfferToFastestRecord(0);
        QCOMPARE(chart->RecordSeries->count(), 2);
        QCOMPARE(chart->RecordSeries->at(0).y(), 90.0);

        form.T1->trigger();
        QVERIFY(chart->RecordSeries->count() == 0 || chart->RecordSeries->at(0).y() == 0.0);

        form.Edit5->setText(QStringLiteral("30720.0"));
        form.Edit9->setText(QStringLiteral("30.000"));
        form.OfferToFastestRecord(0);
        QCOMPARE(chart->RecordSeries->at(0).y(), 30.0);
        form.onoffR1->trigger();
        QCOMPARE(chart->RecordSeries->count(), 0);
    }

    void recordLineOfAStateReadAtStartUp() {
        StateSnapshot state;
        state.ListBox1 = downloadLines(3);
        state.Label43.Caption = QStringLiteral("50.000");
        state.Label44.Caption = QStringLiteral("true");
        QVERIFY(WriteStateFile(QStringLiteral("qm1.dat"), state).ok);
        TForm1 form;
        form.FormCreate();
        form.G1->trigger();
        TForm7* chart = chartOf(form);
        QVERIFY(chart);
        QCOMPARE(chart->RecordSeries->count(), 2);
        QCOMPARE(chart->RecordSeries->at(0).y(), 50.0);
    }

    void exportWritesTheChosenFileOrSaysWhy_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("ok");
        QTest::newRow("csv") << "history.csv" << true;
        QTest::newRow("json") << "history.json" << true;
        QTest::newRow("neither csv nor json") << "history.txt" << false;
    }
    void exportWritesTheChosenFileOrSaysWhy() {
        QFETCH(QString, name);
        QFETCH(bool, ok);
        const QString path = m_cwd->filePath(name);
        TForm1 form;
        form.ListBox1->addItems(downloadLines(4));
        form.show();

        // The user types the name into the file dialog and saves.
        bool answered = false;
        QTimer user;
        connect(&user, &QTimer::timeout, &user, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            user.stop();
            answered = true;
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (name)
                name->setText(path);
            static_cast<QDialog*>(dialog)->accept(); // its own check of the name runs too
        });
        user.start(10);
        MessageRecorder boxes;
        form.X1->trigger();
        QVERIFY(answered);

        QCOMPARE(QFile::exists(path), ok);
        QCOMPARE(form.ListBox1->count(), 4);
        if (ok) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QVERIFY(bytes.contains("speed.example"));
            QVERIFY(boxes.texts().isEmpty());
        } else {
            QCOMPARE(boxes.texts().size(), 1);
            QVERIFY(boxes.texts().front().startsWith(
                QStringLiteral("測定履歴をエクスポートできませんでした。\n") + path));
        }
    }

    void listShowsTheNewestLineAfterStartUp() {
        StateSnapshot state;
        state.ListBox1 = downloadLines(50);
        QVERIFY(WriteStateFile(QStringLiteral("qm1.dat"), state).ok);
        TForm1 form;
        form.FormCreate();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QScrollBar* bar = form.ListBox1->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        QTRY_VERIFY(lastLineInView(form.ListBox1));
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(form.ListBox1->selectedItems().isEmpty()); // nothing for 一行削除 to take
    }

    void appendFollowsTheBottomUnlessScrolledUp() {
        TForm1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QListWidget* list = form.ListBox1;
        QScrollBar* bar = list->verticalScrollBar();
        for (const QString& line : downloadLines(50))
            form.AppendHistoryLine(line, 100);
        QTRY_VERIFY(lastLineInView(list));

        form.AppendHistoryLine(downloadLine(50, 20), 100);
        QTRY_VERIFY(lastLineInView(list));
        QCOMPARE(bar->value(), bar->maximum());

        // The reader stays where they scrolled to.
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        const int reading = bar->value();
        QVERIFY(reading < bar->maximum());
        form.AppendHistoryLine(downloadLine(51, 20), 100);
        QTest::qWait(50);
        QCOMPARE(bar->value(), reading);
        QVERIFY(!lastLineInView(list));

        // Back at the bottom, the list follows again.
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        form.AppendHistoryLine(downloadLine(52, 20), 100);
        QTRY_VERIFY(lastLineInView(list));
        QCOMPARE(list->item(list->count() - 1)->text(), downloadLine(52, 20));
    }

    void tooltipExplainsTheMarksAsTheChartDoes() {
        TForm1 form;
        form.G1->trigger();
        const TForm7* chart = chartOf(form);
        QVERIFY(chart);
        const QStringList tip = form.ListBox1->toolTip().split(QLatin1Char('\n'));
        QCOMPARE(tip.size(), 3);
        QCOMPARE(tip[0], chart->MarkedSeries->name());
        QCOMPARE(tip[1], chart->UnmeasuredSeries->name());
        QVERIFY(tip[2].contains(form.G1->shortcut().toString()));
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_MAIN(ChartMenuTest)
#include "chartmenu_test.moc"
