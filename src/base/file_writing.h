// Replacing a small file whole, so that a reader never sees half of it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace halvo {

// Writes `text` to a temporary file of its own beside `path` (mode 0644,
// synced), then renames it over `path`, creating the folders on the way.
// Writers of other processes never share the temporary. Nothing on success,
// or why it failed (the temporary removed).
std::optional<std::string> replaceFileAtomically(const std::string& path, std::string_view text);

}  // namespace halvo
