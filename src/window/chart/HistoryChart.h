// The history chart: Mbps over time for downloads and uploads, following the history list,
// and the line tests of the results journal.
#pragma once

#include "core/history/HistoryRecord.h"
#include "core/history/LineTestPoints.h"

#include <QDialog>
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

    QComboBox* ComboBox1 = nullptr;   // host filter: all hosts, or one
    QPushButton* Button1 = nullptr;   // "画像として保存…"
    QStackedWidget* Stack1 = nullptr; // the chart, or the note for an empty history
    QChartView* ChartView1 = nullptr;
    QLabel* Label1 = nullptr; // what an empty history shows instead of axes
    QLabel* Label2 = nullptr; // counts, and the lines left out

    QChart* Chart1 = nullptr;
    QDateTimeAxis* AxisTime = nullptr;
    QValueAxis* AxisMbps = nullptr;
    QScatterSeries* DownloadSeries = nullptr;   // clean downloads, filled
    QScatterSeries* MarkedSeries = nullptr;     // "*", hollow
    QScatterSeries* UnmeasuredSeries = nullptr; // "**", hollow
    QScatterSeries* UploadSeries = nullptr;
    QScatterSeries* HttpUploadSeries = nullptr;
    QScatterSeries* LineDownloadSeries = nullptr; // line tests from the journal
    QScatterSeries* LineUploadSeries = nullptr;
    QLineSeries* MeanSeries = nullptr;   // moving mean of the clean downloads
    QLineSeries* RecordSeries = nullptr; // the fastest record

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Button1Click();
    void ComboBox1Change();
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
    int m_journalDamaged = 0; // lines of the journal that were skipped
    QString m_journalProblem; // a journal that could not be read
    bool m_recordShown = false;
    QString m_recordMbps;
    // The history line behind each point, in the order of the series' points.
    QVector<QString> m_downloadLines, m_markedLines, m_unmeasuredLines, m_uploadLines,
        m_httpUploadLines, m_lineDownloadTips, m_lineUploadTips;
};
