// Speeds of the fastest record, read back from their display texts.
#pragma once

#include <QString>
#include <optional>

// A kbps text as a number, with "." or "," as the decimal separator; nothing when the
// text is no finite number.
std::optional<double> ReadSpeedText(const QString& text);

// True when current is strictly faster than the record. A record text that is no number
// counts as 0; a current text that is no number is never a record.
bool IsNewRecord(const QString& recordText, const QString& currentText);
