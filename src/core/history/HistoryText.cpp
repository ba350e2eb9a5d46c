#include "core/history/HistoryText.h"

QString HistoryClipboardText(const QStringList& lines) {
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    return text;
}
