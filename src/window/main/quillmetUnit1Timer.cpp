// The main window's side of the timer measurement: it shows what the schedule holds.
#include "window/main/quillmetUnit1.h"

#include "core/upload/HttpUploadRun.h"
#include "core/upload/UploadRun.h"
#include "window/dialogs/quillmetUnit6.h"

#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void TForm1::ConnectSchedule() {
    m_schedule->RunGoingOn = [this] { return RunInProgress() || LineTestRunning(); };
    m_schedule->RunStarted = [this] { return Closed() || DownloadRunning(); };
    connect(m_schedule, &MeasurementSchedule::runDue, this, &TForm1::ClickButton1);
    connect(m_schedule, &MeasurementSchedule::changed, this, &TForm1::ShowSchedule);
    connect(m_schedule, &MeasurementSchedule::ended, this,
            [this](MeasurementSchedule::EndReason reason) {
                Label8->hide();
                // A run still going on enables the start controls itself when it ends.
                if (!RunInProgress() && !LineTestRunning())
                    SetStartEnabled(true);
                if (reason == MeasurementSchedule::EndReason::TickStartsNone)
                    SetStatus(QStringLiteral("タイマー測定を終了しました"));
            });
}

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

void TForm1::StartTimerSchedule(int intervalMs, int gapMs, int perBurst, int bursts,
                                bool alternate) {
    Label8->show();
    SetStartEnabled(false);
    m_schedule->SetAlternateFamilies(alternate);
    m_schedule->Start(intervalMs, gapMs, perBurst, bursts);
}

void TForm1::ShowSchedule() {
    const bool on = m_schedule->Active();
    Label50->setText(on ? QStringLiteral("1") : QStringLiteral("0"));
    Label51->setText(QString::number(m_schedule->PerBurst()));
    Label52->setText(QString::number(m_schedule->BurstsLeft()));
    Edit7->setEnabled(!on);
    const QString next =
        on ? QStringLiteral("タイマー測定：次回 %1、残り %2回")
                 .arg(m_schedule->NextBurst().toString(QStringLiteral("HH:mm")), Label52->text())
           : QString();
    // The waiting burst's time goes with the schedule; any other status stays.
    if (on || (!Label8->toolTip().isEmpty() && StatusText() == Label8->toolTip()))
        SetStatus(next);
    Label8->setToolTip(next);
}

bool TForm1::RunInProgress() const {
    return DownloadRunning() || m_upload->Running() || m_httpUpload->Running();
}
