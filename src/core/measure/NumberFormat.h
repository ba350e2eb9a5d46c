// The one number format for every speed the program shows.
#pragma once

#include <QString>

// Fixed point with exactly `decimals` decimals and at most 15 significant digits,
// rounded half away from zero on the exact binary value, "." as separator, a minus
// sign for negatives (never "-0.0"). 2.25 → "2.3"; 0.0625 with 3 decimals → "0.063".
QString FormatFixed(long double value, int decimals);
