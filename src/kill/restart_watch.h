// After a kill: does something of the user's listen on a freed port again?
// A supervisor (nodemon, a watch loop, a service manager) often starts the
// server anew at once, and the user should hear who did, to end that instead.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include "kill/feedback.h"
#include "scan/listening_ports.h"
#include "scan/port_discovering.h"
#include "scan/port_records.h"
#include "scan/process_tree.h"

namespace halvo {

class RestartWatching {
  public:
    virtual ~RestartWatching() = default;
    // Blocking and thread-safe; returns at the first sighting, at the bound or
    // at a stop. The Restarted feedback for the first of `ports` (kill order)
    // on which a process of the user that started at or after `killBegan`
    // listens; nothing when none does. `killedCount` is the kill's count of
    // ended ports.
    virtual std::optional<feedback::Restarted> watch(const std::vector<int64_t>& ports,
                                                     int64_t killedCount,
                                                     ProcessStartTime killBegan,
                                                     std::stop_token stop = {}) = 0;
};

struct RestartWatchParts {
    // Polled until a port shows; listeningPortsNow when empty.
    ListeningPortsSource listeningPorts;
    // Who holds a port that showed; the /proc walk when null.
    std::shared_ptr<PortDiscovering> discovery;
    // Owners, start times and names; /proc when null.
    std::shared_ptr<ProcessTreeReading> tree;
    uint32_t uid = getuid();  // whose processes count
    std::chrono::milliseconds bound{300};
    std::chrono::milliseconds interval{10};
};

class RestartWatch final : public RestartWatching {
  public:
    // Parts left empty are the system's: its socket table and /proc.
    explicit RestartWatch(RestartWatchParts parts = {});

    std::optional<feedback::Restarted> watch(const std::vector<int64_t>& ports, int64_t killedCount,
                                             ProcessStartTime killBegan,
                                             std::stop_token stop = {}) override;

  private:
    // The restart on the first of `sighted` that has one.
    std::optional<feedback::Restarted> restartOn(const std::vector<int64_t>& sighted,
                                                 int64_t killedCount,
                                                 ProcessStartTime killBegan) const;
    // Whom to name for a restarted listener: its parent, or above the
    // script shells it runs through; nothing under init.
    std::optional<feedback::Listener> supervisorOf(const ProcessTreeEntry& listener) const;

    RestartWatchParts parts_;
};

// The watch after a kill that ended `killedRows` (in kill order): their
// ports, and their number as the count.
std::optional<feedback::Restarted> watchKilledRows(RestartWatching& watch,
                                                   const std::vector<PortProcess>& killedRows,
                                                   ProcessStartTime killBegan,
                                                   std::stop_token stop = {});

}  // namespace halvo
