// Text from processes (names, paths, arguments, error messages) is shown as
// inert plain text: surrounding white space is removed, control characters (terminal escapes, line
// breaks) and bidirectional overrides become U+FFFD, invalid UTF-8 decodes to U+FFFD, and overlong
// text is cut to `maxChars` with an ellipsis so that laying it out stays cheap. Widgets showing it
// still set Qt::PlainText.
#pragma once

#include <QString>

#include <string_view>

namespace halvo::ui {

inline constexpr qsizetype kInertTextMaxChars = 512;

QString inertText(std::string_view utf8, qsizetype maxChars = kInertTextMaxChars);
QString inertText(QString text, qsizetype maxChars = kInertTextMaxChars);

// inertText() as a tool tip, escaped and kept on one line: tool tips take no
// text format, and Qt would read text that looks like a tag as markup.
QString inertToolTip(std::string_view utf8);

}  // namespace halvo::ui
