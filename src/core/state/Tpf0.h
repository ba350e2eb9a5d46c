// The component stream: records of a class name, a component name and tagged property values.
#pragma once

#include "core/platform/Exceptions.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tpf0 {

// Value tags. Multi-byte numbers are little-endian.
enum class Tag : std::uint8_t {
    Null = 0,        // end of a list
    List = 1,        // values up to a Null
    Int8 = 2,        // 1 byte, signed
    Int16 = 3,       // 2 bytes, signed
    Int32 = 4,       // 4 bytes, signed
    Extended = 5,    // 10 bytes, x87 80-bit float
    String = 6,      // 1 length byte, CP932 bytes
    Ident = 7,       // short string
    False = 8,       //
    True = 9,        //
    Binary = 10,     // 4-byte length, bytes
    Set = 11,        // short strings up to an empty one
    LString = 12,    // 4-byte length, CP932 bytes
    Nil = 13,        //
    Collection = 14, // items (List, property entries, Null), then Null
    Single = 15,     // 4-byte float
    Currency = 16,   // 8-byte integer, amount x 10,000
    Date = 17,       // 8-byte double
    WString = 18,    // 4-byte length in UTF-16 units, UTF-16LE
    Int64 = 19,      // 8 bytes, signed
};
inline constexpr int LastTag = 19;

inline constexpr std::string_view Signature = "TPF0";
// Lists and collections nested deeper than this are refused rather than followed.
inline constexpr int MaxDepth = 32;
// Names, identifiers and tag 6 strings hold at most this many bytes.
inline constexpr std::size_t ShortStringMax = 255;

// Malformed input: what was wrong and at which byte offset.
class EReadError : public Exception {
public:
    EReadError(std::size_t offset, const std::string& what);
    const char* ClassName() const noexcept override { return "EReadError"; }
    std::size_t Offset() const noexcept { return m_offset; }

private:
    std::size_t m_offset;
};

struct Property;

// One value as read, whatever its tag; only the members of its tag are set.
struct Value {
    Tag tag = Tag::Nil;
    std::int64_t integer = 0;                      // Int8 ... Int64; Currency x 10,000
    long double real = 0;                          // Extended, Single, Date
    std::string bytes;                             // String, LString, Ident (CP932), Binary
    std::u16string wide;                           // WString
    std::vector<std::string> members;              // Set
    std::vector<Value> items;                      // List
    std::vector<std::vector<Property>> collection; // Collection: each item's entries
};

struct Property {
    std::string name;
    Value value;
};

struct Record {
    std::string className;
    std::string name;
    std::vector<Property> properties;
};

bool IsStringTag(Tag tag);
bool IsIntegerTag(Tag tag);
// Text of a String, LString or WString value; empty for other tags. CP932 bytes that form no
// character come back as U+FFFD.
std::optional<QString> TextOf(const Value& value);

// Reads a stream held in memory. Every read checks the bytes left first, so a length that
// runs past the end is an EReadError and never an allocation.
class Reader final {
public:
    explicit Reader(std::string_view data)
        : m_data(data) {}
    // The reader keeps a view: the data must outlive it.
    explicit Reader(std::string&&) = delete;

    std::size_t Position() const noexcept { return m_pos; }
    bool AtEnd() const noexcept { return m_pos == m_data.size(); }

    void ReadSignature();
    std::string ReadShortString();
    // Consumes a 0 byte (end of a list of entries) and says whether there was one.
    bool ReadEndMarker();
    // A tag byte, one of the known ones.
    Tag ReadTag();
    // Payload of a value whose tag has been read.
    std::int64_t ReadInteger(Tag tag);
    QString ReadText(Tag tag);
    // Payload of a Set, the members' names.
    std::vector<std::string> ReadSetMembers();
    // A whole value of any tag (not Null).
    Value ReadValue();
    // A whole record; a record with children is refused.
    Record ReadRecord();

private:
    Value readValue(Tag tag, int depth);
    std::vector<Property> readProperties(int depth);
    std::string_view take(std::size_t count);
    std::uint32_t readU32();
    [[noreturn]] void fail(const std::string& what) const;

    std::string_view m_data;
    std::size_t m_pos = 0;
};

// Builds a stream in memory.
class Writer final {
public:
    void WriteSignature();
    // Cut to 255 bytes, never inside a double-byte character.
    void WriteShortString(std::string_view bytes);
    void WriteEndMarker();
    // The smallest of Int8, Int16, Int32, Int64 that holds the value.
    void WriteInteger(std::int64_t value);
    // String or LString by the CP932 byte length; WString when CP932 cannot hold the text.
    void WriteText(const QString& text);
    void WriteIdent(std::string_view name);
    void WriteBoolean(bool value);
    void WriteSet(std::span<const std::string_view> members);
    // A List tag; the values follow, then WriteEndMarker.
    void WriteListStart();

    const std::string& Data() const noexcept { return m_data; }

private:
    void putTag(Tag tag);
    void putU32(std::uint32_t value);

    std::string m_data;
};

} // namespace tpf0
