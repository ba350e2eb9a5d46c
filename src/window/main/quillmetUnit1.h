// The main window: the handlers, and what it shows of the runs it starts.
#pragma once

#include "core/schedule/MeasurementSchedule.h"
#include "core/server/MeasurementServer.h"
#include "core/state/StateSession.h"
#include "window/main/Form1Controls.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMainWindow>
#include <QStringList>
#include <cstdint>
#include <string>

class QCloseEvent;
class QKeyEvent;
class WindowTimer;
class TNMHTTP;
class TClientSocket;
class DownloadRun;
class UploadRun;
class HttpUploadRun;
struct HttpUploadResult;
class TForm7;
class LineTestWindow;
struct DownloadResult;
struct RunOutcome;
struct UploadResult;

class TForm1 final : public QMainWindow, public TForm1Controls {
    Q_OBJECT

    // The runs, each owning its components and state; the window shows what they report.
    DownloadRun* m_download = nullptr;
    UploadRun* m_upload = nullptr;
    HttpUploadRun* m_httpUpload = nullptr;
    MeasurementSchedule* m_schedule = nullptr;

public:
    // arguments: the command line without the program name.
    explicit TForm1(QStringList arguments = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // Status bar text (one line at the bottom edge).
    void SetStatus(const QString& text);
    QString StatusText() const;

    DownloadRun& Download() const noexcept { return *m_download; }
    // The measurement server the presets use.
    const MeasurementServer& Server() const noexcept { return m_server; }
    // The server chosen in the settings file, read by FormCreate; a file that cannot be used
    // leaves the built-in server and a note in the status bar.
    void ReadServerSettings();
    UploadRun& Upload() const noexcept { return *m_upload; }
    HttpUploadRun& HttpUpload() const noexcept { return *m_httpUpload; }
    // The command-line repeat counter.
    std::int32_t RepeatCount() const noexcept { return m_schedule->RepeatCount(); }

    // A programmatic click on Button1: runs Button1Click even while the button is disabled.
    void ClickButton1() { Button1Click(); }

    // True once the window has closed (FormClose has run).
    bool Closed() const noexcept { return m_closed; }

    // Appends one line to the history and removes the first line when the list
    // then holds more than cap lines (at most one line per append).
    void AppendHistoryLine(const QString& line, int cap);

    // The state file "qm1.dat" in the current directory: read by FormCreate, written by
    // FormClose (asking again after a failed save) and quietly after every history line.
    void ReadStateFile();
    void WriteStateFile(bool quietly = false);

    // Closes the window for a termination signal: every open box and dialog ends as
    // Cancel (OK), and a failed save is reported on standard error instead of asking.
    void CloseForSignal();

    // --- handlers of the main window ---
    void FormCreate();
    void FormClose();
    void AppDeactivate();
    void Exit1Click();
    void C1Click() {
        ClearRoundPanel();
        ShowRoundBoxes(true);
    }

    // download run (the round's events and Timer1 belong to Download())
    void Button1Click();
    // "測定中止": ends the download or upload under way as an error reply would, with its
    // own status and no history line.
    void S1Click();

    // history list, presets, saved URLs, fastest record
    void Button3Click() { DeleteHistoryLine(); }
    void L1Click() { DeleteHistoryLine(); }
    void D2Click();
    void Button4Click() { CopyHistory(); }
    void N5Click() { CopyHistory(); }
    void DTI8184KBN1Click() { ChoosePreset("15M"); }
    void CommufaC1Click() { ChoosePreset("8M"); }
    void USEN1Click() { ChoosePreset("4M"); }
    void WebARENAW1Click() { ChoosePreset("2M"); }
    void QuillmetJPEG989KBV3Click() { ChoosePreset("2M"); }
    void QuillmetJPEG989KBV2Click() { ChoosePreset("1M"); }
    void QuillmetJPEG989KBV1Click() { ChoosePreset("500K"); }
    void Serverisland110Click() { ChoosePreset("200K"); }
    void Quillmetjpg1Click() { ChoosePreset("100K"); }
    void URLI1Click() { SaveUrl(0); }
    void URLI2Click() { SaveUrl(1); }
    void URLI3Click() { SaveUrl(2); }
    void URLI4Click() { SaveUrl(3); }
    void URLI5Click() { SaveUrl(4); }
    void URL1Click() { RecallUrl(0); }
    void URLJ1Click() { RecallUrl(1); }
    void URLJ2Click() { RecallUrl(2); }
    void URLJ3Click() { RecallUrl(3); }
    void URLJ4Click() { RecallUrl(4); }
    // "測定サーバーの設定…": the dialog; OK stores the choice and the presets follow it.
    void ServerSettings1Click();
    void Button6Click();
    void T1Click();
    void G1Click();
    void X1Click();
    // Tells an open chart whether the record display is on and what the record is.
    void UpdateChartRecord();
    // The history list's tooltip, its double-click and its keeping the newest line in view.
    void SetUpHistoryList();
    // The offer of a download result to the fastest record (after Edit5 and Edit9 are filled);
    // a marked result is never offered.
    void OfferToFastestRecord(int resultMark);

    // upload and mode switch (the socket's events and the silence timer belong to Upload())
    // The upload branch of Button1Click, after its common part.
    void StartUpload();
    void SMTPB1Click() { ShowMode(MeasureMode::MailUpload); }
    void WEBB1Click() { ShowMode(MeasureMode::Download); }
    void HTTPB1Click() {
        ShowMode(MeasureMode::HttpUpload);
        ShowServer(m_server);
    }
    // The HTTP upload branch of Button1Click, after its common part.
    void StartHttpUpload();

    // timer measurement
    void TimerMeasClick();
    // Starts a schedule (see MeasurementSchedule::Start) with the indicator shown and the start
    // controls disabled.
    // alternate: every run of a burst measured with IPv4 and then with IPv6.
    void StartTimerSchedule(int intervalMs, int gapMs, int perBurst, int bursts,
                            bool alternate = false);
    // Ends a schedule in full: indicator hidden, state "0", timers off, start controls and
    // URL box enabled. A run still going on keeps the start controls until it ends.
    void EndTimerSchedule() { m_schedule->End(); }
    // Stops a schedule's timers and state ("0" in the three labels) and enables the URL box;
    // the indicator and the start controls are left as they are.
    void StopTimerSchedule() { m_schedule->Stop(); }
    // A download run is under way: from its start to its completion, error reply or stop.
    bool DownloadRunning() const;
    // A download or an upload is under way.
    bool RunInProgress() const;

    // "回線品質測定(&Q)…": the line test's window, made on first use and kept. A line test and
    // the window's own runs never overlap: each refuses to start while the other goes on.
    void LineTest1Click();
    bool LineTestRunning() const;

    // browser hand-over and dialogs
    void WebW1Click();
    void KAVJOURNALWebB1Click();
    void Label16Click();
    void About1Click();
    void Tutorial1Click();

    // non-visual components; the runs own theirs
    TNMHTTP*& NMHTTP1;
    WindowTimer*& Timer1;
    TClientSocket*& ClientSocket3;
    WindowTimer*& SmtpSilenceTimer;
    WindowTimer*& Timer2;
    WindowTimer*& Timer3;
    WindowTimer*& Timer4;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

signals:
    // The window has closed and FormClose has run.
    void closed();

private:
    void DeleteHistoryLine();
    void CopyHistory();
    // The URL box takes a preset (a size name) of the chosen server, or a saved slot's URL;
    // a slot takes the URL box's text once it is a URL.
    void ChoosePreset(const char* size);
    void SaveUrl(std::size_t slot);
    void RecallUrl(std::size_t slot);

    // What the window does with the runs' reports.
    void ConnectDownload();
    void ConnectUpload();
    void ConnectHttpUpload();
    void ShowHttpUploadResult(const HttpUploadResult& result);
    void HttpUploadFailed(const RunOutcome& outcome);
    void ShowDownloadResult(const DownloadResult& result);
    void ShowUploadResult(const UploadResult& result);
    void DownloadFailed(const RunOutcome& outcome);
    // The start controls back and the schedule stopped, after an error reply, a failure or a stop.
    void RecoverAfterFailedRun();
    void UploadEnded();
    void RunClosingSteps();
    // One record of a completed run into the results journal (a failure is told in the status
    // bar; the measurement stands), then the chart reads the journal again.
    void JournalRun(const QJsonObject& record);
    void RunStopped();
    // The stop command and button work only while a run is going on.
    void SetStopEnabled(bool enabled);
    void ConnectSchedule();
    // The hidden labels mirror the schedule; the status and the indicator's tooltip tell when
    // the next burst comes.
    void ShowSchedule();

    // What the state file carries, taken from the controls, and the way back.
    StateSnapshot CaptureState() const;
    void ApplyState(const StateSnapshot& state);
    // qm1.dat is this window's from FormCreate to the end, unless another holder has it.
    StateSession m_state;

    MeasurementServer m_server = MeasurementServer::Default();
    // A completed run's result is being shown: the run counts as going on until its closing steps.
    bool m_showingResult = false;
    // When the run under way started (Edit6 shows it to the second), for its journal record.
    QDateTime m_runStarted;
    QStringList m_arguments;
    // The history chart, made on first use and kept (a child window of this one).
    TForm7* m_chart = nullptr;
    LineTestWindow* m_lineTest = nullptr;
    bool m_closed = false;
};

// The single main window, as created at start-up.
extern TForm1* Form1;
