// Text from processes (names, paths, arguments, error messages) is shown as
// inert plain text: surrounding white space is removed, control characters
// (terminal escapes, line breaks), line and paragraph separators and invalid
// UTF-8 become U+FFFD, format characters (Unicode category Cf: zero-width
// space, byte order mark, bidirectional overrides) are spelt out as the
// command-line tool spells them ("\u200b"), and overlong text is cut to
// `maxChars` with an ellipsis so that laying it out stays cheap. Widgets
// showing it still set Qt::PlainText.
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

// Who draws a menu: Qt, where "&" marks a mnemonic; or the desktop, from the
// menu Qt exports over D-Bus, where "_" marks an access key and Qt turns the
// text's first "&" into one.
enum class MenuDrawnBy { qt, desktop };

// inertText() as a menu entry shows it exactly: for Qt every "&" doubled; for
// the desktop every "_" doubled and the first "&" too.
QString inertMenuText(std::string_view utf8, MenuDrawnBy drawnBy);

}  // namespace halvo::ui
