#include "window/widgets/Widgets.h"

#include <QColor>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
    return Named(new QPushButton(caption, parent), name);
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, bool readOnly) {
    auto* box = Named(new QLineEdit(parent), name);
    box->setReadOnly(readOnly);
    return box;
}

void SetTextColor(QWidget* widget, const QColor& color) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    widget->setPalette(p);
}

void SetEditTextColor(QLineEdit* box, const QColor& color) {
    QPalette p = box->palette();
    p.setColor(QPalette::Text, color);
    box->setPalette(p);
}
