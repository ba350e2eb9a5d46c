// The mail-bench caution dialog, shown before every upload.
#pragma once

#include <QDialog>

class TForm4 final : public QDialog {
    Q_OBJECT

public:
    explicit TForm4(QWidget* parent = nullptr);
};

extern TForm4* Form4;
