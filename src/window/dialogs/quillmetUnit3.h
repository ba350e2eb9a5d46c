// The usage text.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

class TForm3 final : public QDialog {
    Q_OBJECT

public:
    explicit TForm3(QWidget* parent = nullptr);

    // The text names this sample host (the chosen measurement server).
    void ShowSampleHost(const QString& sampleHost);

    QPlainTextEdit* Memo1 = nullptr; // the text: read-only, borderless, scrolls vertically
    QPushButton* Button1 = nullptr;  // "OK"
};

extern TForm3* Form3;
