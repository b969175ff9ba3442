// Go string literals, as Docker's templates print them with %q: how `docker
// ps` hands over a container's command and labels, which may hold any byte,
// on one line.
#pragma once

#include <string>
#include <string_view>

namespace halvo {

// The text a double-quoted Go literal stands for (\" \\ \n \t \xFF \u00e9
// \U0001F600 and the other single-letter escapes), as valid UTF-8: bytes that
// spell none are repaired. Text that is no such literal, or one with an
// escape Go does not know, is kept as it stands (repaired too).
std::string goUnquoted(std::string_view text);

}  // namespace halvo
