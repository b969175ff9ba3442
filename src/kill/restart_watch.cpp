#include "kill/restart_watch.h"

#include <algorithm>
#include <thread>

#include "scan/listening_ports.h"
#include "scan/native_port_discovery.h"
#include "scan/process_resolver.h"
#include "scan/supervisor_lookup.h"

namespace halvo {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

bool couldRestart(const ProcessTreeEntry& parent, const std::vector<std::string>& arguments,
                  uint32_t uid) {
    if (parent.pid <= 1 || parent.uid != uid) {
        return false;
    }
    if (isShellName(parent.name)) {
        // `bash` or `-bash -l` is a prompt; `sh -c "…"` or `bash watch.sh` runs something.
        return std::any_of(arguments.begin() + std::min<size_t>(1, arguments.size()),
                           arguments.end(),
                           [](const std::string& a) { return !a.empty() && a[0] != '-'; });
    }
    // A user's service manager is named like init, but runs above PID 1.
    return parent.name == "systemd" || !isSessionProcessName(parent.name);
}

RestartWatch::RestartWatch(RestartWatchParts parts) : parts_(std::move(parts)) {
    if (!parts_.listeningSockets) {
        parts_.listeningSockets = listeningSocketsNow;
    }
    if (!parts_.discovery) {
        parts_.discovery = std::make_shared<NativePortDiscovery>();
    }
    if (!parts_.tree) {
        parts_.tree = std::make_shared<ProcFsProcessTree>();
    }
    if (!parts_.arguments) {
        parts_.arguments = [](int32_t pid) { return ProcessResolver().readArguments(pid); };
    }
    if (!parts_.supervisor) {
        parts_.supervisor = [](int32_t pid) { return readSupervisor(pid); };
    }
}

BeforeKill RestartWatch::before(const std::vector<KillTarget>& targets,
                                const std::vector<int64_t>& ports) {
    BeforeKill before;
    for (const KillTarget& target : targets) {
        const auto process = parts_.tree->entry(target.pid);
        const auto parent = process ? parts_.tree->entry(process->parentPid) : std::nullopt;
        if (!parent || std::any_of(before.restarters.begin(), before.restarters.end(),
                                   [&](const KillTarget& r) { return r.pid == parent->pid; })) {
            continue;
        }
        if (couldRestart(*parent, parts_.arguments(parent->pid), parts_.uid)) {
            before.restarters.push_back({parent->pid, parent->startTime});
        }
    }
    for (const auto& [inode, socket] : parts_.listeningSockets()) {
        if (std::find(ports.begin(), ports.end(), socket.port) != ports.end()) {
            before.sockets.insert(inode);
        }
    }
    return before;
}

bool RestartWatch::alive(const KillTarget& process) const {
    const auto entry = parts_.tree->entry(process.pid);
    return entry && entry->startTime == process.startTime;
}

std::optional<Feedback> RestartWatch::watch(const FreedPorts& freed, std::stop_token stop) {
    std::vector<int64_t> watched;
    for (int64_t port : freed.ports) {
        if (port > 0 && std::find(watched.begin(), watched.end(), port) == watched.end()) {
            watched.push_back(port);
        }
    }
    std::vector<KillTarget> restarters = freed.before.restarters;
    const Clock::time_point deadline = Clock::now() + parts_.bound;
    while (!watched.empty() && !stop.stop_requested()) {
        const ListeningSockets sockets = parts_.listeningSockets();
        std::vector<int64_t> sighted;
        for (int64_t port : watched) {
            if (std::any_of(sockets.begin(), sockets.end(),
                            [&](const auto& socket) { return socket.second.port == port; })) {
                sighted.push_back(port);
            }
        }
        if (!sighted.empty()) {
            if (auto held = holderOn(sighted, sockets, freed)) {
                return held;
            }
            // Someone else's: nothing of the user's to name, and it stays so.
            std::erase_if(watched, [&](int64_t port) {
                return std::find(sighted.begin(), sighted.end(), port) != sighted.end();
            });
        }
        // Nothing can bring a server back once what started it is gone.
        std::erase_if(restarters, [&](const KillTarget& r) { return !alive(r); });
        const Clock::time_point now = Clock::now();
        if (watched.empty() || restarters.empty() || now >= deadline) {
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

std::optional<Feedback> RestartWatch::holderOn(const std::vector<int64_t>& sighted,
                                               const ListeningSockets& now,
                                               const FreedPorts& freed) const {
    const std::vector<LsofRow> rows = parts_.discovery->rows();
    for (int64_t port : sighted) {
        // Start times are whole clock ticks: only the socket tells a child
        // that inherited it from a server started again a moment later.
        const bool sameSocket = std::any_of(now.begin(), now.end(), [&](const auto& socket) {
            return socket.second.port == port && freed.before.sockets.contains(socket.first);
        });
        for (const LsofRow& row : rows) {
            const auto holder = row.port == port ? parts_.tree->entry(row.pid) : std::nullopt;
            if (!holder || holder->uid != parts_.uid) {
                continue;
            }
            const feedback::Listener listener{holder->name, holder->pid};
            if (sameSocket) {
                return feedback::StillHeld{port, listener};
            }
            // A unit or app is what the user stops; its manager's PID says nothing.
            const std::optional<Supervisor> supervisor = parts_.supervisor(holder->pid);
            return feedback::Restarted{
                freed.killedCount, port, listener, supervisorOf(*holder),
                supervisor ? std::optional(supervisorLabel(*supervisor)) : std::nullopt};
        }
    }
    return std::nullopt;
}

}  // namespace halvo
