#include "core/measure/NumberFormat.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace {
constexpr int kSignificantDigits = 15;
// Enough fractional digits for the exact expansion of every value that does not
// round to zero anyway.
constexpr int kExactFractionDigits = 120;
} // namespace

QString FormatFixed(long double value, int decimals) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");

    const bool negative = std::signbit(value);
    const long double magnitude = std::fabs(value);
    // The largest long double has 4,933 integer digits.
    char buffer[4933 + 2 + kExactFractionDigits + 16];
    std::snprintf(buffer, sizeof buffer, "%.*Lf", kExactFractionDigits, magnitude);
    const std::string text(buffer);
    const std::size_t point = text.find('.');
    std::string digits = text.substr(0, point) + text.substr(point + 1);
    int intDigits = static_cast<int>(point);

    // The last kept digit: `decimals` after the point, or the 15th significant one.
    const std::size_t firstSignificant = digits.find_first_not_of('0');
    int keep = intDigits + decimals;
    if (firstSignificant != std::string::npos)
        keep = std::min(keep, static_cast<int>(firstSignificant) + kSignificantDigits);
    keep = std::max(keep, 0);

    // Half away from zero on the magnitude: the exact expansion makes ties visible.
    const bool roundUp = static_cast<std::size_t>(keep) < digits.size() &&
                         digits[static_cast<std::size_t>(keep)] >= '5';
    digits.resize(static_cast<std::size_t>(keep));
    if (roundUp) {
        int i = keep - 1;
        for (; i >= 0 && digits[static_cast<std::size_t>(i)] == '9'; --i)
            digits[static_cast<std::size_t>(i)] = '0';
        if (i >= 0) {
            ++digits[static_cast<std::size_t>(i)];
        } else {
            digits.insert(digits.begin(), '1');
            ++intDigits;
        }
    }
    // Digits past the 15th significant one show as zeros.
    digits.resize(static_cast<std::size_t>(intDigits + decimals), '0');

    std::string intPart = digits.substr(0, static_cast<std::size_t>(intDigits));
    const std::size_t nonZero = intPart.find_first_not_of('0');
    intPart = nonZero == std::string::npos ? "0" : intPart.substr(nonZero);
    std::string result = intPart;
    if (decimals > 0)
        result += "." + digits.substr(static_cast<std::size_t>(intDigits));
    if (negative && result.find_first_not_of("0.") != std::string::npos)
        result.insert(result.begin(), '-');
    return QString::fromLatin1(result.c_str());
}
