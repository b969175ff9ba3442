// Text from other processes made safe for the user's terminal: a process name
// or argument must never move the cursor, change colours or set a title.
#pragma once

#include <string>
#include <string_view>

namespace halvo {

// Control characters (C0, DEL, C1), bidirectional overrides and invalid UTF-8
// bytes as visible escapes ("\n", "\x1b", "\u202e"); everything else unchanged.
std::string terminalSafe(std::string_view text);

// Columns the text takes up, counting each code point as one.
size_t displayWidth(std::string_view text);

}  // namespace halvo
