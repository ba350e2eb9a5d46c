#include "window/main/EditBoxCopyFilter.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

EditBoxCopyFilter::EditBoxCopyFilter(QWidget* window)
    : QObject(window)
    , m_window(window) {}

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

bool EditBoxCopyFilter::IsWindowShortcut(const QKeyEvent* key) const {
    const QKeySequence pressed(key->keyCombination());
    for (const QAction* a : m_window->findChildren<QAction*>()) {
        if (a->isEnabled() && !a->shortcut().isEmpty() &&
            a->shortcut().matches(pressed) == QKeySequence::ExactMatch)
            return true;
    }
    return false;
}

bool EditBoxCopyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const bool copy = key->matches(QKeySequence::Copy);
    if (!copy && !IsWindowShortcut(key))
        return false;
    // An accepted override keeps the key in the edit box; an ignored one lets the
    // window's shortcut have it, even where the box would claim it.
    if (copy && HasSelectedText(watched))
        key->accept();
    else
        key->ignore();
    return true;
}
