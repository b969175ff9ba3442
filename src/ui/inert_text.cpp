#include "ui/inert_text.h"

namespace halvo::ui {
namespace {

bool isUnsafe(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

QString inertText(std::string_view utf8, qsizetype maxChars) {
    // Decode no more than can be shown: 4 bytes per character at most.
    const auto bytes = std::min<size_t>(utf8.size(), static_cast<size_t>(maxChars + 1) * 4);
    return inertText(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(bytes)), maxChars);
}

QString inertText(QString text, qsizetype maxChars) {
    text = std::move(text).trimmed();
    if (text.size() > maxChars) {
        qsizetype cut = maxChars - 1;
        if (cut > 0 && text.at(cut - 1).isHighSurrogate()) {
            --cut;
        }
        text.truncate(cut);
        text.append(QChar(0x2026));
    }
    for (QChar& c : text) {
        if (isUnsafe(c.unicode())) {
            c = QChar::ReplacementCharacter;
        }
    }
    return text;
}

QString inertToolTip(std::string_view utf8) {
    return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(inertText(utf8).toHtmlEscaped());
}

}  // namespace halvo::ui
