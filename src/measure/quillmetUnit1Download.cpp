// The main window's download run: start, rounds, completion.
#include "app/quillmetUnit1.h"

#include "measure/RunResult.h"
#include "net/Nmhttp.h"
#include "platform/ExceptionReport.h"
#include "platform/Exceptions.h"
#include "platform/MessageBox.h"
#include "platform/Tick.h"
#include "platform/WindowTimer.h"
#include "timer/TimerSchedule.h"

#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

namespace {
// Files above this size stop the run: the measurement is meant for files of 25 MB or less.
constexpr std::int32_t kMaxRoundBytes = 26300000;
// A transfer that the clock could not resolve still gets a finite speed.
constexpr long double kShortestTransferMs = 0.001L;
} // namespace

void TForm1::CreateDownloadComponents() {
    NMHTTP1 = new TNMHTTP(this);
    NMHTTP1->setObjectName(QStringLiteral("NMHTTP1"));
    NMHTTP1->Port = 0;
    NMHTTP1->ReportLevel = 0;
    NMHTTP1->ProxyPort = 0;
    NMHTTP1->Body = "quillmet.jpg";
    NMHTTP1->Header = "Head.txt";
    NMHTTP1->InputFileMode = false;
    NMHTTP1->OutputFileMode = false;
    NMHTTP1->OnConnect = [this](QObject*) { NMHTTP1Connect(); };
    NMHTTP1->OnSuccess = [this](CmdType cmd) { NMHTTP1Success(cmd); };
    NMHTTP1->OnFailure = [this](CmdType cmd) { NMHTTP1Failure(cmd); };
    // A request still waiting when the window closes ends at once.
    connect(this, &TForm1::closed, NMHTTP1, [this] { NMHTTP1->Abort(); });
}

void TForm1::Button1Click() {
    TimerMeas->setEnabled(false);
    for (std::size_t i = 0; i < 5; ++i) {
        KbpsBoxes[i]->clear();
        MbpsBoxes[i]->clear();
    }
    RichEdit1->clear();
    Edit1->clear();
    Edit2->clear();
    Edit5->clear();
    Edit9->clear();
    for (QLineEdit* box : {Edit5, Edit9}) {
        QPalette p = box->palette();
        p.setColor(QPalette::Text, p.color(QPalette::WindowText));
        box->setPalette(p);
    }
    Edit6->setText(FormatRunDate(QDateTime::currentDateTime()));
    ResultMark = 0;
    if (!WEBB1->isChecked()) {
        StartUpload();
        return;
    }

    const QString url = Edit7->text();
    if (url.isEmpty()) {
        SetStatus(QStringLiteral("エラー：URLを入れてください"));
        ShowMessageBox(QStringLiteral("URLを入力し、測定開始を押してください。\n"
                                      "「簡易測定」メニューを使うと簡単です。"));
        return;
    }
    if (!url.startsWith(QLatin1String("http://"))) {
        SetStatus(QStringLiteral("エラー：http://から始まるURLを入れてください"));
        return;
    }
    if (!url.endsWith(QLatin1Char('g'))) {
        ShowMessageBox(QStringLiteral("JPEGファイルで測定してください。"));
        return;
    }
    if (HasControlCharacter(url.toStdString())) {
        ShowMessageBox(QString::fromUtf8(kUrlCharacterRefused));
        return;
    }
    RoundIndex = 0;
    for (std::size_t i = 0; i < 5; ++i) {
        KbpsBoxes[i]->show();
        MbpsBoxes[i]->show();
    }
    for (QLabel* l : {Label20, Label21, Label22, Label23, Label24})
        l->show();
    RichEdit1->hide();
    Button1->setEnabled(false);
    E1->setEnabled(false);
    Label9->setText(QStringLiteral("JPEG"));
    m_downloadRunning = true;
    NMHTTP1->InputFileMode = false;
    RequestRound();
}

void TForm1::Timer1Timer() {
    Timer1->setEnabled(false);
    RequestRound();
}

void TForm1::RequestRound() {
    SetStatus(QStringLiteral("コネクト中"));
    m_roundAnswered = false;
    RunStartTick = Tick();
    try {
        NMHTTP1->Get(Edit7->text().toStdString());
    } catch (const std::exception& e) {
        if (Closed())
            return;
        ShowException(e);
        // Once the round was answered its own steps have run; otherwise the window
        // recovers as after an error reply.
        if (!m_roundAnswered)
            NMHTTP1Failure(CmdGET);
        return;
    }
    // A reply that was neither a success nor a failure (299 to 399) ends the run too.
    if (!m_roundAnswered && !Closed())
        NMHTTP1Failure(CmdGET);
}

