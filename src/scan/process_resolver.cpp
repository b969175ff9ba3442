#include "scan/process_resolver.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/executable_lookup.h"
#include "base/file_reading.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "scan/command_runner.h"
#include "scan/supervisor_lookup.h"

namespace halvo {
namespace {

constexpr std::string_view kDeletedSuffix = " (deleted)";

// The kernel marks a link to a removed file or folder with a suffix; the
// path itself is what we show.
std::string withoutDeletedMark(std::string_view path) {
    if (path.ends_with(kDeletedSuffix)) {
        path.remove_suffix(kDeletedSuffix.size());
    }
    return decodeUtf8Lossy(path);
}

// An open /proc/PID directory. Files read through it belong to the process it
// was opened for: once that process is gone they fail, even if the PID has
// been handed to another process meanwhile.
class ProcDirectory final {
  public:
    ProcDirectory(const std::string& root, int32_t pid) {
        if (pid > 0) {
            const std::string path = root + "/" + std::to_string(pid);
            fd_ = UniqueFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            openError_ = fd_.valid() ? 0 : errno;
        }
    }

    std::optional<std::string> read(const char* name) const {
        if (!fd_.valid()) {
            return std::nullopt;
        }
        return readAll(UniqueFd(openat(fd_.get(), name, O_RDONLY | O_CLOEXEC)));
    }

    // On failure `*error` (when given) is the errno of the failing call.
    std::optional<std::string> readLink(const char* name, int* error = nullptr) const {
        int failure = openError_;
        if (fd_.valid()) {
            failure = ENAMETOOLONG;
            // readlink truncates silently: grow until the target fits.
            for (size_t size = 512; size <= (1u << 20); size *= 2) {
                std::string target(size, '\0');
                const ssize_t n = readlinkat(fd_.get(), name, target.data(), size);
                if (n < 0) {
                    failure = errno;
                    break;
                }
                if (static_cast<size_t>(n) < size) {
                    target.resize(static_cast<size_t>(n));
                    return target;
                }
            }
        }
        if (error) {
            *error = failure;
        }
        return std::nullopt;
    }

