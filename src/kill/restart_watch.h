// After a kill: is a freed port free? A child that inherited the server's
// socket keeps it taken, and a supervisor (nodemon, a watch loop, a service
// manager) often starts the server anew at once; the user should hear either,
// and who to end instead. Only while such a supervisor lives is there
// anything to wait for.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "kill/feedback.h"
#include "kill/process_killing.h"
#include "scan/listening_ports.h"
#include "scan/port_discovering.h"
#include "scan/port_records.h"
#include "scan/process_tree.h"

namespace halvo {

// What the look after a kill compares with, taken while the targets run.
struct BeforeKill {
    // Former parents that could start a killed server anew (couldRestart);
    // the ports are watched while one of them lives.
    std::vector<KillTarget> restarters;
    // The listening sockets on the ports to be freed: one still there after
    // the kill is shared with a process that was not ended.
    std::set<uint64_t> sockets;
};

// The ports a kill freed, and who might take them again.
struct FreedPorts {
    std::vector<int64_t> ports;  // in kill order
    int64_t killedCount = 1;     // ports the kill ended, for the feedback
    BeforeKill before;
};

class RestartWatching {
  public:
    virtual ~RestartWatching() = default;
    // Before the kill of `targets`, which listen on `ports`.
    virtual BeforeKill before(const std::vector<KillTarget>& targets,
                              const std::vector<int64_t>& ports) = 0;
    // After the kill: one look at the freed ports, and more while a
    // restarter lives, up to the bound or a stop. Blocking and thread-safe.
    // StillHeld when a process of the user's listens on one through a socket
    // that was there before (a child that inherited it), Restarted when
    // through a new one; nothing when they are free.
    virtual std::optional<Feedback> watch(const FreedPorts& freed, std::stop_token stop = {}) = 0;
};

// Whether `parent` of a killed server could start it anew: a package
// manager, watcher, supervisor script or service manager of the user's
// (nodemon, pm2, `systemd --user`, `sh -c "while …"`), not where the user
// works: init, an interactive shell (a shell with nothing to run), a
// terminal, multiplexer, editor, login or the desktop.
bool couldRestart(const ProcessTreeEntry& parent, const std::vector<std::string>& arguments,
                  uint32_t uid);

struct RestartWatchParts {
    // Polled until a port shows; listeningSocketsNow when empty.
    ListeningSocketsSource listeningSockets;
    // Who holds a port that showed; the /proc walk when null.
    std::shared_ptr<PortDiscovering> discovery;
    // Owners, start times and names; /proc when null.
    std::shared_ptr<ProcessTreeReading> tree;
    // A process's command line; /proc/PID/cmdline when empty.
    std::function<std::vector<std::string>(int32_t pid)> arguments;
    uint32_t uid = getuid();  // whose processes count
    std::chrono::milliseconds bound{1000};
    std::chrono::milliseconds interval{5};
    // The unit or pm2 app a process runs under; readSupervisor when empty.
    std::function<std::optional<Supervisor>(int32_t pid)> supervisor = {};
};

class RestartWatch final : public RestartWatching {
  public:
    // Parts left empty are the system's: its socket table and /proc.
    explicit RestartWatch(RestartWatchParts parts = {});

    BeforeKill before(const std::vector<KillTarget>& targets,
                      const std::vector<int64_t>& ports) override;
    std::optional<Feedback> watch(const FreedPorts& freed, std::stop_token stop = {}) override;

  private:
    // What holds the first of `sighted` that a process of the user's holds.
    std::optional<Feedback> holderOn(const std::vector<int64_t>& sighted,
                                     const ListeningSockets& now, const FreedPorts& freed) const;
    // Whom to name for a restarted listener: its parent, or above the
    // script shells it runs through; nothing under init.
    std::optional<feedback::Listener> supervisorOf(const ProcessTreeEntry& listener) const;
    bool alive(const KillTarget& process) const;

    RestartWatchParts parts_;
};

}  // namespace halvo
