// Small text helpers shared by the parsers: decimal numbers as the field
// formats write them, UTF-8 repair, Unicode lower-casing and path components.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvo {

// An optional single "+" or "-", then ASCII digits only, within range.
std::optional<int64_t> parseInt64(std::string_view text);
std::optional<int32_t> parseInt32(std::string_view text);
// ASCII digits only, no sign, within range.
std::optional<uint64_t> parseUint64(std::string_view text);
// One to eight hexadecimal digits, either case, nothing else.
std::optional<uint32_t> parseHex32(std::string_view text);

// Whether every byte is below 0x80, so that byte-wise handling is exact.
bool isAscii(std::string_view text);

// Valid UTF-8, with every invalid sequence replaced by U+FFFD.
std::string decodeUtf8Lossy(std::string_view bytes);
bool isValidUtf8(std::string_view bytes);
// Appends code point `c` (at most U+10FFFF) as UTF-8.
void appendUtf8(std::string& out, uint32_t c);

// Locale-independent Unicode lower-casing of UTF-8 text.
std::string toLower(std::string_view text);
// Lower-cases ASCII text in place, eight bytes at a time; false, with the text
// half done, when it holds a byte beyond ASCII (toLower then does it whole).
bool lowerAsciiInPlace(std::string& text);
// Canonical composition (NFC), so that precomposed and decomposed forms compare equal.
std::string normalizeCanonical(std::string_view text);

// `text` without Unicode white space at either end; an invalid UTF-8 sequence
// counts as text.
std::string_view trimWhiteSpace(std::string_view text);

// Pieces between separators; empty pieces dropped.
std::vector<std::string_view> splitNonEmpty(std::string_view text, char separator);

// The text after the last "/", trailing slashes ignored; "/" for the root and
// the whole text when there is no slash.
std::string lastPathComponent(std::string_view path);
// The path without its last component ("/" for a file in the root).
std::string parentDirectory(std::string_view path);

}  // namespace halvo
