// The main window's side of the timer measurement.
#include "window/main/quillmetUnit1.h"

#include "core/platform/Exceptions.h"
#include "core/platform/WindowTimer.h"
#include "core/schedule/TimerSchedule.h"
#include "window/dialogs/quillmetUnit6.h"

#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void TForm1::TimerMeasClick() {
    // The indicator and the start controls stay as they are until ON or OFF.
    StopTimerSchedule();

    TForm6* dialog = findChild<TForm6*>(QString(), Qt::FindDirectChildrenOnly);
    if (!dialog)
        dialog = Form6;
    if (dialog) {
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    }
}

void TForm1::StartTimerSchedule(int intervalMs, int gapMs, int perBurst, int bursts) {
    Label8->show();
    Button1->setEnabled(false);
    E1->setEnabled(false);
    Edit7->setEnabled(false);
    Label50->setText(QStringLiteral("1"));
    Timer3->setInterval(intervalMs);
    Timer4->setInterval(gapMs);
    Label51->setText(QString::number(perBurst));
    Label52->setText(QString::number(bursts));
    // A run already going on when the schedule starts is not one of its bursts.
    m_burstRemaining = TimerSchedule::NoBurst;
    Timer3->setEnabled(true);
    ShowNextBurst();
}

void TForm1::ShowNextBurst() {
    const QString next =
        QDateTime::currentDateTime().addMSecs(Timer3->Interval()).toString(QStringLiteral("HH:mm"));
    const QString text =
        QStringLiteral("タイマー測定：次回 %1、残り %2回").arg(next, Label52->text());
    Label8->setToolTip(text);
    SetStatus(text);
}

void TForm1::Timer3Timer() {
    Timer3->setEnabled(false);
    m_burstRemaining = TimerSchedule::BurstStarted(StrToInt(Label51->text().toStdString()));
    StartScheduledRun();
}

void TForm1::Timer4Timer() {
    Timer4->setEnabled(false);
    const TimerSchedule::GapTick tick = TimerSchedule::GapElapsed(m_burstRemaining);
    m_burstRemaining = tick.counter;
    if (tick.startRun)
        StartScheduledRun();
}

void TForm1::StartScheduledRun() {
    // Only a completed download run moves the schedule on: a tick that finds a run going on,
    // or whose click starts no download (the URL is refused, or the window is in upload
    // mode), would leave the schedule waiting for ever.
    if (RunInProgress()) {
        EndScheduleForTick();
        return;
    }
    const auto endUnlessStarted = [this] {
        // An error reply, a too-big file or the window closing has ended it already.
        if (!Closed() && Label50->text() == QStringLiteral("1") && !DownloadRunning())
            EndScheduleForTick();
    };
    try {
        ClickButton1();
    } catch (...) {
        endUnlessStarted();
        throw;
    }
    endUnlessStarted();
}

void TForm1::EndScheduleForTick() {
    EndTimerSchedule();
    SetStatus(QStringLiteral("タイマー測定を終了しました"));
}

void TForm1::StopTimerSchedule() {
    Timer3->setEnabled(false);
    Timer4->setEnabled(false);
    Timer3->setInterval(0);
    Timer4->setInterval(0);
    Label51->setText(QStringLiteral("0"));
    Label50->setText(QStringLiteral("0"));
    Label52->setText(QStringLiteral("0"));
    Edit7->setEnabled(true);
    // The waiting burst's time goes with the schedule; any other status stays.
    if (!Label8->toolTip().isEmpty() && StatusText() == Label8->toolTip())
        SetStatus(QString());
    Label8->setToolTip(QString());
    m_burstRemaining = TimerSchedule::NoBurst;
}

void TForm1::EndTimerSchedule() {
    Label8->hide();
    StopTimerSchedule();
    // A run still going on enables the start controls itself when it ends.
    if (!RunInProgress()) {
        Button1->setEnabled(true);
        E1->setEnabled(true);
    }
}

bool TForm1::RunInProgress() const {
    return DownloadRunning() || Label9->text() == QStringLiteral("SMTP");
}
