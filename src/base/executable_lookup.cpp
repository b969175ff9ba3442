#include "base/executable_lookup.h"

#include <sys/stat.h>
#include <unistd.h>

namespace halvo {

std::optional<std::string> findExecutable(const std::vector<std::string>& candidates) {
    for (const auto& path : candidates) {
        struct stat info {};
        if (!path.empty() && path.front() == '/' && stat(path.c_str(), &info) == 0 &&
            S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return std::nullopt;
}

}  // namespace halvo
