#include "history/EditBoxCopyFilter.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

EditBoxCopyFilter::EditBoxCopyFilter(QObject* parent)
    : QObject(parent) {}

void EditBoxCopyFilter::InstallOn(QWidget* window) {
    auto* filter = new EditBoxCopyFilter(window);
    for (QLineEdit* e : window->findChildren<QLineEdit*>())
        e->installEventFilter(filter);
    for (QTextEdit* e : window->findChildren<QTextEdit*>())
        e->installEventFilter(filter);
    for (QPlainTextEdit* e : window->findChildren<QPlainTextEdit*>())
        e->installEventFilter(filter);
}

bool EditBoxCopyFilter::HasSelectedText(const QObject* widget) {
    if (const auto* e = qobject_cast<const QLineEdit*>(widget))
        return e->hasSelectedText() && e->echoMode() == QLineEdit::Normal;
    if (const auto* e = qobject_cast<const QTextEdit*>(widget))
        return e->textCursor().hasSelection();
    if (const auto* e = qobject_cast<const QPlainTextEdit*>(widget))
        return e->textCursor().hasSelection();
    return false;
}

bool EditBoxCopyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (!key->matches(QKeySequence::Copy))
        return false;
    // An accepted override keeps the key in the edit box; an ignored one lets the
    // window's shortcut (the history copy) have it, even where the box would claim it.
    if (HasSelectedText(watched))
        key->accept();
    else
        key->ignore();
    return true;
}
