// The standard exception report: a message box with the exception's message.
#pragma once

#include "platform/EventErrors.h"

#include <QString>
#include <exception>

// Makes the message box the sink of every error that escapes an event handler.
void InstallExceptionReport();

// Shows the message in a message box; the program goes on.
void ShowExceptionMessage(const QString& message);
void ShowException(const std::exception& e);
void ShowUnknownException();
