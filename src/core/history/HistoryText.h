// The history as one plain text, as it goes to the clipboard.
#pragma once

#include <QString>
#include <QStringList>

// Every line in order, each followed by CR LF, the last one included; "" for no lines.
QString HistoryClipboardText(const QStringList& lines);
