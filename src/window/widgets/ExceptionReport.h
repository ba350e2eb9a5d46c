// The standard exception report: a message box with the exception's message.
#pragma once

#include "core/platform/EventErrors.h"

#include <QString>
#include <exception>
#include <functional>

// Makes the message box the sink of every error that escapes an event handler.
void InstallExceptionReport();

// Gives the reported messages an explanation (empty for none); the window knows which
// host a failure was about.
void SetErrorExplainer(std::function<QString(const QString& message)> explainer);

// Shows the message in a message box; the program goes on.
void ShowExceptionMessage(const QString& message, const QString& explanation = {});
void ShowException(const std::exception& e);
void ShowUnknownException();
