// The role of the kill engine: end one scanned process, never another.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "scan/port_records.h"

namespace halvo {

enum class KillMode {
    force,     // SIGKILL at once
    graceful,  // SIGTERM, then SIGKILL after a grace second if the same process is still there
};

struct KillOutcome {
    enum class Kind {
        killed,  // delivered, or (graceful) the process was gone by the end of the grace period
        stale,   // nothing sent: the PID no longer names the scanned process
        failed,  // the system refused the signal; `message` is its text
    };
    Kind kind = Kind::failed;  // an outcome nobody set must not read as a kill
    std::string message;

    static KillOutcome killed() { return {Kind::killed, {}}; }
    static KillOutcome stale() { return {Kind::stale, {}}; }
    static KillOutcome failed(std::string message) { return {Kind::failed, std::move(message)}; }

    bool operator==(const KillOutcome&) const = default;
};

// One scanned process to end.
struct KillTarget {
    int32_t pid = 0;
    ProcessStartTime startTime;
};

class ProcessKilling {
  public:
    virtual ~ProcessKilling() = default;
    // Blocking and thread-safe. `stop` cuts the waits short: the re-check and
    // a possible SIGKILL then happen at once, and the kill returns without
    // waiting for the exit.
    virtual KillOutcome kill(int32_t pid, const ProcessStartTime& startTime, KillMode mode,
                             std::stop_token stop = {}) = 0;
    // Ends every target as kill() would, one outcome per target in their order.
    // This default kills one after another; an engine may signal them together.
    virtual std::vector<KillOutcome> killAll(const std::vector<KillTarget>& targets, KillMode mode,
                                             std::stop_token stop = {}) {
        std::vector<KillOutcome> outcomes;
        for (const KillTarget& target : targets) {
            outcomes.push_back(kill(target.pid, target.startTime, mode, stop));
        }
        return outcomes;
    }
};

}  // namespace halvo
