// quillmet-cli --line: the line test against the measurement server, its result as a few
// lines for a person or one JSON record.
#pragma once

#include "cli/CliOptions.h"
#include "core/server/MeasurementServer.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <functional>

class LineTestRun;
class QEventLoop;
struct LineTestResult;
struct RunOutcome;
enum class RunEnd;

// A failure's exit code: the server's doing (an error reply, no Quillmet server) or the line's.
int LineTestExitCode(RunEnd end);
// The default output: download and upload, latency, RPM and the grade, then the notes.
QString LineTestSummaryText(const LineTestResult& result);

class CliLineTest final : public QObject {
    Q_OBJECT

public:
    explicit CliLineTest(CliOptions options, QObject* parent = nullptr);
    ~CliLineTest() override;

    // As CliRunner's: standard output and standard error by default.
    std::function<void(const QByteArray&)> Out;
    QString OutError;
    std::function<void(const QString&)> Err;
    bool ShowProgress = false;

    LineTestRun* Run() const { return m_run; }
    // Every run; the exit code.
    int Measure();
    // A termination signal: the test under way ends, nothing more is written.
    void Interrupt(int signal);

private:
    int MeasureOnce();
    void Wait();
    void Finish(int code);
    bool Emit(const QByteArray& bytes);
    void OnCompleted(const LineTestResult& result);
    void OnFailed(const RunOutcome& outcome);
    // --prometheus: the run's record, or its failure, into the file.
    void WritePrometheus(int code);

    CliOptions m_options;
    MeasurementServer m_server;
    LineTestRun* m_run = nullptr;
    QEventLoop* m_loop = nullptr;
    QTimer m_bound; // --timeout: the whole test's
    QDateTime m_started;
    QJsonObject m_record; // the last completed test's
    QString m_lastMessage;
    bool m_finished = false;
    bool m_progressShown = false;
    int m_code = ExitMeasured;
    int m_signal = 0;
};
