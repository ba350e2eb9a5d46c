// The about box.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class ClickableLabel;

class TForm2 final : public QDialog {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);

    // Label3 and Label4 put a test image's URL into the main window's URL box.
    void Label3Click();
    void Label4Click();
    // Label5, Label6 and Label7 open the home page and the author's page.
    void Label5Click();
    void Label6Click();
    void Label7Click();

    QLabel* Label1 = nullptr;         // program name and version
    QLabel* Label2 = nullptr;         // platforms
    ClickableLabel* Label3 = nullptr; // notice line
    ClickableLabel* Label4 = nullptr; // author's name
    ClickableLabel* Label5 = nullptr; // home page link
    ClickableLabel* Label6 = nullptr; // publisher's name
    ClickableLabel* Label7 = nullptr; // author page link
    QPushButton* Button1 = nullptr;   // "OK"
};

extern TForm2* Form2;