  private:
    UniqueFd fd_;
    int openError_ = ENOENT;  // no process has a PID below 1
};

// Numeric field `wanted` (from 3 on) of /proc/PID/stat. The command name in
// parentheses may itself hold ")" and spaces: the fields proper start after
// the last ")".
std::optional<uint64_t> statNumber(std::string_view stat, int wanted) {
    const size_t close = stat.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    // Field 3 (the state) is the first after the name. Read in place: a scan
    // takes several fields of every listener's stat.
    const std::string_view fields = stat.substr(close + 1);
    int field = 2;
    for (size_t start = fields.find_first_not_of(' '); start != std::string_view::npos;) {
        const size_t end = std::min(fields.find(' ', start), fields.size());
        if (++field == wanted) {
            std::string_view piece = fields.substr(start, end - start);
            if (piece.ends_with('\n')) {
                piece.remove_suffix(1);
            }
            return parseUint64(piece);
        }
        start = fields.find_first_not_of(' ', end);
    }
    return std::nullopt;
}

std::optional<int64_t> readBootTime() {
    const auto content = readAll(UniqueFd(open("/proc/stat", O_RDONLY | O_CLOEXEC)));
    if (!content) {
        return std::nullopt;
    }
    for (std::string_view line : splitNonEmpty(*content, '\n')) {
        if (line.starts_with("btime ")) {
            return parseInt64(line.substr(6));
        }
    }
    return std::nullopt;
}

// Read once per run: btime can differ by a second between reads, and a start
// time that moved between a scan and a kill would make the kill refuse.
std::optional<int64_t> bootTimeSeconds() {
    static const std::optional<int64_t> bootTime = readBootTime();
    return bootTime;
}

long ticksPerSecond() {
    static const long ticks = sysconf(_SC_CLK_TCK);
    return ticks;
}

uint64_t pageSize() {
    static const auto size = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// /proc/PID/cmdline: arguments end in NUL. A process that rewrote its title
// may leave a last piece without one, which still counts, or pad the title
// with NULs, which are not arguments: trailing NULs are dropped. Invalid
// UTF-8 becomes U+FFFD.
std::vector<std::string> splitCommandLine(std::string_view bytes) {
    while (!bytes.empty() && bytes.back() == '\0') {
        bytes.remove_suffix(1);
    }
    std::vector<std::string> arguments;
    if (bytes.empty()) {
        return arguments;
    }
    for (;;) {
        const size_t nul = bytes.find('\0');
        // Repaired, never dropped: an argument must not hide behind a bad byte.
        arguments.push_back(decodeUtf8Lossy(bytes.substr(0, nul)));
        if (nul == std::string_view::npos) {
            return arguments;
        }
        bytes.remove_prefix(nul + 1);
    }
}

std::vector<int32_t> distinctAscending(const std::vector<int32_t>& pids) {
    std::vector<int32_t> distinct(pids);
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    return distinct;
}

// lsof's arguments for the working directories of `distinct` (ascending, no repeats).
std::vector<std::string> listingArguments(const std::vector<int32_t>& distinct) {
    std::string list;
    for (int32_t pid : distinct) {
        if (!list.empty()) {
            list += ',';
        }
        list += std::to_string(pid);
    }
    return {"-a", "-p", list, "-d", "cwd", "-F", "pn"};
}

std::unordered_map<int32_t, std::string> listWorkingDirectories(
    const std::vector<int32_t>& distinct) {
    if (distinct.empty()) {
        return {};
    }
    const auto lsof = findExecutable(kLsofPaths);
    if (!lsof) {
        return {};
    }
    const CommandResult result = runCommand(*lsof, listingArguments(distinct), kLsofBound);
    if (!result.output || result.status != 0) {
        return {};
    }
    return parseWorkingDirectoryListing(decodeUtf8Lossy(*result.output));
}

std::unordered_map<int32_t, std::string> workingDirectories(const std::string& procRoot,
                                                            const std::vector<int32_t>& distinct) {
    std::unordered_map<int32_t, std::string> result;
    std::vector<int32_t> refused;
    for (int32_t pid : distinct) {
        int error = 0;
        if (auto target = ProcDirectory(procRoot, pid).readLink("cwd", &error)) {
            result.emplace(pid, withoutDeletedMark(*target));
        } else if (error == EACCES || error == EPERM) {
            refused.push_back(pid);
        }
        // Otherwise the process is gone: lsof would not find it either, and one
        // PID it cannot find fails its whole listing.
    }
    // lsof may be allowed to see what /proc would not show us; one run for all of them.
    for (auto& [pid, directory] : listWorkingDirectories(refused)) {
        if (std::binary_search(refused.begin(), refused.end(), pid)) {
            result.emplace(pid, withoutDeletedMark(directory));
        }
    }
    return result;
}

}  // namespace

ProcessResolver::ProcessResolver(std::string procRoot, SupervisorLookup supervisors)
    : procRoot_(std::move(procRoot)), supervisors_(supervisors) {}

std::unordered_map<int32_t, ProcessMetadata> ProcessResolver::metadata(
    const std::vector<int32_t>& pids) {
    const std::vector<int32_t> distinct = distinctAscending(pids);
    auto directories = workingDirectories(procRoot_, distinct);
    std::unordered_map<int32_t, ProcessMetadata> result;
    for (int32_t pid : distinct) {
        ProcessMetadata entry{readExecutablePath(pid), readArguments(pid), std::nullopt};
        if (auto found = directories.find(pid); found != directories.end()) {
            entry.workingDirectory = std::move(found->second);
        }
        if (supervisors_ == SupervisorLookup::on) {
            entry.supervisor = readSupervisor(pid, procRoot_);
        }
        result.emplace(pid, std::move(entry));
    }
    return result;
}

std::optional<ProcessIdentitySnapshot> ProcessResolver::identitySnapshot(int32_t pid) {
    // Both files through one directory handle, so they describe one process.
    const ProcDirectory dir(procRoot_, pid);
    const auto status = dir.read("status");
    const auto stat = dir.read("stat");
    if (!status || !stat) {
        return std::nullopt;
    }
    const auto uid = parseStatusEffectiveUid(*status);
    const auto ticks = parseStatStartTicks(*stat);
    const auto bootTime = bootTimeSeconds();
    if (!uid || !ticks || !bootTime) {
        return std::nullopt;
    }
    ProcessIdentitySnapshot snapshot{*uid, startTimeFromTicks(*bootTime, *ticks, ticksPerSecond())};
    const auto cpuTicks = parseStatCpuTicks(*stat);
    const auto pages = parseStatResidentPages(*stat);
    if (cpuTicks && pages) {
        snapshot.cost =
            ProcessCost{*pages * pageSize(), static_cast<double>(*cpuTicks) / ticksPerSecond()};
    }
    return snapshot;
}

std::string ProcessResolver::readExecutablePath(int32_t pid) const {
    const auto target = ProcDirectory(procRoot_, pid).readLink("exe");
    return target ? withoutDeletedMark(*target) : std::string();
}

std::vector<std::string> ProcessResolver::readArguments(int32_t pid) const {
    const auto bytes = ProcDirectory(procRoot_, pid).read("cmdline");
    if (!bytes) {
        return {};
    }
    return splitCommandLine(*bytes);
}

std::unordered_map<int32_t, std::string> ProcessResolver::readWorkingDirectories(
    const std::vector<int32_t>& pids) const {
    return workingDirectories(procRoot_, distinctAscending(pids));
}

std::unordered_map<int32_t, std::string> parseWorkingDirectoryListing(std::string_view text) {
    std::unordered_map<int32_t, std::string> directories;
    std::optional<int32_t> pid;
    for (std::string_view line : splitNonEmpty(text, '\n')) {
        const char tag = line.front();
        const std::string_view value = line.substr(1);
        if (tag == 'p') {
            pid = parseInt32(value);
        } else if (tag == 'n' && pid) {
            directories.insert_or_assign(*pid, std::string(value));
        }
    }
    return directories;
}

std::vector<std::string> workingDirectoryListingArguments(const std::vector<int32_t>& pids) {
    return listingArguments(distinctAscending(pids));
}

std::optional<uint64_t> parseStatStartTicks(std::string_view stat) {
    return statNumber(stat, 22);
}

std::optional<uint64_t> parseStatCpuTicks(std::string_view stat) {
    const auto user = statNumber(stat, 14);
    const auto system = statNumber(stat, 15);
    return user && system ? std::optional(*user + *system) : std::nullopt;
}

std::optional<uint64_t> parseStatResidentPages(std::string_view stat) {
    return statNumber(stat, 24);
}

std::optional<uint32_t> parseStatusEffectiveUid(std::string_view status) {
    for (std::string_view line : splitNonEmpty(status, '\n')) {
        if (!line.starts_with("Uid:")) {
            continue;
        }
        line.remove_prefix(4);
        // Real, effective, saved and filesystem uid, separated by white space.
        int field = 0;
        size_t position = 0;
        while (position < line.size()) {
            const size_t start = line.find_first_not_of(" \t", position);
            if (start == std::string_view::npos) {
                break;
            }
            const size_t end = std::min(line.find_first_of(" \t", start), line.size());
            if (++field == 2) {
                const auto uid = parseUint64(line.substr(start, end - start));
                if (!uid || *uid > UINT32_MAX) {
                    return std::nullopt;
                }
                return static_cast<uint32_t>(*uid);
            }
            position = end;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

ProcessStartTime startTimeFromTicks(int64_t bootTimeSeconds, uint64_t ticks, long ticksPerSecond) {
    if (ticksPerSecond < 1) {
        return {bootTimeSeconds, 0};
    }
    const auto hz = static_cast<uint64_t>(ticksPerSecond);
    return {bootTimeSeconds + static_cast<int64_t>(ticks / hz),
            static_cast<int32_t>((ticks % hz) * 1'000'000 / hz)};
}

std::optional<ProcessStartTime> startTimeSinceBoot(uint64_t ticks) {
    if (const auto bootTime = bootTimeSeconds()) {
        return startTimeFromTicks(*bootTime, ticks, ticksPerSecond());
    }
    return std::nullopt;
}

std::optional<ProcessStartTime> currentStartTime(int32_t pid) {
    if (auto snapshot = ProcessResolver().identitySnapshot(pid)) {
        return snapshot->startTime;
    }
    return std::nullopt;
}

ProcessStartTime processClockNow() {
    timespec sinceBoot{};
    clock_gettime(CLOCK_BOOTTIME, &sinceBoot);
    return {bootTimeSeconds().value_or(0) + sinceBoot.tv_sec,
            static_cast<int32_t>(sinceBoot.tv_nsec / 1000)};
}

}  // namespace halvo