void TForm1::NMHTTP1Connect() {
    ConnectTick = Tick();
    SetStatus(QStringLiteral("%1回目測定中").arg(RoundIndex + 1));
    TransferStartTick = Tick();
    TransferStartMicros = TickMicros();
}

void TForm1::NMHTTP1Success(CmdType) {
    m_roundAnswered = true;
    TransferEndTick = Tick();
    TransferEndMicros = TickMicros();
    RoundBytes = NMHTTP1->ContentLength;
    // The ticks are milliseconds; the transfer time is taken at the same two moments
    // from the microsecond clock so that a fast round is not rounded to nothing.
    TransferTime = static_cast<long double>(TransferEndMicros - TransferStartMicros) / 1000.0L;
    if (TransferTime <= 0)
        TransferTime = kShortestTransferMs;

    const auto i = static_cast<std::size_t>(RoundIndex);
    RoundConnectTimes[i] = TickDiff(ConnectTick, RunStartTick);
    if (RoundConnectTimes[i] < 0)
        ResultMark = 2;
    RoundSpeeds[i] = (static_cast<long double>(RoundBytes) / TransferTime) * 1000;

    KbpsBoxes[i]->setText(RoundKbpsText(RoundSpeeds[i]));
    MbpsBoxes[i]->setText(RoundMbpsText(RoundSpeeds[i]));

    RunStartTick = ConnectTick = TransferStartTick = TransferEndTick = 0;
    TransferStartMicros = TransferEndMicros = 0;
    TransferTime = 0;

    if (RoundIndex > 0 && IsUnsteadyRound(RoundSpeeds[i], RoundSpeeds[i - 1]))
        ResultMark = 1;

    if (RoundBytes > kMaxRoundBytes) {
        m_downloadRunning = false;
        ShowMessageBox(QStringLiteral("測定ファイルが大きすぎます。\n"
                                      "25MB以下のファイルで測定してください。"));
        EndTimerSchedule();
        return;
    }

    if (RoundIndex < 4) {
        ++RoundIndex;
        Timer1->setEnabled(true);
        return;
    }
    CompleteRun();
    RunClosingSteps();
}

void TForm1::CompleteRun() {
    SetStatus(QStringLiteral("測定終了"));
    NMHTTP1->InputFileMode = false;

    const RunResult result = ComputeRunResult(RoundConnectTimes, RoundSpeeds, RoundBytes);
    Edit2->setText(result.bytesText);
    Edit1->setText(result.connectText);
    Edit5->setText(result.kbpsText);
    Edit9->setText(result.mbpsText);

    const QString host = UrlHostPart(Edit7->text());
    if (IsFileTooSmall(host, result.meanMbpsOfFive, RoundBytes)) {
        ShowMessageBox(QStringLiteral("測定ファイルが小さすぎます。\nURLを変更してください。"));
        ResultMark = 1;
    }
    const QString firstField = MarkPrefix(ResultMark) + host;
    OfferToFastestRecord();
    AppendHistoryLine(HistoryLine(firstField, Edit6->text(), Edit1->text(), Edit2->text(),
                                  Edit5->text(), Edit9->text()),
                      kDownloadHistoryCap);
}

void TForm1::RunClosingSteps() {
    m_downloadRunning = false;
    if (Label50->text() == QStringLiteral("0")) {
        Button1->setEnabled(true);
        E1->setEnabled(true);
    }
    Label9->clear();
    --RepeatCount;
    if (RepeatCount >= 1 && RepeatCount <= 5) {
        Button1->setEnabled(false);
        E1->setEnabled(false);
        Timer2->setEnabled(true);
    }
    TimerMeas->setEnabled(true);

    if (Label50->text() != QStringLiteral("1"))
        return;
    const TimerSchedule::AfterRun after =
        TimerSchedule::RunCompleted(BurstRemaining, StrToInt(Label52->text().toStdString()));
    switch (after.next) {
    case TimerSchedule::Next::NextRun:
        Timer4->setEnabled(true);
        break;
    case TimerSchedule::Next::NextBurst:
        BurstRemaining = after.counter;
        Label52->setText(QString::number(after.burstsLeft));
        Timer3->setEnabled(true);
        break;
    case TimerSchedule::Next::End:
        EndTimerSchedule();
        break;
    case TimerSchedule::Next::Nothing:
        break;
    }
}

void TForm1::NMHTTP1Failure(CmdType) {
    m_roundAnswered = true;
    m_downloadRunning = false;
    Button1->setEnabled(true);
    E1->setEnabled(true);
    SetStatus(QStringLiteral("接続できませんでした"));
    Label9->clear();
    StopTimerSchedule();
}

void TForm1::Timer2Timer() {
    Timer2->setEnabled(false);
    ClickButton1();
}
