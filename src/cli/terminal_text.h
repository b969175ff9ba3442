// Text from other processes made safe for the user's terminal: a process name
// or argument must never move the cursor, change colours or set a title.
#pragma once

#include <string>
#include <string_view>

namespace halvo {

// Control characters (C0, DEL, C1), format characters (bidirectional
// overrides, zero-width space, byte order mark), line and paragraph separators
// and invalid UTF-8 bytes as visible escapes ("\n", "\x1b", "\u202e");
// everything else unchanged.
std::string terminalSafe(std::string_view text);

// Columns the text takes up: wide (East Asian) characters two, combining
// marks none, everything else one.
size_t displayWidth(std::string_view text);

// The text cut to `width` columns, ending in "…" when it was longer.
std::string cutToWidth(std::string_view text, size_t width);

}  // namespace halvo
