// The main window's upload: what it shows of Upload()'s reports, and the mode switch.
#include "window/main/quillmetUnit1.h"

#include "core/measure/RunResult.h"
#include "core/upload/UploadRun.h"
#include "window/dialogs/quillmetUnit4.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>

void TForm1::ConnectUpload() {
    connect(m_upload, &UploadRun::statusChanged, this, &TForm1::SetStatus);
    connect(m_upload, &UploadRun::logAppended, this, &TForm1::AppendLog);
    connect(m_upload, &UploadRun::finished, this, &TForm1::ShowUploadResult);
    connect(m_upload, &UploadRun::connectFailed, this, &TForm1::UploadEnded);
    connect(m_upload, &UploadRun::stopped, this, &TForm1::RunStopped);
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
    for (QLineEdit* box :
         {Edit10, Edit11, Edit12, Edit13, Edit14, Edit15, Edit16, Edit17, Edit18, Edit19})
        box->hide();
    for (QLabel* label : {Label20, Label21, Label22, Label23, Label24})
        label->hide();
    RichEdit1->show();
    Button1->setEnabled(false);
    E1->setEnabled(false);
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
    }
    UploadEnded();
}

void TForm1::UploadEnded() {
    SetStopEnabled(false);
    Button1->setEnabled(true);
    E1->setEnabled(true);
    Label9->clear();
}

void TForm1::AppendLog(const QString& text) {
    // Line ends of the wire show as line breaks; the last one adds no empty line.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (shown.endsWith(QLatin1Char('\n')))
        shown.chop(1);
    QTextCursor cursor(RichEdit1->document());
    cursor.movePosition(QTextCursor::End);
    if (!RichEdit1->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(shown);
    // The layout is finished here rather than bit by bit from the event loop: the body is
    // logged just before its transfer is timed, and laying it out during the transfer would
    // delay the handling of the server's reply.
    RichEdit1->document()->size();
    RichEdit1->setTextCursor(cursor);
    RichEdit1->ensureCursorVisible();
}

void TForm1::SMTPB1Click() {
    Label6->setText(QStringLiteral("送信量"));
    Label7->setText(QStringLiteral("推定送信スピード"));
    Edit2->setAccessibleName(QStringLiteral("送信量 (byte)"));
    Edit5->setAccessibleName(QStringLiteral("推定送信スピード (kbps)"));
    Edit9->setAccessibleName(QStringLiteral("推定送信スピード (Mbps)"));
    Label6->adjustSize();
    Label7->adjustSize();
    SMTPB1->setChecked(true);
    WEBB1->setChecked(false);
    Edit7->hide();
    Label1->hide();
    Label12->show();
    Label13->show();
    Edit3->show();
    Edit8->show();
    K1->menuAction()->setEnabled(false);
}

void TForm1::WEBB1Click() {
    Label6->setText(QStringLiteral("受信量"));
    Label7->setText(QStringLiteral("推定受信スピード"));
    Edit2->setAccessibleName(QStringLiteral("受信量 (byte)"));
    Edit5->setAccessibleName(QStringLiteral("推定受信スピード (kbps)"));
    Edit9->setAccessibleName(QStringLiteral("推定受信スピード (Mbps)"));
    Label6->adjustSize();
    Label7->adjustSize();
    SMTPB1->setChecked(false);
    WEBB1->setChecked(true);
    Label12->hide();
    Label13->hide();
    Edit3->hide();
    Edit8->hide();
    Edit7->show();
    Label1->show();
    K1->menuAction()->setEnabled(true);
}
