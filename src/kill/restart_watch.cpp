#include "kill/restart_watch.h"

#include <algorithm>
#include <thread>

#include "scan/listening_ports.h"
#include "scan/native_port_discovery.h"

namespace halvo {
namespace {

using Clock = std::chrono::steady_clock;

// Start times are whole clock ticks (1/100 s), rounded down: a process
// started just after the kill may read up to one tick earlier.
ProcessStartTime oneTickBefore(ProcessStartTime t) {
    constexpr int32_t kTickMicroseconds = 10'000;
    t.microseconds -= kTickMicroseconds;
    if (t.microseconds < 0) {
        t.microseconds += 1'000'000;
        --t.seconds;
    }
    return t;
}

}  // namespace

RestartWatch::RestartWatch(RestartWatchParts parts) : parts_(std::move(parts)) {
    if (!parts_.listeningPorts) {
        parts_.listeningPorts = listeningPortsNow;
    }
    if (!parts_.discovery) {
        parts_.discovery = std::make_shared<NativePortDiscovery>();
    }
    if (!parts_.tree) {
        parts_.tree = std::make_shared<ProcFsProcessTree>();
    }
}

std::optional<feedback::Restarted> RestartWatch::watch(const std::vector<int64_t>& ports,
                                                       int64_t killedCount,
                                                       ProcessStartTime killBegan,
                                                       std::stop_token stop) {
    std::vector<int64_t> watched;
    for (int64_t port : ports) {
        if (port > 0 && std::find(watched.begin(), watched.end(), port) == watched.end()) {
            watched.push_back(port);
        }
    }
    const Clock::time_point deadline = Clock::now() + parts_.bound;
    while (!watched.empty() && !stop.stop_requested()) {
        const std::set<int64_t> listening = parts_.listeningPorts();
        std::vector<int64_t> sighted;
        for (int64_t port : watched) {
            if (listening.contains(port)) {
                sighted.push_back(port);
            }
        }
        if (!sighted.empty()) {
            if (auto restarted = restartOn(sighted, killedCount, killBegan)) {
                return restarted;
            }
            // Held by a process that was there before the kill (a worker of
            // another row) or by someone else: not a restart, and it stays so.
            std::erase_if(watched, [&](int64_t port) {
                return std::find(sighted.begin(), sighted.end(), port) != sighted.end();
            });
        }
        const Clock::time_point now = Clock::now();
        if (watched.empty() || now >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(parts_.interval, deadline - now));
    }
    return std::nullopt;
}

std::optional<feedback::Listener> RestartWatch::supervisorOf(
    const ProcessTreeEntry& listener) const {
    std::optional<feedback::Listener> named;
    int32_t parentPid = listener.parentPid;
    // Init adopts orphans; naming it would point the user at nothing to end.
    // A script shell between (nodemon's `sh -c "build && node"`) comes back
    // with every restart: the user wants what started it.
    for (int hops = 0; parentPid > 1 && hops < 8; ++hops) {
        const auto parent = parts_.tree->entry(parentPid);
        if (!parent) {
            break;
        }
        named = feedback::Listener{parent->name, parent->pid};
        if (!isShellName(parent->name) || parent->uid != parts_.uid ||
            parent->pid == parent->sessionId) {
            break;
        }
        parentPid = parent->parentPid;
    }
    return named;
}

std::optional<feedback::Restarted> RestartWatch::restartOn(const std::vector<int64_t>& sighted,
                                                           int64_t killedCount,
                                                           ProcessStartTime killBegan) const {
    const std::vector<LsofRow> rows = parts_.discovery->rows();
    const ProcessStartTime earliest = oneTickBefore(killBegan);
    for (int64_t port : sighted) {
        for (const LsofRow& row : rows) {
            if (row.port != port) {
                continue;
            }
            const auto listener = parts_.tree->entry(row.pid);
            if (!listener || listener->uid != parts_.uid || listener->startTime < earliest) {
                continue;
            }
            feedback::Restarted restarted{killedCount, port, {listener->name, listener->pid}, {}};
            restarted.parent = supervisorOf(*listener);
            return restarted;
        }
    }
    return std::nullopt;
}

std::optional<feedback::Restarted> watchKilledRows(RestartWatching& watch,
                                                   const std::vector<PortProcess>& killedRows,
                                                   ProcessStartTime killBegan,
                                                   std::stop_token stop) {
    std::vector<int64_t> ports;
    for (const PortProcess& row : killedRows) {
        ports.push_back(row.port);
    }
    return watch.watch(ports, static_cast<int64_t>(killedRows.size()), killBegan, std::move(stop));
}

}  // namespace halvo
