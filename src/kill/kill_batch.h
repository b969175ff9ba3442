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
#include "scan/port_records.h"

namespace halvo {

// The rows of one process, or of one container, that a batch targets.
struct KillGroup {
    int32_t pid = 0;
    ProcessStartTime startTime;     // of the group's first row
    std::vector<PortProcess> rows;  // in list order
    // The container to stop, for container rows (which have no PID).
    std::optional<DockerContext> container;

    bool operator==(const KillGroup&) const = default;
};

// The rows of `processes` whose id is in `ids`, in list order, grouped by PID
// (container rows by container ID); groups in order of first appearance.
std::vector<KillGroup> killGroups(const std::vector<PortProcess>& processes,
                                  const std::set<std::string>& ids);

// One outcome per group, in group order: `processOutcomes` (one per process
// group, in order, as ProcessKilling::killAll gave them) with each
// container group stopped by `stopper` in its place.
std::vector<KillOutcome> withContainersStopped(const std::vector<KillGroup>& groups,
                                               std::vector<KillOutcome> processOutcomes,
                                               ContainerStopping& stopper);

// The feedback of one row killed on its own.
Feedback singleKillFeedback(int64_t port, const KillOutcome& outcome);
// The same, saying "Stopped container NAME (:PORT)" for a stopped container row.
Feedback singleKillFeedback(const PortProcess& row, const KillOutcome& outcome);

// Adds up the outcomes of a batch, group by group.
class BatchTally final {
  public:
    void record(const KillGroup& group, const KillOutcome& outcome);

    // The rows of every killed group, in group order.
    const std::vector<PortProcess>& killedRows() const { return killedRows_; }
    int64_t failedCount() const { return failedCount_; }
    // Some process changed since the scan, so the list wants a reload.
    bool needsReload() const { return staleCount_ > 0; }
    // The batch's feedback; nothing when nothing was killed and nothing failed.
    std::optional<Feedback> feedback() const;

  private:
    std::vector<PortProcess> killedRows_;
    int64_t failedCount_ = 0;
    int64_t staleCount_ = 0;
    std::optional<std::string> lastMessage_;
};

// The text a batch gives for a process that changed since the scan.
inline constexpr const char* kBatchStaleMessage = "process changed since last scan";

}  // namespace halvo
