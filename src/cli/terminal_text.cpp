#include "cli/terminal_text.h"

#include <unicode/utf8.h>

#include <cstdio>

namespace halvo {
namespace {

std::string hexEscape(const char* format, unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), format, value);
    return buffer;
}

bool isBidiControl(UChar32 c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string terminalSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        if (c < 0) {
            for (int32_t b = start; b < i; ++b) {
                out += hexEscape("\\x%02x", s[b]);
            }
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            out += hexEscape("\\x%02x", static_cast<unsigned>(c));
        } else if ((c >= 0x80 && c <= 0x9F) || isBidiControl(c)) {
            out += hexEscape("\\u%04x", static_cast<unsigned>(c));
        } else {
            out.append(text.data() + start, static_cast<size_t>(i - start));
        }
    }
    return out;
}

size_t displayWidth(std::string_view text) {
    size_t width = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) {
            ++width;
        }
    }
    return width;
}

}  // namespace halvo
