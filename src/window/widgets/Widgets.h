// The widget-making helpers of every window: controls named for findChild, colours, and
// handlers bound inside the exception guard.
#pragma once

#include "core/platform/EventErrors.h"

#include <QLabel>
#include <QObject>
#include <QString>

class QColor;
class QLineEdit;
class QTextEdit;
class QPushButton;
class QWidget;

// Gives the widget (or action) its control name.
template <typename W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

template <typename L = QLabel>
L* MakeLabel(QWidget* parent, const char* name, const QString& caption) {
    return Named(new L(caption, parent), name);
}
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption);
QLineEdit* MakeEdit(QWidget* parent, const char* name, bool readOnly);

// The colour of a label's or button's text.
void SetTextColor(QWidget* widget, const QColor& color);
// The colour of the text in an edit box.
void SetEditTextColor(QLineEdit* box, const QColor& color);
// A log line at the end of the box, kept in view.
void AppendLogText(QTextEdit* log, const QString& text);

// Runs the owner's handler on the sender's signal; what the handler throws is reported.
template <typename Sender, typename Signal, typename Owner>
void BindHandler(Sender* sender, Signal signal, Owner* owner, void (Owner::*handler)()) {
    QObject::connect(sender, signal, owner,
                     [owner, handler] { Guarded([owner, handler] { (owner->*handler)(); }); });
}
