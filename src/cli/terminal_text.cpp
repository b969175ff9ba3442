#include "cli/terminal_text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdio>

namespace halvo {
namespace {

std::string hexEscape(const char* format, unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), format, value);
    return buffer;
}

// Invisible characters that still act: controls (C0, DEL, C1), format
// characters (bidirectional overrides, zero-width space, byte order mark) and
// the line and paragraph separators.
bool isInvisibleControl(UChar32 c) {
    switch (u_charType(c)) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
            return true;
        default:
            return false;
    }
}

int codePointWidth(UChar32 c) {
    const auto type = u_charType(c);
    if (type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK || type == U_FORMAT_CHAR) {
        return 0;
    }
    const auto eastAsian = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
    return eastAsian == U_EA_WIDE || eastAsian == U_EA_FULLWIDTH ? 2 : 1;
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
        } else if (isInvisibleControl(c)) {
            out += hexEscape("\\u%04x", static_cast<unsigned>(c));
        } else {
            out.append(text.data() + start, static_cast<size_t>(i - start));
        }
    }
    return out;
}

size_t displayWidth(std::string_view text) {
    size_t width = 0;
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        width += static_cast<size_t>(c < 0 ? 1 : codePointWidth(c));
    }
    return width;
}

std::string cutToWidth(std::string_view text, size_t width) {
    if (displayWidth(text) <= width) {
        return std::string(text);
    }
    constexpr std::string_view kEllipsis = "\u2026";
    std::string out;
    size_t used = 0;
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length && width > 0;) {
        const int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        const size_t w = static_cast<size_t>(c < 0 ? 1 : codePointWidth(c));
        if (used + w > width - 1) {
            break;
        }
        used += w;
        out.append(text.data() + start, static_cast<size_t>(i - start));
    }
    if (width > 0) {
        out += kEllipsis;
    }
    return out;
}

}  // namespace halvo
