// The main window's upload: the SMTP dialogue over ClientSocket3, and the mode switch.
#include "app/quillmetUnit1.h"

#include "measure/RunResult.h"
#include "net/ScktComp.h"
#include "platform/Tick.h"
#include "platform/WindowTimer.h"
#include "upload/UploadRate.h"
#include "upload/quillmetUnit4.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <algorithm>
#include <climits>

namespace {
constexpr int kSmtpPort = 25;
constexpr int kSilenceMs = 60000;

// Empty, or holding a line break or another control character that would end an
// SMTP command early.
bool IsUsable(const QString& text) {
    if (text.isEmpty())
        return false;
    return std::none_of(text.begin(), text.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}
} // namespace

void TForm1::CreateUploadComponents() {
    ClientSocket3 = new TClientSocket(this);
    ClientSocket3->setObjectName(QStringLiteral("ClientSocket3"));
    ClientSocket3->setClientType(ctNonBlocking);
    ClientSocket3->setPort(kSmtpPort);
    ClientSocket3->OnConnect = [this](QObject* sender, TCustomWinSocket* socket) {
        ClientSocket3Connect(sender, socket);
    };
    ClientSocket3->OnRead = [this](QObject* sender, TCustomWinSocket* socket) {
        ClientSocket3Read(sender, socket);
    };
    ClientSocket3->OnDisconnect = [this](QObject* sender, TCustomWinSocket* socket) {
        ClientSocket3Disconnect(sender, socket);
    };
    ClientSocket3->OnWrite = [this](QObject* sender, TCustomWinSocket* socket) {
        ClientSocket3Write(sender, socket);
    };
    // The error code is left as it is, so the component still reports the error.
    ClientSocket3->OnError = [this](QObject*, TCustomWinSocket* socket, TErrorEvent event, int&) {
        UploadSocketError(socket, event == eeConnect);
    };

    TClientWinSocket* socket = ClientSocket3->Socket();
    Smtp.Endpoints = {
        .LocalHostName = [socket] { return socket->LocalHostName(); },
        .LocalAddressText = [socket] { return socket->LocalAddressText(); },
        .LocalPortNumber = [socket] { return socket->LocalPortNumber(); },
        .RemoteHostName = [socket] { return socket->RemoteHostName(); },
        .RemoteAddressText = [socket] { return socket->RemoteAddressText(); },
        .RemotePortNumber = [socket] { return socket->RemotePortNumber(); },
    };

    SmtpSilenceTimer = new WindowTimer(this, kSilenceMs);
    SmtpSilenceTimer->setObjectName(QStringLiteral("SmtpSilenceTimer"));
    SmtpSilenceTimer->OnTimer = [this] { SmtpSilenceTimerTimer(); };
}

void TForm1::CloseUploadSocket() {
    // A caution still waiting for its answer counts as cancelled.
    if (Form4 && Form4->isVisible())
        Form4->reject();
    SmtpSilenceTimer->setEnabled(false);
    ClientSocket3->Deactivate();
    // A lookup or connect under way is not Active yet; closing the window ends it too.
    if (Smtp.Running())
        ClientSocket3->Socket()->DropConnection();
}

void TForm1::StartUpload() {
    // One dialogue at a time: a programmatic click during an upload changes nothing.
    if (Smtp.Running())
        return;
    const QString address = Edit8->text();
    const QString server = Edit3->text();
    if (!IsUsable(address) || !IsUsable(server)) {
        SetStatus(QStringLiteral("エラー：SMTPサーバとメールアドレスを入力してください。"));
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
    Smtp.Start(address.toStdString());
    RoundIndex = 0;
    SetStatus(QStringLiteral("コネクト中"));
    try {
        ClientSocket3->setHost(server.toStdString());
        RunStartTick = Tick();
        ClientSocket3->Activate();
    } catch (...) {
        // Nothing was opened: the window must stay usable.
        Smtp.Stop();
        Button1->setEnabled(true);
        E1->setEnabled(true);
        Label9->clear();
        throw;
    }
}

void TForm1::ClientSocket3Connect(QObject*, TCustomWinSocket*) {
    ConnectTick = Tick();
    SetStatus(QStringLiteral("SMTP通信中"));
    Smtp.Connected();
    RestartSilenceTimer();
}

void TForm1::ClientSocket3Read(QObject*, TCustomWinSocket* Socket) {
    const std::string text = Socket->ReceiveString();
    if (text.empty())
        return;
    RestartSilenceTimer();
    const SmtpOutcome outcome = Smtp.Received(text);
    if (!outcome.replyTooLong) {
        AppendLog(QString::fromStdString(text));
    } else if (outcome.keptBytes > 0) {
        AppendLog(QString::fromStdString(text.substr(0, outcome.keptBytes)));
    }
    ApplySmtpOutcome(outcome);
    if (outcome.replyTooLong) {
        // Ends as when the server closes early: no rate, the start controls back.
        ClientSocket3->Deactivate();
        return;
    }
    SendSmtpOutput(Socket);
}

void TForm1::ClientSocket3Write(QObject*, TCustomWinSocket* Socket) {
    SendSmtpOutput(Socket);
}

void TForm1::ClientSocket3Disconnect(QObject*, TCustomWinSocket*) {
    SmtpSilenceTimer->setEnabled(false);
    ClientSocket3->Deactivate();
    if (!Smtp.Running())
        return;
    const bool connected = Smtp.WasConnected();
    const bool bodyStarted = Smtp.BodyStarted();
    // Without a reply to the body there is no send-to-reply time, hence no rate.
    const bool measured = Smtp.TransferEnded() && !Smtp.ReplyTooLong();
    Smtp.Stop();

    if (measured)
        TransferTime = TickDiff(TransferEndTick, TransferStartTick);
    if (connected)
        RoundConnectTimes[0] = TickDiff(ConnectTick, RunStartTick);
    RoundSpeeds[0] =
        measured ? UploadBytesPerSecond(RoundBytes, static_cast<std::int32_t>(TransferTime)) : 0;
    RunStartTick = 0;
    ConnectTick = 0;
    TransferStartTick = 0;
    TransferEndTick = 0;
    TransferTime = 0;

    SetStatus(connected ? QStringLiteral("測定終了") : QStringLiteral("接続できませんでした"));
    Edit1->setText(connected ? QString::number(RoundConnectTimes[0]) : QString());
    Edit2->setText(bodyStarted ? QString::number(RoundBytes) : QString());
    if (measured) {
        Edit5->setText(RoundKbpsText(RoundSpeeds[0]));
        Edit9->setText(RoundMbpsText(RoundSpeeds[0]));
        AppendHistoryLine(HistoryLine(QStringLiteral("*upload(310KB)"), Edit6->text(),
                                      Edit1->text(), Edit2->text(), Edit5->text(), Edit9->text()),
                          kUploadHistoryCap);
    }
    Button1->setEnabled(true);
    E1->setEnabled(true);
    Label9->clear();
}

void TForm1::SmtpSilenceTimerTimer() {
    SmtpSilenceTimer->setEnabled(false);
    if (!Smtp.Running() || !ClientSocket3->Active())
        return;
    AppendLog(QStringLiteral("/* タイムアウト. */"));
    ClientSocket3->Deactivate();
}

void TForm1::UploadSocketError(TCustomWinSocket* Socket, bool connectFailed) {
    if (connectFailed) {
        // The connection never came up, so no disconnect event will restore the window.
        SmtpSilenceTimer->setEnabled(false);
        if (Smtp.Running())
            SetStatus(QStringLiteral("接続できませんでした"));
        Smtp.Stop();
        Button1->setEnabled(true);
        E1->setEnabled(true);
        Label9->clear();
        return;
    }
    // A failed close leaves the connection open; dropping it ends the dialogue through
    // the disconnect event.
    if (Socket->Connected())
        ClientSocket3->Deactivate();
}

void TForm1::ApplySmtpOutcome(const SmtpOutcome& outcome) {
    if (outcome.transferEnded) {
        TransferEndTick = Tick();
        SetStatus(QStringLiteral("終了処理中"));
    }
    if (outcome.bodyStarted)
        SetStatus(QStringLiteral("測定中"));
    for (const std::string& line : outcome.log)
        AppendLog(QString::fromStdString(line));
    if (outcome.bodyStarted) {
        // The body is built and logged; only handing it over is timed.
        RoundBytes = 0;
        TransferStartTick = Tick();
    }
}

void TForm1::SendSmtpOutput(TCustomWinSocket* Socket) {
    for (;;) {
        const std::string_view pending = Smtp.Pending();
        if (pending.empty())
            return;
        const int count = static_cast<int>(std::min<std::size_t>(pending.size(), INT_MAX));
        const int sent = Socket->SendBytes(pending.data(), count);
        // Nothing taken: the write notification tells when there is room.
        if (sent <= 0)
            return;
        const bool whole = sent == count && pending.size() <= INT_MAX;
        const SmtpOutcome outcome = Smtp.Sent(sent);
        if (Smtp.BodyStarted())
            RoundBytes = Smtp.BodyBytesSent();
        RestartSilenceTimer();
        ApplySmtpOutcome(outcome);
        if (!whole)
            return;
    }
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
    RichEdit1->setTextCursor(cursor);
    RichEdit1->ensureCursorVisible();
}

void TForm1::RestartSilenceTimer() {
    if (!Smtp.Running())
        return;
    SmtpSilenceTimer->setEnabled(false);
    SmtpSilenceTimer->setEnabled(true);
}

void TForm1::SMTPB1Click() {
    Label6->setText(QStringLiteral("送信量"));
    Label7->setText(QStringLiteral("推定送信スピード"));
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
