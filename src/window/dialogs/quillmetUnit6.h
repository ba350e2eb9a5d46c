// The timer settings dialog: every how many minutes, how many runs, how many times.
#pragma once

#include "core/schedule/TimerSchedule.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class TForm1;

class TForm6 final : public QDialog {
    Q_OBJECT

public:
    // The dialog belongs to the main window whose schedule it sets (the global Form1 when
    // none is given).
    explicit TForm6(TForm1* mainWindow = nullptr);
    ~TForm6() override;

    // "タイマーON": checks the selection and the URL, then starts the schedule.
    void Button1Click();
    // "タイマーOFF": ends the schedule, whether or not one is on.
    void Button2Click();

    QComboBox* ComboBox1 = nullptr; // minutes: 30, 60, 90, 120
    QLabel* Label1 = nullptr;       // "分置きに"
    QComboBox* ComboBox2 = nullptr; // runs per burst: 1 to 3
    QLabel* Label2 = nullptr;       // "回の測定を"
    QComboBox* ComboBox3 = nullptr; // bursts: 1 to 7
    QLabel* Label3 = nullptr;       // "回繰り返す"
    QCheckBox* CheckBox1 = nullptr; // "IPv4とIPv6を交互に", kept in the settings file
    QPushButton* Button1 = nullptr; // "タイマーON"
    QPushButton* Button2 = nullptr; // "タイマーOFF", the default button

    // How long a minute and the pause between the runs of a burst last; tests shorten them.
    int MsPerMinute = TimerSchedule::MsPerMinute;
    int GapMs = TimerSchedule::GapMs;

    // Closing the dialog without ON (Esc, the title bar) does what OFF does: the window
    // must not stay waiting for a schedule that is not there.
    void reject() override;

private:
    TForm1* mainWindow() const;
    void CheckBox1Toggled(bool on);

    TForm1* m_mainWindow = nullptr;
};

extern TForm6* Form6;
