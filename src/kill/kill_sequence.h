// One kill, the same from halvo-cli, the tray menu and the kill panel: the
// process trees when asked, every process signalled together, containers
// stopped, the outcomes added up by port, then a look at the freed ports,
// which names a process still holding one (a failure) or a supervisor that
// started the server again.
#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "kill/container_stopper.h"
#include "kill/feedback.h"
#include "kill/kill_batch.h"
#include "kill/process_killing.h"
#include "kill/restart_watch.h"
#include "scan/process_tree.h"

namespace halvo {

struct KillRequest {
    std::vector<KillGroup> groups;  // as killGroups gives them
    KillMode mode = KillMode::graceful;
    bool tree = false;  // end each process's whole tree (needs KillParts::tree)
    // Every process must have started at this moment, not at its scanned one.
    std::optional<ProcessStartTime> started{};
};

// Null parts are skipped: no tree kills, no look at the ports afterwards.
struct KillParts {
    ProcessKilling& engine;
    ContainerStopping& containers;
    ProcessTreeReading* tree = nullptr;
    RestartWatching* watch = nullptr;
};

struct KillReport {
    std::vector<KillOutcome> outcomes;    // one per group
    std::vector<PortProcess> killedRows;  // of the groups ended, in order
    // A line for each process or container not ended and each port still
    // held, as a terminal user reads it.
    std::vector<std::string> notEnded;
    // The one line that sums it up; nothing for an empty request.
    std::optional<Feedback> feedback;
    bool allEnded = false;     // every target ended and every freed port is free
    bool needsReload = false;  // the list no longer shows what is there
};

// "Process on :3000 (PID 812) changed since the scan — nothing sent", "Could
// not kill :3000 (PID 812): ...", or the container stopper's own text.
std::string notEndedText(const KillGroup& group, const KillOutcome& outcome);

// Blocking; `stop` cuts the graceful waits and the watch short.
KillReport runKillSequence(const KillRequest& request, const KillParts& parts,
                           std::stop_token stop = {});

}  // namespace halvo
