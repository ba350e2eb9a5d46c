// The main window's side of the timer measurement.
#include "app/quillmetUnit1.h"

#include "platform/WindowTimer.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void TForm1::TimerMeasClick() {}

void TForm1::Timer3Timer() {}

void TForm1::Timer4Timer() {}

void TForm1::EndTimerSchedule() {
    Label8->hide();
    Label50->setText(QStringLiteral("0"));
    Timer3->setInterval(0);
    Timer4->setInterval(0);
    Label51->setText(QStringLiteral("0"));
    Label52->setText(QStringLiteral("0"));
    Timer3->setEnabled(false);
    Timer4->setEnabled(false);
    Button1->setEnabled(true);
    E1->setEnabled(true);
    Edit7->setEnabled(true);
}
