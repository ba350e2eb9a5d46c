// The runs of quillmet-cli: start checks, the history lock, the measurements and their records.
#pragma once

#include "cli/CliOptions.h"
#include "cli/CliOutput.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class DownloadRun;
class HttpUploadRun;
class MeasurementSchedule;
class QEventLoop;
class StateFileLock;
class UploadRun;
struct DownloadResult;
struct HttpUploadResult;
struct RunOutcome;
struct UploadResult;

class CliRunner final : public QObject {
    Q_OBJECT

public:
    explicit CliRunner(CliOptions options, QObject* parent = nullptr);
    ~CliRunner() override;

    // Where records and messages go: standard output and standard error by default.
    // OutError is set by an Out that could not write: the system's reason.
    std::function<void(const QByteArray&)> Out;
    QString OutError;
    std::function<void(const QString&)> Err;
    // A progress line on standard error (a terminal, and no --quiet).
    bool ShowProgress = false;
    // The state file that --append-history adds to.
    QString StatePath = QStringLiteral("qm1.dat");
    // Where every measured run's record goes as well.
    QString JournalPath;

    DownloadRun* Download() const { return m_download; }
    MeasurementSchedule* Schedule() const { return m_schedule; }
    UploadRun* Upload() const { return m_upload; }
    HttpUploadRun* HttpUpload() const { return m_httpUpload; }

    // Start checks, then, with --append-history, the lock and a whole read of the state
    // file: the exit code that ends the program, or ExitMeasured to go on.
    int Prepare();
    // The runs; the exit code.
    int Measure();
    // A termination signal: the request under way ends, nothing more is written.
    void Interrupt(int signal);

private:
    int DownloadOnce(CliRecord* record);
    int UploadOnce(CliRecord* record);
    int HttpUploadOnce(CliRecord* record);
    int RunOnce(CliRecord* record, const std::function<void()>& start);
    // Runs the event loop until Finish() or an interrupt.
    void Wait();
    void Finish(int code);
    // The pause after a run; false when no run follows or a signal ended it.
    bool Pause();
    // False when the record could not be written; the message has been told.
    bool Print(const CliRecord& record);
    bool Emit(const QByteArray& bytes);
    // A failed run's record in a series (--json, --csv).
    bool PrintFailure(int code);
    // --prometheus: the run's figures, or (null) its failure, into the file.
    void WritePrometheus(const CliRecord* measured);
    void Progress();
    void ClearProgress();
    void Message(const QString& text);

    // The whole run's bound and the reply header's: the run ends as timed out.
    void OnMaxTime();
    void OnHeaderDeadline();
    // The host (and port) a failed download last tried, as the URL names it where they agree.
    QString ContactedHost() const;
    void EndTimedOut(const QString& text);

    void OnCompleted(const DownloadResult& result);
    void OnDownloadFailed(const RunOutcome& outcome);
    void OnUploadFinished(const UploadResult& result);
    void OnHttpUploadCompleted(const HttpUploadResult& result);
    void OnHttpUploadFailed(const RunOutcome& outcome);
    // What the run measures against, for messages and records.
    QString Target() const;
    // The family run number `run` (from 1) uses: with --family both, IPv4 then IPv6 in turn.
    std::optional<AddressFamily> RunFamily(int run) const;
    // A journal that cannot take the record is told on standard error; the run stands.
    void Journal(const CliRecord& record);

    CliOptions m_options;
    DownloadRun* m_download = nullptr;
    UploadRun* m_upload = nullptr;
    HttpUploadRun* m_httpUpload = nullptr;
    MeasurementServer m_server; // --upload-http's
    MeasurementSchedule* m_schedule = nullptr;
    std::unique_ptr<StateFileLock> m_lock;

    QEventLoop* m_loop = nullptr;
    bool m_finished = false;
    int m_code = ExitMeasured;
    int m_signal = 0;
    CliRecord* m_record = nullptr;
    QDateTime m_started;
    QString m_lastMessage; // the run's, for its failure record

    // --max-time from the run's start; --timeout from each request to its header's end.
    QTimer m_maxTimer;
    QTimer m_headerTimer;

    // Progress.
    QTimer m_progressTimer;
    QElapsedTimer m_runClock;
    QString m_status;
    int m_run = 0;
    int m_runs = 1; // measurements in all: --runs, twice that with --family both
    int m_round = 0;
    bool m_progressShown = false;
};
