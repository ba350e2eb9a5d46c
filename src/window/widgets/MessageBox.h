// Modal message boxes, through one function that tests can answer.
#pragma once

#include <QString>
#include <functional>

enum class MsgButtons { Ok, OkCancel, RetryCancel };
enum class MsgResult { Ok, Cancel, Retry };
enum class MsgIcon { None, Information, Warning, Error };

// Shows a modal message box with the text and waits for the user's answer. An
// informative text, when given, explains the text in smaller type under it.
MsgResult ShowMessageBox(const QString& text, MsgButtons buttons = MsgButtons::Ok,
                         MsgIcon icon = MsgIcon::None, const QString& informative = {});

// While a hook is installed it receives every message box instead of the screen,
// and its result is the user's answer.
using MessageBoxHook =
    std::function<MsgResult(const QString& text, MsgButtons buttons, const QString& informative)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Once the main window has closed no box is shown any more: the text goes to
// standard error and the answer is Cancel (Ok for a box with only OK).
void SetMessageBoxesSuppressed(bool suppressed);

// Ends every open dialog and message box as if Cancel (OK for a box with only OK) were
// pressed, so that each modal wait returns to its caller. Nobody will answer them once a
// termination signal has come.
void CloseOpenDialogs();
