// Ctrl+C in an edit box with a selection copies that selection, not the history.
#pragma once

#include <QObject>

class QWidget;

// Watches the edit boxes of a window. Before a Copy key reaches the window's shortcuts it
// decides who takes it: an edit box with selected text keeps the key (and copies the
// selection); otherwise the key goes on to the menu shortcut.
class EditBoxCopyFilter final : public QObject {
    Q_OBJECT

public:
    explicit EditBoxCopyFilter(QObject* parent = nullptr);

    // Installs one filter, owned by the window, on every edit box the window holds now.
    static void InstallOn(QWidget* window);

    // True when the widget is an edit box (line or text) with selected text.
    static bool HasSelectedText(const QObject* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
