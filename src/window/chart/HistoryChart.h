// The history chart: Mbps over time for downloads and uploads, following the history list,
// and the line tests of the results journal.
#pragma once

#include "core/history/HistoryRecord.h"
#include "core/history/LineTestPoints.h"
#include "core/history/MeasurementRecord.h"

#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QVector>

class QAbstractItemModel;
class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

// Clean downloads in the moving mean.
inline constexpr int kMovingMeanCount = 5;

class TForm7 final : public QDialog {
    Q_OBJECT

public:
    explicit TForm7(QWidget* parent = nullptr);

    // Follows the model's rows (the history list's own model): a line added, deleted or
    // cleared there shows here at once. The model's first column holds the lines.
    void SetHistoryModel(QAbstractItemModel* model);
    // A fixed set of lines; stops following a model.
    void SetHistory(const QStringList& lines);
    // The fastest record as a horizontal line while the record display is on.
    void SetFastestRecord(bool shown, const QString& mbpsText);
    // Writes the chart view as a PNG; a failure is reported in a message box.
    bool SaveImage(const QString& path);
    // Reads the results journal again (a line test was just added to it). The chart reads it
    // by itself when it opens and whenever the history changes.
    void ReloadJournal();

    QComboBox* ViewBox = nullptr;     // "日時順" or "時間帯別"
    QComboBox* PeriodBox = nullptr;   // the hour view's days: 7, 30, or all
    QComboBox* ComboBox1 = nullptr;   // host filter: all hosts, or one
    QPushButton* Button1 = nullptr;   // "画像として保存…"
    QStackedWidget* Stack1 = nullptr; // the chart, the hour view, or the note for nothing to draw
    QChartView* ChartView1 = nullptr;
    QLabel* Label1 = nullptr; // what an empty history shows instead of axes
    QLabel* Label2 = nullptr; // counts, and the lines left out

    QChart* Chart1 = nullptr;
    QDateTimeAxis* AxisTime = nullptr;
    QValueAxis* AxisMbps = nullptr;
    QScatterSeries* DownloadSeries = nullptr;   // clean downloads, filled (IPv4 with both)
    QScatterSeries* Download6Series = nullptr;  // clean IPv6 downloads, while both occur
    QScatterSeries* MarkedSeries = nullptr;     // "*", hollow
    QScatterSeries* UnmeasuredSeries = nullptr; // "**", hollow
    QScatterSeries* UploadSeries = nullptr;
    QScatterSeries* HttpUploadSeries = nullptr;
    QScatterSeries* LineDownloadSeries = nullptr; // line tests from the journal
    QScatterSeries* LineUploadSeries = nullptr;
    QLineSeries* MeanSeries = nullptr;   // moving mean of the clean downloads
    QLineSeries* RecordSeries = nullptr; // the fastest record

    // The hour-of-day view: per family the mean of each hour as a point and its range as a
    // vertical line (solid for IPv4, dashed for IPv6), IPv4 a little left of the hour.
    QChartView* HourView1 = nullptr;
    QChart* HourChart = nullptr;
    QValueAxis* AxisHour = nullptr;
    QValueAxis* AxisHourMbps = nullptr;
    QScatterSeries* HourMean4Series = nullptr;
    QScatterSeries* HourMean6Series = nullptr;
    QList<QLineSeries*> HourRangeSeries; // one a bucket, in the order of HourBuckets()
    const QList<HourBucket>& HourBuckets() const noexcept { return m_hourBuckets; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Button1Click();
    void ComboBox1Change();
    void ShowView();
    void RedrawHours();
    void ShowHourTip(QScatterSeries* series, const QPointF& point, bool entered);
    void HistoryChanged();
    void Redraw();
    void UpdateHostFilter();
    void ShowPointLine(QScatterSeries* series, const QPointF& point, bool entered);
    QStringList CurrentLines() const;
    void ReadJournal();

    QPointer<QAbstractItemModel> m_model;
    QStringList m_lines; // used when no model is followed
    ParsedHistory m_parsed;
    LineTestPoints m_lineTests;
    QList<FamilyReading> m_readings; // the journal's readings with their family
    // A history line's journal reading, found by kind and start second.
    QHash<QString, FamilyReading> m_readingOf;
    QList<HourBucket> m_hourBuckets;
    int m_journalDamaged = 0; // lines of the journal that were skipped
    QString m_journalProblem; // a journal that could not be read
    bool m_recordShown = false;
    QString m_recordMbps;
    // The history line behind each point, in the order of the series' points.
    QVector<QString> m_downloadLines, m_download6Lines, m_markedLines, m_unmeasuredLines,
        m_uploadLines, m_httpUploadLines, m_lineDownloadTips, m_lineUploadTips;
};
