#include "base/file_reading.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace halvo {

std::optional<std::string> readAll(UniqueFd fd, size_t limit) {
    if (!fd.valid()) {
        return std::nullopt;
    }
    std::string content;
    char buffer[16384];
    while (content.size() < limit) {
        const ssize_t n = read(fd.get(), buffer, std::min(sizeof(buffer), limit - content.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            return content;
        }
        content.append(buffer, static_cast<size_t>(n));
    }
    return content;
}

}  // namespace halvo
