#include "window/widgets/Widgets.h"

#include <QColor>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>

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

void AppendLogText(QTextEdit* log, const QString& text) {
    // Line ends of the wire show as line breaks; the last one adds no empty line.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (shown.endsWith(QLatin1Char('\n')))
        shown.chop(1);
    QTextCursor cursor(log->document());
    cursor.movePosition(QTextCursor::End);
    if (!log->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(shown);
    // The layout is finished here rather than bit by bit from the event loop: the body is
    // logged just before its transfer is timed, and laying it out during the transfer would
    // delay the handling of the server's reply.
    log->document()->size();
    log->setTextCursor(cursor);
    log->ensureCursorVisible();
}
