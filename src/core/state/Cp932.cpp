#include "core/state/Cp932.h"

#include "core/platform/Exceptions.h"

#include <cerrno>
#include <iconv.h>

namespace {

const auto InvalidDescriptor = reinterpret_cast<iconv_t>(-1);

enum class Stop { Done, Invalid, Incomplete };

// One iconv direction, opened once per thread and reset before each use.
class Converter final {
public:
    Converter(const char* to, const char* from)
        : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (m_cd != InvalidDescriptor)
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Appends the conversion of `in` to `out` up to the first byte that does not convert;
    // `consumed` tells how far the input went.
    Stop convert(std::string_view in, std::string& out, std::size_t& consumed) {
        if (m_cd == InvalidDescriptor)
            throw Exception("CP932 conversion is not available (iconv)");
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        while (inLeft > 0) {
            const std::size_t start = out.size();
            const std::size_t room = inLeft * 3 + 8;
            out.resize(start + room);
            char* outPtr = out.data() + start;
            std::size_t outLeft = room;
            const std::size_t rc = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            const int err = errno;
            out.resize(start + (room - outLeft));
            if (rc != static_cast<std::size_t>(-1))
                break;
            if (err == E2BIG)
                continue;
            consumed = in.size() - inLeft;
            return err == EINVAL ? Stop::Incomplete : Stop::Invalid;
        }
        consumed = in.size();
        return Stop::Done;
    }

private:
    iconv_t m_cd;
};

Converter& toCp932() {
    thread_local Converter converter("CP932", "UTF-8");
    return converter;
}

Converter& fromCp932() {
    thread_local Converter converter("UTF-8", "CP932");
    return converter;
}

bool isLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

} // namespace

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    std::string out;
    std::size_t consumed = 0;
    if (toCp932().convert(utf8, out, consumed) != Stop::Done)
        return std::nullopt;
    // Several characters share one code (U+00A5 and "\" are both 0x5C); only a text that comes
    // back unchanged is representable.
    const auto back = Cp932ToUtf8(out);
    if (!back || *back != utf8)
        return std::nullopt;
    return out;
}

std::optional<std::string> Cp932ToUtf8(std::string_view cp932) {
    std::string out;
    std::size_t consumed = 0;
    if (fromCp932().convert(cp932, out, consumed) != Stop::Done)
        return std::nullopt;
    return out;
}

std::string Cp932ToUtf8Lenient(std::string_view cp932) {
    static constexpr std::string_view Replacement = "\xEF\xBF\xBD";
    std::string out;
    while (!cp932.empty()) {
        std::size_t consumed = 0;
        const Stop stop = fromCp932().convert(cp932, out, consumed);
        if (stop == Stop::Done)
            break;
        out += Replacement;
        if (stop == Stop::Incomplete)
            break;
        cp932.remove_prefix(consumed + 1);
    }
    return out;
}

std::string_view Cp932Prefix(std::string_view cp932, std::size_t maxBytes) {
    if (cp932.size() <= maxBytes)
        return cp932;
    std::size_t end = 0;
    while (end < maxBytes) {
        const std::size_t width = isLeadByte(static_cast<unsigned char>(cp932[end])) ? 2 : 1;
        if (end + width > maxBytes)
            break;
        end += width;
    }
    return cp932.substr(0, end);
}
