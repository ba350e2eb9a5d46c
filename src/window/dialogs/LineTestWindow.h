// "回線品質測定": the line test against the main window's server, its throughput and
// connections drawn as they come, then the result; a completed test goes into the journal.
#pragma once

#include "core/history/ResultsJournal.h"
#include "core/server/MeasurementServer.h"

#include <QDialog>
#include <functional>

class LineTestRun;
class QChart;
class QChartView;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPlainTextEdit;
class QPushButton;
class QValueAxis;
struct LineTestResult;
struct LineTestSample;
struct RunOutcome;
// Declared, not included: the line test's result types share a name with the chart's points.
enum class LineTestPhase;

// What a bufferbloat grade means for the user, in one sentence; empty for no grade.
QString LineTestGradeExplanation(const QString& grade);

class LineTestWindow final : public QDialog {
    Q_OBJECT

public:
    explicit LineTestWindow(QWidget* parent = nullptr);
    ~LineTestWindow() override;

    // The server to measure (the main window's), read when the window shows and at the start.
    std::function<MeasurementServer()> ServerSource;
    // True while another measurement is going on or due: the test then does not start.
    std::function<bool()> OtherMeasurementBusy;
    ResultsJournal Journal;

    LineTestRun& Run() const noexcept { return *m_run; }
    bool Running() const noexcept { return m_testing; }
    // The server field follows ServerSource (the choice changed, or the window shows).
    void ShowServer();
    void StartClick();
    // 中止 and Esc: the test ends at once, without a result.
    void StopClick();

    QLineEdit* ServerEdit = nullptr;
    QPushButton* StartButton = nullptr;
    QPushButton* StopButton = nullptr;
    QLabel* PhaseLabel = nullptr;
    QChartView* ChartView = nullptr;
    QChart* Chart = nullptr;
    QLineSeries* DownloadSeries = nullptr; // Mbit/s per sample
    QLineSeries* UploadSeries = nullptr;
    QLineSeries* ConnectionSeries = nullptr; // a step line on the right axis
    QValueAxis* AxisTime = nullptr;
    QValueAxis* AxisMbps = nullptr;
    QValueAxis* AxisConnections = nullptr;
    QLineEdit* DownloadEdit = nullptr;
    QLineEdit* UploadEdit = nullptr;
    QLineEdit* IdleLatencyEdit = nullptr;
    QLineEdit* LoadedLatencyEdit = nullptr;
    QLineEdit* JitterEdit = nullptr;
    QLineEdit* RpmEdit = nullptr;
    QLineEdit* GradeEdit = nullptr;
    QLabel* GradeText = nullptr;
    QPlainTextEdit* NotesText = nullptr;
    QLabel* StatusLabel = nullptr; // refusals, failures and the journal's outcome

signals:
    void testStarted();
    // Completed, failed, stopped or aborted by closing the window.
    void testEnded();
    // A completed test's record is in the journal.
    void journalAppended();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Esc: stops a test under way; otherwise closes the window.
    void reject() override;

private:
    void BuildChart();
    void ClearTest();
    void SetStatus(const QString& text);
    void OnPhase(LineTestPhase phase);
    void OnSampled(const LineTestSample& sample);
    void OnNoted(const QString& text);
    void OnCompleted(const LineTestResult& result);
    void OnFailed(const RunOutcome& outcome);
    void OnStopped();
    void Ended();

    LineTestRun* m_run = nullptr;
    MeasurementServer m_server = MeasurementServer::Default();
    bool m_testing = false;
    double m_peakMbps = 0;
    int m_lastConnections = -1;
};
