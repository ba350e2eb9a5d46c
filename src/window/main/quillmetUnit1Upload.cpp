// The main window's upload: what it shows of Upload()'s reports.
#include "window/main/quillmetUnit1.h"

#include "core/history/MeasurementRecord.h"
#include "core/measure/RunResult.h"
#include "core/net/ErrorExplanation.h"
#include "core/net/ScktComp.h"
#include "core/upload/UploadRun.h"
#include "window/dialogs/quillmetUnit4.h"
#include "window/widgets/ExceptionReport.h"
#include "window/widgets/Widgets.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

void TForm1::ConnectUpload() {
    connect(m_upload, &UploadRun::statusChanged, this, &TForm1::SetStatus);
    connect(m_upload, &UploadRun::logAppended, this,
            [this](const QString& text) { AppendLogText(RichEdit1, text); });
    connect(m_upload, &UploadRun::finished, this, &TForm1::ShowUploadResult);
    connect(m_upload, &UploadRun::connectFailed, this, &TForm1::UploadEnded);
    connect(m_upload, &UploadRun::stopped, this, &TForm1::RunStopped);
    // Socket errors of the upload reach the standard report, after the upload has seen them;
    // say which server they were about. A failed download tells its own.
    SetErrorExplainer([this](const QString&) {
        if (WEBB1->isChecked() || m_upload->Running())
            return QString();
        return ExplainNetworkError(m_upload->Outcome(), Edit3->text(), ClientSocket3->Port());
    });
}

void TForm1::StartUpload() {
    // One dialogue at a time: a programmatic click during an upload changes nothing.
    if (m_upload->Running())
        return;
    const QString address = Edit8->text();
    const QString server = Edit3->text();
    if (const auto refusal = UploadStartRefusal(server, address)) {
        SetStatus(*refusal);
        return;
    }
    if (!Form4)
        Form4 = new TForm4(this);
    if (Form4->exec() != QDialog::Accepted || Closed())
        return;

    Label9->setText(QStringLiteral("SMTP"));
    ShowRoundBoxes(false);
    SetStartEnabled(false);
    SetStopEnabled(true);
    m_upload->Start(server, address, Edit6->text());
}

void TForm1::ShowUploadResult(const UploadResult& result) {
    Edit1->setText(result.connectText);
    Edit2->setText(result.bytesText);
    if (result.measured) {
        Edit5->setText(result.kbpsText);
        Edit9->setText(result.mbpsText);
        AppendHistoryLine(result.historyLine, kUploadHistoryCap);
        JournalRun(MeasurementRecord(MeasurementKind::Upload, m_runStarted,
                                     QString::fromStdString(ClientSocket3->Host()),
                                     PeerOf(ClientSocket3->Socket()->RemoteStorage()),
                                     static_cast<double>(result.bytesPerSecond), 0));
    }
    UploadEnded();
}

void TForm1::UploadEnded() {
    SetStopEnabled(false);
    SetStartEnabled(true);
    Label9->clear();
}
