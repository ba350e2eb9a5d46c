#include "core/state/Tpf0.h"

#include "core/state/Cp932.h"

#include <bit>
#include <cmath>
#include <limits>

namespace tpf0 {

namespace {

std::uint64_t littleEndian(std::string_view bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

std::u16string utf16FromLittleEndian(std::string_view bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(littleEndian(bytes.substr(2 * i, 2)));
    return units;
}

// The x87 80-bit format: 64-bit mantissa with an explicit integer bit, 15-bit biased exponent.
long double decodeExtended(std::string_view bytes) {
    const std::uint64_t mantissa = littleEndian(bytes.substr(0, 8));
    const auto signAndExponent = static_cast<unsigned>(littleEndian(bytes.substr(8, 2)));
    const bool negative = (signAndExponent & 0x8000u) != 0;
    const int exponent = static_cast<int>(signAndExponent & 0x7FFFu);
    long double value;
    if (exponent == 0x7FFF) {
        value = (mantissa << 1) == 0 ? std::numeric_limits<long double>::infinity()
                                     : std::numeric_limits<long double>::quiet_NaN();
    } else {
        const int scale = (exponent == 0 ? 1 : exponent) - 16383 - 63;
        value = std::ldexp(static_cast<long double>(mantissa), scale);
    }
    return negative ? -value : value;
}

std::string tagName(Tag tag) {
    return "tag " + std::to_string(static_cast<int>(tag));
}

} // namespace

EReadError::EReadError(std::size_t offset, const std::string& what)
    : Exception("byte " + std::to_string(offset) + ": " + what)
    , m_offset(offset) {}

bool IsStringTag(Tag tag) {
    return tag == Tag::String || tag == Tag::LString || tag == Tag::WString;
}

bool IsIntegerTag(Tag tag) {
    return tag == Tag::Int8 || tag == Tag::Int16 || tag == Tag::Int32 || tag == Tag::Int64;
}

std::optional<QString> TextOf(const Value& value) {
    if (value.tag == Tag::WString)
        return QString::fromStdU16String(value.wide);
    if (value.tag == Tag::String || value.tag == Tag::LString)
        return QString::fromStdString(Cp932ToUtf8Lenient(value.bytes));
    return std::nullopt;
}

// ---- Reader

void Reader::fail(const std::string& what) const {
    throw EReadError(m_pos, what);
}

std::string_view Reader::take(std::size_t count) {
    if (count > m_data.size() - m_pos)
        fail("the data ends early (" + std::to_string(count) + " bytes wanted, " +
             std::to_string(m_data.size() - m_pos) + " left)");
    const auto bytes = m_data.substr(m_pos, count);
    m_pos += count;
    return bytes;
}

std::uint32_t Reader::readU32() {
    return static_cast<std::uint32_t>(littleEndian(take(4)));
}

void Reader::ReadSignature() {
    const std::size_t start = m_pos;
    if (take(Signature.size()) != Signature) {
        m_pos = start;
        fail("no \"TPF0\" signature");
    }
}

std::string Reader::ReadShortString() {
    const auto length = static_cast<unsigned char>(take(1)[0]);
    return std::string(take(length));
}

bool Reader::ReadEndMarker() {
    if (m_pos == m_data.size())
        fail("the data ends early (an end marker was wanted)");
    if (m_data[m_pos] != '\0')
        return false;
    ++m_pos;
    return true;
}

Tag Reader::ReadTag() {
    const auto code = static_cast<unsigned char>(take(1)[0]);
    if (code > LastTag) {
        --m_pos;
        fail("unknown value tag " + std::to_string(code));
    }
    return static_cast<Tag>(code);
}

std::int64_t Reader::ReadInteger(Tag tag) {
    switch (tag) {
    case Tag::Int8:
        return static_cast<std::int8_t>(littleEndian(take(1)));
    case Tag::Int16:
        return static_cast<std::int16_t>(littleEndian(take(2)));
    case Tag::Int32:
        return static_cast<std::int32_t>(littleEndian(take(4)));
    case Tag::Int64:
        return static_cast<std::int64_t>(littleEndian(take(8)));
    default:
        fail(tagName(tag) + " is not an integer");
    }
}

QString Reader::ReadText(Tag tag) {
    switch (tag) {
    case Tag::String:
        return QString::fromStdString(
            Cp932ToUtf8Lenient(take(static_cast<unsigned char>(take(1)[0]))));
    case Tag::LString:
        return QString::fromStdString(Cp932ToUtf8Lenient(take(readU32())));
    case Tag::WString:
        return QString::fromStdU16String(utf16FromLittleEndian(take(std::size_t{2} * readU32())));
    default:
        fail(tagName(tag) + " is not a string");
    }
}

std::vector<std::string> Reader::ReadSetMembers() {
    std::vector<std::string> members;
    for (;;) {
        auto member = ReadShortString();
        if (member.empty())
            return members;
        members.push_back(std::move(member));
    }
}

Value Reader::ReadValue() {
    const Tag tag = ReadTag();
    if (tag == Tag::Null) {
        --m_pos;
        fail("end of list where a value was expected");
    }
    return readValue(tag, 0);
}

Value Reader::readValue(Tag tag, int depth) {
    Value value;
    value.tag = tag;
    switch (tag) {
    case Tag::Null:
        fail("end of list where a value was expected");
    case Tag::List:
        if (depth >= MaxDepth)
            fail("lists nested too deeply");
        for (Tag item = ReadTag(); item != Tag::Null; item = ReadTag())
            value.items.push_back(readValue(item, depth + 1));
        break;
    case Tag::Int8:
    case Tag::Int16:
    case Tag::Int32:
    case Tag::Int64:
        value.integer = ReadInteger(tag);
        break;
    case Tag::Extended:
        value.real = decodeExtended(take(10));
        break;
    case Tag::String:
        value.bytes = std::string(take(static_cast<unsigned char>(take(1)[0])));
        break;
    case Tag::Ident:
        value.bytes = ReadShortString();
        break;
    case Tag::False:
    case Tag::True:
    case Tag::Nil:
        break;
    case Tag::Binary:
    case Tag::LString:
        value.bytes = std::string(take(readU32()));
        break;
    case Tag::Set:
        value.members = ReadSetMembers();
        break;
    case Tag::Collection:
        if (depth >= MaxDepth)
            fail("collections nested too deeply");
        for (Tag item = ReadTag(); item != Tag::Null; item = ReadTag()) {
            if (item != Tag::List) {
                --m_pos;
                fail("a collection item does not start with a list tag");
            }
            value.collection.push_back(readProperties(depth + 1));
        }
        break;
    case Tag::Single:
        value.real = std::bit_cast<float>(static_cast<std::uint32_t>(littleEndian(take(4))));
        break;
    case Tag::Currency:
        value.integer = static_cast<std::int64_t>(littleEndian(take(8)));
        break;
    case Tag::Date:
        value.real = std::bit_cast<double>(littleEndian(take(8)));
        break;
    case Tag::WString:
        value.wide = utf16FromLittleEndian(take(std::size_t{2} * readU32()));
        break;
    }
    return value;
}

std::vector<Property> Reader::readProperties(int depth) {
    std::vector<Property> properties;
    while (!ReadEndMarker()) {
        Property property;
        property.name = ReadShortString();
        const Tag tag = ReadTag();
        property.value = readValue(tag, depth);
        properties.push_back(std::move(property));
    }
    return properties;
}

Record Reader::ReadRecord() {
    Record record;
    ReadSignature();
    record.className = ReadShortString();
    record.name = ReadShortString();
    record.properties = readProperties(0);
    if (!ReadEndMarker())
        fail("child components are not supported");
    return record;
}

// ---- Writer

void Writer::putTag(Tag tag) {
    m_data += static_cast<char>(tag);
}

void Writer::putU32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        m_data += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void Writer::WriteSignature() {
    m_data += Signature;
}

void Writer::WriteShortString(std::string_view bytes) {
    const auto cut = Cp932Prefix(bytes, ShortStringMax);
    m_data += static_cast<char>(cut.size());
    m_data += cut;
}

void Writer::WriteEndMarker() {
    m_data += '\0';
}

void Writer::WriteInteger(std::int64_t value) {
    int size;
    if (value >= INT8_MIN && value <= INT8_MAX) {
        putTag(Tag::Int8);
        size = 1;
    } else if (value >= INT16_MIN && value <= INT16_MAX) {
        putTag(Tag::Int16);
        size = 2;
    } else if (value >= INT32_MIN && value <= INT32_MAX) {
        putTag(Tag::Int32);
        size = 4;
    } else {
        putTag(Tag::Int64);
        size = 8;
    }
    const auto bits = static_cast<std::uint64_t>(value);
    for (int i = 0; i < size; ++i)
        m_data += static_cast<char>((bits >> (8 * i)) & 0xFF);
}

void Writer::WriteText(const QString& text) {
    const auto bytes = text.isValidUtf16() ? Utf8ToCp932(text.toStdString()) : std::nullopt;
    if (bytes) {
        if (bytes->size() <= ShortStringMax) {
            putTag(Tag::String);
            m_data += static_cast<char>(bytes->size());
        } else {
            putTag(Tag::LString);
            putU32(static_cast<std::uint32_t>(bytes->size()));
        }
        m_data += *bytes;
        return;
    }
    // Nothing is mangled: what CP932 cannot hold goes out as UTF-16.
    putTag(Tag::WString);
    putU32(static_cast<std::uint32_t>(text.size()));
    for (const QChar unit : text) {
        m_data += static_cast<char>(unit.unicode() & 0xFF);
        m_data += static_cast<char>(unit.unicode() >> 8);
    }
}

void Writer::WriteIdent(std::string_view name) {
    putTag(Tag::Ident);
    WriteShortString(name);
}

void Writer::WriteBoolean(bool value) {
    putTag(value ? Tag::True : Tag::False);
}

void Writer::WriteSet(std::span<const std::string_view> members) {
    putTag(Tag::Set);
    for (const auto member : members) {
        if (!member.empty()) // an empty name would end the set
            WriteShortString(member);
    }
    WriteEndMarker();
}

void Writer::WriteListStart() {
    putTag(Tag::List);
}

} // namespace tpf0
