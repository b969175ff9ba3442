#include "ui/inert_text.h"

namespace halvo::ui {
namespace {

// Controls (C0, DEL, C1) and line and paragraph separators.
bool breaksTheLine(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

}  // namespace

QString inertText(std::string_view utf8, qsizetype maxChars) {
    // Decode no more than can be shown: 4 bytes per character at most.
    const auto bytes = std::min<size_t>(utf8.size(), static_cast<size_t>(maxChars + 1) * 4);
    return inertText(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(bytes)), maxChars);
}

QString inertText(QString text, qsizetype maxChars) {
    text = std::move(text).trimmed();
    QString shown;
    shown.reserve(std::min(text.size(), maxChars));
    qsizetype i = 0;
    while (i < text.size() && shown.size() < maxChars) {
        const bool pair =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const char32_t c =
            pair ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1)) : text.at(i).unicode();
        const qsizetype units = pair ? 2 : 1;
        if (breaksTheLine(c)) {
            shown.append(QChar::ReplacementCharacter);
        } else if (QChar::category(c) == QChar::Other_Format) {
            shown.append(QStringLiteral("\\u%1").arg(static_cast<uint>(c), 4, 16, QChar(u'0')));
        } else {
            shown.append(QStringView(text).mid(i, units));
        }
        i += units;
    }
    if (i < text.size() || shown.size() > maxChars) {
        qsizetype cut = maxChars - 1;
        if (cut > 0 && shown.at(cut - 1).isHighSurrogate()) {
            --cut;
        }
        shown.truncate(cut);
        shown.append(QChar(0x2026));
    }
    return shown;
}

QString inertToolTip(std::string_view utf8) {
    return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(inertText(utf8).toHtmlEscaped());
}

QString inertMenuText(std::string_view utf8, MenuDrawnBy drawnBy) {
    QString text = inertText(utf8);
    if (drawnBy == MenuDrawnBy::qt) {
        return text.replace(u'&', QStringLiteral("&&"));
    }
    text.replace(u'_', QStringLiteral("__"));
    // Qt exports the first "&" as "_", which then marks the "&" after it.
    if (const qsizetype ampersand = text.indexOf(u'&'); ampersand >= 0) {
        text.insert(ampersand, u'&');
    }
    return text;
}

}  // namespace halvo::ui
