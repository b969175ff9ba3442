#include "base/file_writing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "base/error_text.h"
#include "base/text.h"
#include "base/unique_fd.h"

namespace halvo {

std::optional<std::string> replaceFileAtomically(const std::string& path, std::string_view text) {
    std::error_code dirError;
    std::filesystem::create_directories(parentDirectory(path), dirError);
    if (dirError) {
        return dirError.message();
    }
    std::string temporary = path + ".XXXXXX";
    UniqueFd fd(mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) {
        return errorText(errno);
    }
    int error = fchmod(fd.get(), 0644) == 0 ? 0 : errno;
    for (size_t done = 0; error == 0 && done < text.size();) {
        const ssize_t n = write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR) {
            error = errno;
        } else if (n > 0) {
            done += static_cast<size_t>(n);
        }
    }
    if (error == 0 && fsync(fd.get()) != 0) {
        error = errno;
    }
    fd.reset();
    if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
        return errorText(error);
    }
    return std::nullopt;
}

}  // namespace halvo
