#include "base/file_reading.h"

#include <unistd.h>

#include <cerrno>

namespace halvo {

std::optional<std::string> readAll(UniqueFd fd) {
    if (!fd.valid()) {
        return std::nullopt;
    }
    std::string content;
    char buffer[16384];
    for (;;) {
        const ssize_t n = read(fd.get(), buffer, sizeof(buffer));
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
}

}  // namespace halvo
