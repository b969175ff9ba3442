#include "scan/go_string_literal.h"

#include <cstdint>
#include <optional>

#include "base/text.h"

namespace halvo {
namespace {

// Appends what the escape at the start of `escape` (after its backslash)
// stands for and returns how many characters it took; 0 for no escape of Go's.
size_t appendEscape(std::string& out, std::string_view escape) {
    const char kind = escape.front();
    const size_t digits = kind == 'x' ? 2 : kind == 'u' ? 4 : kind == 'U' ? 8 : 0;
    if (digits > 0) {
        const std::optional<uint32_t> value =
            escape.size() > digits ? parseHex32(escape.substr(1, digits)) : std::nullopt;
        if (!value) {
            return 0;
        }
        if (kind == 'x') {
            out += static_cast<char>(*value);
        } else {
            appendUtf8(out, *value > 0x10FFFF ? 0xFFFD : *value);
        }
        return digits + 1;
    }
    constexpr std::string_view kFrom = "abfnrtv\\\"'";
    constexpr std::string_view kTo = "\a\b\f\n\r\t\v\\\"'";
    const size_t simple = kFrom.find(kind);
    if (simple == std::string_view::npos) {
        return 0;
    }
    out += kTo[simple];
    return 1;
}

}  // namespace

std::string goUnquoted(std::string_view text) {
    text = trimWhiteSpace(text);
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
        return decodeUtf8Lossy(text);
    }
    const std::string_view inner = text.substr(1, text.size() - 2);
    std::string out;
    for (size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] != '\\' || i + 1 == inner.size()) {
            out += inner[i];
            continue;
        }
        const size_t taken = appendEscape(out, inner.substr(i + 1));
        if (taken == 0) {
            return decodeUtf8Lossy(inner);
        }
        i += taken;
    }
    // \x escapes and surrogate code points may spell invalid UTF-8.
    return decodeUtf8Lossy(out);
}

}  // namespace halvo
