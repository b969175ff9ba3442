// How kills of several rows go: one target per process, in list order, and the
// feedback their outcomes add up to. Shared by the process store and halvo-cli;
// the callers do the killing (ProcessKilling::killAll signals them together).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kill/container_stopper.h"
#include "kill/feedback.h"
#include "kill/process_killing.h"
#include "kill/supervisor_stopper.h"
#include "scan/port_records.h"

namespace halvo {

// The rows of one process, or of one container, that a batch targets.
struct KillGroup {
    int32_t pid = 0;
    ProcessStartTime startTime;     // of the group's first row
    std::vector<PortProcess> rows;  // in list order
    // The container to stop, for container rows (which have no PID).
    std::optional<DockerContext> container;
    // The unit or pm2 app to stop instead of ending the process.
    std::optional<Supervisor> supervisor = std::nullopt;

    bool operator==(const KillGroup&) const = default;
};

// Whether a row that a systemd unit or pm2 app runs is ended through it.
enum class SupervisorChoice { stopSupervisor, endProcess };

// The rows of `processes` whose id is in `ids`, in list order, grouped by PID
// (container rows by container ID); groups in order of first appearance.
std::vector<KillGroup> killGroups(const std::vector<PortProcess>& processes,
                                  const std::set<std::string>& ids,
                                  SupervisorChoice choice = SupervisorChoice::stopSupervisor);

// Whether the group's processes are signalled, not a container or supervisor stopped.
inline bool endsProcesses(const KillGroup& group) {
    return !group.container && !group.supervisor;
}

// One outcome per group, in group order: `processOutcomes` (one per group
// that endsProcesses, in order, as ProcessKilling::killAll gave them) with
// each container group stopped by `stopper` and each supervised one by
// `supervisors` (failed without one) in its place, for its process as it
// started then or at `started`; a supervisor is asked once.
std::vector<KillOutcome> withContainersStopped(
    const std::vector<KillGroup>& groups, std::vector<KillOutcome> processOutcomes,
    ContainerStopping& stopper, SupervisorStopping* supervisors = nullptr,
    std::optional<ProcessStartTime> started = std::nullopt);

// Adds up the outcomes of a batch, group by group, by port: a port counts as
// killed once every process on it ended (a master and its workers are one port).
class BatchTally final {
  public:
    void record(const KillGroup& group, const KillOutcome& outcome);

    // The rows of every killed group, in group order.
    const std::vector<PortProcess>& killedRows() const { return killedRows_; }
    // Processes or containers not ended.
    int64_t failedCount() const { return failedCount_; }
    // Some process changed since the scan, so the list wants a reload.
    bool needsReload() const { return staleCount_ > 0; }
    // The batch's feedback: for one port what became of it ("Killed :3000
    // (4 processes)", "Stopped container web (:5432)", stale, failed), for
    // several a count of ports; nothing when the batch was empty.
    std::optional<Feedback> feedback() const;

  private:
    std::vector<PortProcess> killedRows_;
    std::set<int64_t> killedPorts_;
    std::set<int64_t> failedPorts_;
    int64_t killedGroups_ = 0;
    int64_t failedCount_ = 0;
    int64_t staleCount_ = 0;
    std::optional<Feedback> firstFailure_;  // of the first group not ended
    std::optional<std::string> lastMessage_;
    std::optional<DockerContext> container_;  // of the last group stopped
    std::optional<Supervisor> supervisor_;    // of the last group stopped
};

// The text a batch gives for a process that changed since the scan.
inline constexpr const char* kBatchStaleMessage = "process changed since last scan";

}  // namespace halvo
