// The main window's HTTP upload: what it shows of HttpUpload()'s reports.
#include "window/main/quillmetUnit1.h"

#include "core/history/MeasurementRecord.h"
#include "core/measure/RunResult.h"
#include "core/net/ScktComp.h"
#include "core/upload/HttpUploadRun.h"
#include "window/widgets/MessageBox.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void TForm1::ConnectHttpUpload() {
    connect(m_httpUpload, &HttpUploadRun::statusChanged, this, &TForm1::SetStatus);
    connect(m_httpUpload, &HttpUploadRun::roundMeasured, this,
            [this](int index, const QString& kbps, const QString& mbps, qint64) {
                KbpsBoxes[static_cast<std::size_t>(index)]->setText(kbps);
                MbpsBoxes[static_cast<std::size_t>(index)]->setText(mbps);
            });
    connect(m_httpUpload, &HttpUploadRun::completed, this, &TForm1::ShowHttpUploadResult);
    connect(m_httpUpload, &HttpUploadRun::failed, this, &TForm1::HttpUploadFailed);
    connect(m_httpUpload, &HttpUploadRun::stopped, this, &TForm1::RunStopped);
    connect(this, &TForm1::closed, m_httpUpload, &HttpUploadRun::Abort);
}

void TForm1::StartHttpUpload() {
    if (m_httpUpload->Running())
        return;
    ShowRoundBoxes(true);
    SetStartEnabled(false);
    Label9->setText(QStringLiteral("HTTP"));
    SetStopEnabled(true);
    m_httpUpload->Start(m_server, Edit6->text());
}

void TForm1::ShowHttpUploadResult(const HttpUploadResult& result) {
    m_showingResult = true;
    SetStopEnabled(false);
    Edit2->setText(result.bytesText);
    Edit1->setText(result.connectText);
    Edit5->setText(result.kbpsText);
    Edit9->setText(result.mbpsText);
    // An upload never counts toward the fastest record.
    AppendHistoryLine(result.historyLine, kUploadHistoryCap);
    JournalRun(MeasurementRecord(MeasurementKind::UploadHttp, m_runStarted, result.host,
                                 PeerOf(m_httpUpload->Socket->Socket()->RemoteStorage()),
                                 static_cast<double>(result.meanBytesPerSecond), result.mark));
    RunClosingSteps();
}

void TForm1::HttpUploadFailed(const RunOutcome& outcome) {
    RecoverAfterFailedRun();
    if (!Closed())
        ShowMessageBox(HttpUploadFailureText(outcome, m_httpUpload->Server().Authority()));
}
