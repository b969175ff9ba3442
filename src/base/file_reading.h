// Whole small files, as /proc serves them.
#pragma once

#include <optional>
#include <string>

#include "base/unique_fd.h"

namespace halvo {

// Everything left to read from `fd`; nothing when it is not open or a read fails.
std::optional<std::string> readAll(UniqueFd fd);

}  // namespace halvo
