// The mail-bench caution dialog, shown before every upload.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QShowEvent;

// OK goes on with the upload; Cancel, Enter (Cancel is the default button) and the
// title bar's close stop it.
class TForm4 final : public QDialog {
    Q_OBJECT

public:
    explicit TForm4(QWidget* parent = nullptr);
    ~TForm4() override;

    QLabel* Label1 = nullptr; // heading
    QLabel* Label2 = nullptr; // own address?
    QLabel* Label5 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr; // address right?
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QPushButton* Button1 = nullptr; // "OK"
    QPushButton* Button2 = nullptr; // "Cancel"

protected:
    void showEvent(QShowEvent* event) override;
};

extern TForm4* Form4;
