// The window's menu shortcuts work from its edit boxes; Ctrl+C in an edit box with a
// selection copies that selection, not the history.
#pragma once

#include <QObject>

class QKeyEvent;
class QWidget;

// Watches the edit boxes of a window. Before a key reaches the window's shortcuts it
// decides who takes it: a key that is an enabled menu shortcut of the window goes to the
// menu, even where the box would claim it (Ctrl+E is "end of line" to a line edit on X11),
// except that an edit box with selected text keeps the Copy key (and copies the selection).
class EditBoxCopyFilter final : public QObject {
    Q_OBJECT

public:
    explicit EditBoxCopyFilter(QWidget* window);

    // Installs one filter, owned by the window, on every edit box the window holds now.
    static void InstallOn(QWidget* window);

    // True when the widget is an edit box (line or text) with selected text.
    static bool HasSelectedText(const QObject* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IsWindowShortcut(const QKeyEvent* key) const;

    QWidget* m_window;
};
