#include "scan/proc_process_table.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string_view>

#include "base/text.h"
#include "base/unique_fd.h"
#include "scan/listening_sockets.h"

namespace halvo {
namespace {

// Large enough for all of /proc on a busy machine in one or two calls.
constexpr size_t kDirentBufferSize = 32768;

// Calls `visit` with the name of every entry of an open directory, "." and
// ".." left out. Stops quietly at the first error: whatever was read stands.
template <typename Visit>
void forEachEntry(int dirFd, Visit&& visit) {
    alignas(dirent64) char buffer[kDirentBufferSize];
    for (;;) {
        ssize_t n = getdents64(dirFd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        for (ssize_t offset = 0; offset < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            if (entry->d_name[0] == '.') {
                continue;
            }
            visit(std::string_view(entry->d_name));
        }
    }
}

std::optional<int32_t> pidFromName(std::string_view name) {
    std::optional<uint64_t> pid = parseUint64(name);
    if (!pid || *pid > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<int32_t>(*pid);
}

// "socket:[12345]" -> 12345; anything else (files, pipes, anon inodes) -> nothing.
std::optional<uint64_t> socketInode(std::string_view link) {
    constexpr std::string_view kPrefix = "socket:[";
    if (link.size() < kPrefix.size() + 2 || link.substr(0, kPrefix.size()) != kPrefix ||
        link.back() != ']') {
        return std::nullopt;
    }
    return parseUint64(link.substr(kPrefix.size(), link.size() - kPrefix.size() - 1));
}

// "PID/leaf", relative to the /proc descriptor, without allocating.
struct ProcPath {
    char text[48];

    ProcPath(int32_t pid, std::string_view leaf) {
        char* end = std::to_chars(text, text + 16, pid).ptr;
        *end++ = '/';
        std::memcpy(end, leaf.data(), leaf.size());
        end[leaf.size()] = '\0';
    }
};

}  // namespace

ProcFsProcessTable::ProcFsProcessTable(std::string procRoot)
    : procRoot_(std::move(procRoot)),
      procFd_(open(procRoot_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

std::optional<ListeningSockets> ProcFsProcessTable::listeningTcpSockets() {
    if (std::optional<ListeningSockets> sockets = listeningSocketsFromNetlink()) {
        return sockets;
    }
    return listeningSocketsFromProcNet(procRoot_);
}

std::optional<std::vector<int32_t>> ProcFsProcessTable::processIds() {
    if (!procFd_.valid()) {
        return std::nullopt;
    }
    // A descriptor of its own: the directory offset of a shared one would be
    // moved by concurrent scans.
    UniqueFd dir(openat(procFd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) {
        return std::nullopt;
    }
    std::vector<int32_t> pids;
    forEachEntry(dir.get(), [&](std::string_view name) {
        if (name.front() >= '0' && name.front() <= '9') {
            if (std::optional<int32_t> pid = pidFromName(name)) {
                pids.push_back(*pid);
            }
        }
    });
    // A mounted process table lists this very process at least.
    if (pids.empty()) {
        return std::nullopt;
    }
    return pids;
}

std::optional<std::vector<uint64_t>> ProcFsProcessTable::socketInodes(int32_t pid) {
    if (!procFd_.valid() || pid <= 0) {
        return std::nullopt;
    }
    UniqueFd dir(
        openat(procFd_.get(), ProcPath(pid, "fd").text, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) {
        return std::nullopt;
    }
    std::vector<uint64_t> inodes;
    forEachEntry(dir.get(), [&](std::string_view name) {
        // "socket:[" and 20 digits fit; a longer target is no socket, and its
        // truncation does not matter.
        char link[32];
        ssize_t length = readlinkat(dir.get(), name.data(), link, sizeof(link));
        if (length <= 0) {
            return;  // closed since the listing
        }
        if (std::optional<uint64_t> inode =
                socketInode(std::string_view(link, static_cast<size_t>(length)))) {
            inodes.push_back(*inode);
        }
    });
    return inodes;
}

std::optional<std::string> ProcFsProcessTable::processName(int32_t pid) {
    if (!procFd_.valid() || pid <= 0) {
        return std::nullopt;
    }
    UniqueFd file(openat(procFd_.get(), ProcPath(pid, "comm").text, O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return std::nullopt;
    }
    char buffer[256];
    ssize_t length;
    do {
        length = read(file.get(), buffer, sizeof(buffer));
    } while (length < 0 && errno == EINTR);
    if (length < 0) {
        return std::nullopt;
    }
    std::string_view name(buffer, static_cast<size_t>(length));
    name = name.substr(0, name.find('\0'));
    if (!name.empty() && name.back() == '\n') {
        name.remove_suffix(1);
    }
    return std::string(name);
}

}  // namespace halvo
