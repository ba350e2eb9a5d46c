// Text conversion at the state file's boundary: UTF-8 inside the program, code page 932 in the
// file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// UTF-8 text to CP932 bytes. Empty when CP932 cannot represent the text: a character with no
// CP932 code, or one that would come back as another character (U+00A5 would turn into "\"),
// or input that is not UTF-8.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

// CP932 bytes to UTF-8 text. Empty when the bytes are not CP932 text.
std::optional<std::string> Cp932ToUtf8(std::string_view cp932);

// As Cp932ToUtf8, but a byte that starts no character becomes U+FFFD and the rest is kept.
std::string Cp932ToUtf8Lenient(std::string_view cp932);

// The longest prefix of at most maxBytes bytes that does not end inside a double-byte character.
std::string_view Cp932Prefix(std::string_view cp932, std::size_t maxBytes);
