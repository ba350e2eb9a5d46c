#include "core/history/RecordSpeed.h"

#include <cmath>

std::optional<double> ReadSpeedText(const QString& text) {
    QString t = text.trimmed();
    // A record written where the decimal separator is a comma still reads back.
    if (!t.contains(QLatin1Char('.')))
        t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool IsNewRecord(const QString& recordText, const QString& currentText) {
    const std::optional<double> current = ReadSpeedText(currentText);
    if (!current)
        return false;
    return ReadSpeedText(recordText).value_or(0.0) < *current;
}
