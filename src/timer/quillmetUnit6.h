// The timer settings dialog.
#pragma once

#include <QDialog>

class TForm6 final : public QDialog {
    Q_OBJECT

public:
    explicit TForm6(QWidget* parent = nullptr);
};

extern TForm6* Form6;
