// The about box.
#pragma once

#include <QDialog>

class TForm2 final : public QDialog {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);
};

extern TForm2* Form2;
