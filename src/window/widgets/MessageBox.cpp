#include "window/widgets/MessageBox.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <cstdio>

namespace {
MessageBoxHook& hook() {
    static MessageBoxHook h;
    return h;
}
bool g_suppressed = false;
} // namespace

void SetMessageBoxesSuppressed(bool suppressed) {
    g_suppressed = suppressed;
}

void SetMessageBoxHook(MessageBoxHook h) {
    hook() = std::move(h);
}

void CloseOpenDialogs() {
    // reject() only marks each nested event loop to end; the waits unwind once the caller
    // is back in the event loop, innermost first.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible())
            dialog->reject();
    }
}

MsgResult ShowMessageBox(const QString& text, MsgButtons buttons, MsgIcon icon,
                         const QString& informative) {
    if (hook())
        return hook()(text, buttons, informative);
    if (g_suppressed) {
        std::fprintf(stderr, "quillmet: %s\n", text.toLocal8Bit().constData());
        return buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Cancel;
    }

    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QStringLiteral("Quillmet"));
    box.setText(text);
    if (!informative.isEmpty())
        box.setInformativeText(informative);
    switch (icon) {
    case MsgIcon::None:
        break;
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    switch (buttons) {
    case MsgButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MsgButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MsgButtons::RetryCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return MsgResult::Ok;
    case QMessageBox::Retry:
        return MsgResult::Retry;
    default:
        return buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Cancel;
    }
}
