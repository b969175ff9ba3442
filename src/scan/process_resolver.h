// Turns bare PIDs into what Halvo shows and relies on: executable path,
// argument vector, working directory, owner and start time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scan/port_records.h"

namespace halvo {

struct ProcessMetadata {
    std::string executablePath;          // empty when unreadable
    std::vector<std::string> arguments;  // argv including argv[0]; empty when unreadable
    std::optional<std::string> workingDirectory;
    std::optional<Supervisor> supervisor = std::nullopt;  // see supervisor_lookup.h

    bool operator==(const ProcessMetadata&) const = default;
};

struct ProcessIdentitySnapshot {
    uint32_t uid = 0;  // effective user id
    ProcessStartTime startTime;
    // From the same read of stat as the start time; none when unreadable.
    std::optional<ProcessCost> cost = std::nullopt;

    bool operator==(const ProcessIdentitySnapshot&) const = default;
};

class ProcessResolving {
  public:
    virtual ~ProcessResolving() = default;
    // One entry for every distinct PID, however little of it was readable.
    virtual std::unordered_map<int32_t, ProcessMetadata> metadata(
        const std::vector<int32_t>& pids) = 0;
    // Nothing when the process cannot be read (gone, or not ours to read).
    virtual std::optional<ProcessIdentitySnapshot> identitySnapshot(int32_t pid) = 0;
};

enum class SupervisorLookup { on, off };

// Reads /proc; falls back to lsof for working directories /proc will not give.
class ProcessResolver final : public ProcessResolving {
  public:
    explicit ProcessResolver(std::string procRoot = "/proc",
                             SupervisorLookup supervisors = SupervisorLookup::on);

    std::unordered_map<int32_t, ProcessMetadata> metadata(
        const std::vector<int32_t>& pids) override;
    std::optional<ProcessIdentitySnapshot> identitySnapshot(int32_t pid) override;

    // "/proc/PID/exe" with a trailing " (deleted)" removed; empty when unreadable.
    std::string readExecutablePath(int32_t pid) const;
    // "/proc/PID/cmdline" split at NULs; arguments that are not UTF-8 are left out.
    std::vector<std::string> readArguments(int32_t pid) const;
    // "/proc/PID/cwd" (" (deleted)" removed), and one lsof listing for the PIDs
    // whose link /proc refuses; a process that is gone has none.
    std::unordered_map<int32_t, std::string> readWorkingDirectories(
        const std::vector<int32_t>& pids) const;

  private:
    std::string procRoot_;
    SupervisorLookup supervisors_;
};

// `lsof -F pn` output of cwd files: PID -> directory.
std::unordered_map<int32_t, std::string> parseWorkingDirectoryListing(std::string_view text);

// The arguments given to lsof for the working directories of `pids`
// (distinct, ascending, joined by commas).
std::vector<std::string> workingDirectoryListingArguments(const std::vector<int32_t>& pids);

// Field 22 of /proc/PID/stat (start time in clock ticks since boot); the
// command name in field 2 may hold spaces and parentheses.
std::optional<uint64_t> parseStatStartTicks(std::string_view stat);
// Fields 14 and 15 of /proc/PID/stat (user and system time) summed, in ticks.
std::optional<uint64_t> parseStatCpuTicks(std::string_view stat);
// Field 24 of /proc/PID/stat: resident pages, the count statm gives too, so
// that a scan reads no file more for it.
std::optional<uint64_t> parseStatResidentPages(std::string_view stat);
// The effective uid from the "Uid:" line of /proc/PID/status.
std::optional<uint32_t> parseStatusEffectiveUid(std::string_view status);
// Ticks since boot as a wall-clock start time, given the boot time.
ProcessStartTime startTimeFromTicks(int64_t bootTimeSeconds, uint64_t ticks, long ticksPerSecond);

// Ticks since boot as a start time, on the boot time this run reads once:
// the scan's own conversion. Nothing when the boot time cannot be read.
std::optional<ProcessStartTime> startTimeSinceBoot(uint64_t ticks);

// The live start time of a PID, from the same source as the scan.
std::optional<ProcessStartTime> currentStartTime(int32_t pid);

// Now, on the clock that start times are read from (boot time plus the time
// since boot), so that the two compare.
ProcessStartTime processClockNow();

}  // namespace halvo
