// Whole small files, as /proc serves them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/unique_fd.h"

namespace halvo {

// Everything left to read from `fd`, or its first `limit` bytes; nothing when
// it is not open or a read fails.
std::optional<std::string> readAll(UniqueFd fd, size_t limit = SIZE_MAX);

}  // namespace halvo
