#include "core/platform/Exceptions.h"

#include <cctype>
#include <cstdint>

int StrToInt(const std::string& text) {
    auto fail = [&text]() { return EConvertError("'" + text + "' は整数ではありません"); };
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        throw fail();
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isdigit(c))
            throw fail();
        value = value * 10 + (c - '0');
        if (value > 2147483648LL)
            throw fail();
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        throw fail();
    return static_cast<int>(value);
}
