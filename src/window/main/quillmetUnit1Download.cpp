// The main window's download: the start checks, and what it shows of Download()'s reports.
#include "window/main/quillmetUnit1.h"

#include "core/history/MeasurementRecord.h"
#include "core/history/ResultsJournal.h"
#include "core/measure/DownloadRun.h"
#include "core/measure/RunResult.h"
#include "core/measure/StartChecks.h"
#include "core/net/ErrorExplanation.h"
#include "core/net/Nmhttp.h"
#include "core/upload/HttpUploadRun.h"
#include "core/upload/UploadRun.h"
#include "window/chart/HistoryChart.h"
#include "window/widgets/ExceptionReport.h"
#include "window/widgets/MessageBox.h"
#include "window/widgets/Widgets.h"

#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void TForm1::ConnectDownload() {
    m_download->UrlSource = [this] { return Edit7->text(); };
    connect(m_download, &DownloadRun::statusChanged, this, &TForm1::SetStatus);
    connect(m_download, &DownloadRun::roundMeasured, this,
            [this](int index, const QString& kbps, const QString& mbps) {
                KbpsBoxes[static_cast<std::size_t>(index)]->setText(kbps);
                MbpsBoxes[static_cast<std::size_t>(index)]->setText(mbps);
            });
    connect(m_download, &DownloadRun::completed, this, &TForm1::ShowDownloadResult);
    connect(m_download, &DownloadRun::failed, this, &TForm1::DownloadFailed);
    connect(m_download, &DownloadRun::stopped, this, &TForm1::RunStopped);
    // A request still waiting when the window closes ends at once.
    connect(this, &TForm1::closed, m_download, &DownloadRun::Abort);
}

void TForm1::Button1Click() {
    // The line test's connections would share the line with this run and spoil both readings.
    if (LineTestRunning()) {
        SetStatus(QStringLiteral("回線品質測定の実行中は、測定を始められません"));
        return;
    }
    TimerMeas->setEnabled(false);
    ClearRoundPanel();
    ClearResultBoxes();
    m_runStarted = QDateTime::currentDateTime();
    Edit6->setText(FormatRunDate(m_runStarted));
    m_download->ClearMark();
    if (HTTPB1->isChecked()) {
        StartHttpUpload();
        return;
    }
    if (!WEBB1->isChecked()) {
        StartUpload();
        return;
    }

    const DownloadStartCheck check = CheckDownloadUrl(Edit7->text());
    if (!check.Passed()) {
        if (!check.statusText.isEmpty())
            SetStatus(check.statusText);
        if (!check.messageText.isEmpty())
            ShowMessageBox(check.messageText);
        return;
    }
    ShowRoundBoxes(true);
    SetStartEnabled(false);
    Label9->setText(QStringLiteral("JPEG"));
    SetStopEnabled(true);
    // The timer's alternation chooses the family where it is on; else the server settings'
    // choice, and the download's IPv4 when there is none.
    m_download->Family = m_schedule->DueFamily().value_or(m_server.FamilyOr(AddressFamily::Ipv4));
    m_download->Start(Edit6->text());
}

void TForm1::ShowDownloadResult(const DownloadResult& result) {
    m_showingResult = true;
    SetStopEnabled(false);
    SetStatus(QStringLiteral("測定終了"));
    Edit2->setText(result.bytesText);
    Edit1->setText(result.connectText);
    Edit5->setText(result.kbpsText);
    Edit9->setText(result.mbpsText);
    if (result.tooSmall)
        ShowMessageBox(QStringLiteral("測定ファイルが小さすぎます。\nURLを変更してください。"));
    OfferToFastestRecord(result.mark);
    AppendHistoryLine(result.historyLine, kDownloadHistoryCap);
    JournalRun(MeasurementRecord(
        MeasurementKind::Download, m_runStarted, JournalServerOfUrl(Edit7->text()),
        MeasuredPeer{NMHTTP1->ConnectedFamily(), QString::fromStdString(NMHTTP1->GetRemoteIP())},
        static_cast<double>(result.meanBytesPerSecond), result.mark));
    RunClosingSteps();
}

void TForm1::JournalRun(const QJsonObject& record) {
    const JournalAppend append = ResultsJournal().Append(record);
    if (!append.ok())
        SetStatus(append.message);
    if (m_chart)
        m_chart->ReloadJournal();
}

void TForm1::RunClosingSteps() {
    m_showingResult = false;
    if (!m_schedule->Active())
        SetStartEnabled(true);
    Label9->clear();
    if (m_schedule->RepeatAfterRun())
        SetStartEnabled(false);
    TimerMeas->setEnabled(true);
    m_schedule->RunCompleted();
}

void TForm1::DownloadFailed(const RunOutcome& outcome) {
    const QString explanation =
        ExplainNetworkError(outcome, QString::fromStdString(NMHTTP1->Host), NMHTTP1->Port);
    if (outcome.end == RunEnd::TooBig) {
        SetStopEnabled(false);
        ShowMessageBox(QStringLiteral("測定ファイルが大きすぎます。\n"
                                      "25MB以下のファイルで測定してください。"));
        EndTimerSchedule();
    } else if (outcome.end == RunEnd::ErrorReply) {
        RecoverAfterFailedRun();
        // The status keeps its words; what the server said is one pointer away.
        m_statusText->setToolTip(explanation);
    } else if (!Closed()) {
        ShowExceptionMessage(outcome.message, explanation);
        // The window recovers as after an error reply.
        RecoverAfterFailedRun();
    }
}

void TForm1::RecoverAfterFailedRun() {
    SetStopEnabled(false);
    SetStartEnabled(true);
    SetStatus(QStringLiteral("接続できませんでした"));
    Label9->clear();
    StopTimerSchedule();
}

void TForm1::S1Click() {
    if (m_download->Running())
        m_download->Stop();
    else if (m_upload->Running())
        m_upload->Stop();
    else if (m_httpUpload->Running())
        m_httpUpload->Stop();
}

void TForm1::RunStopped() {
    RecoverAfterFailedRun();
    SetStatus(QStringLiteral("測定を中止しました"));
}

void TForm1::SetStopEnabled(bool enabled) {
    S1->setEnabled(enabled);
    Button5->setEnabled(enabled);
}

bool TForm1::DownloadRunning() const {
    return m_download->Running() || m_showingResult;
}
