#include "scan/port_scanner.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "base/text.h"
#include "base/user_account.h"
#include "scan/classification.h"

namespace halvo {
namespace {

const std::unordered_set<std::string_view>& developmentProcessNames() {
    static const std::unordered_set<std::string_view> names = {
        "node",    "npm",      "pnpm",    "yarn",         "bun",    "deno",    "vite",
        "next",    "python",   "python3", "ruby",         "rails",  "go",      "java",
        "docker",  "postgres", "mongod",  "redis-server", "php",    "artisan", "puma",
        "uvicorn", "gunicorn", "air",     "cargo",        "dotnet",
    };
    return names;
}

const std::unordered_set<std::string_view>& excludedProcessNames() {
    // The desktop's own port holders: they run as the user and some have
    // "server" or "dev" in their command lines, but nobody develops them.
    static const std::unordered_set<std::string_view> names = {
        "systemd",                      // socket-activated user units
        "kdeconnectd",                  // KDE Connect pairing
        "gnome-shell",                  // GNOME's compositor and its helpers
        "xwayland",                     // X11 under Wayland
        "xorg",                         // the X server itself
        "pulseaudio",                   // network audio
        "pipewire",                     // network audio and screen casting
        "vino-server",                  // GNOME's old remote desktop
        "gnome-remote-desktop-daemon",  // GNOME's RDP/VNC server
        "x11vnc",                       // remote desktop
        "krfb",                         // KDE's desktop sharing
    };
    return names;
}

constexpr std::array<std::string_view, 22> kDevelopmentMarkers = {
    "npm run", "pnpm",   "yarn",    "bun",       "deno",   "vite",      "next",   "rails",
    "django",  "flask",  "uvicorn", "gunicorn",  "go run", "cargo run", "spring", "gradle",
    "mvn",     "docker", "compose", "localhost", "dev",    "server",
};

// The login name of `uid`; the uid as text when it has none.
std::string userName(uint32_t uid) {
    const std::optional<UserAccount> account = userAccount(uid);
    return account && !account->name.empty() ? account->name : std::to_string(uid);
}

// A kept row with what the scan learned about its process.
struct Candidate {
    const LsofRow* row;
    ProcessStartTime startTime;
    std::optional<ProcessCost> cost;
    ProcessMetadata metadata;  // as read, before fallbacks
    std::string executablePath;
    std::string executableName;
    std::vector<std::string> arguments;
};

// The metadata read for `c`'s process, and what the discovered name stands
// for where the process table would not tell.
void describe(Candidate& c, const std::unordered_map<int32_t, ProcessMetadata>& metadata) {
    if (auto it = metadata.find(c.row->pid); it != metadata.end()) {
        c.metadata = it->second;
    }
    c.executablePath = c.metadata.executablePath.empty() ? c.row->name : c.metadata.executablePath;
    c.executableName = lastPathComponent(c.executablePath);
    if (c.executableName.empty()) {
        c.executableName = c.row->name;
    }
    c.arguments =
        c.metadata.arguments.empty() ? std::vector<std::string>{c.row->name} : c.metadata.arguments;
}

// The row of a kept candidate: its project, and its badge, which a container
// behind its port decides.
PortProcess portProcess(Candidate c, std::optional<DockerContext> container,
                        ProjectRootResolver& projects) {
    PortProcess p;
    p.port = c.row->port;
    p.pid = c.row->pid;
    p.startTime = c.startTime;
    p.cost = c.cost;
    p.workingDirectory = c.metadata.workingDirectory;
    p.supervisor = c.metadata.supervisor;
    p.projectHint = projectHint(c.arguments, p.workingDirectory, c.executablePath);
    if (p.workingDirectory) {
        p.projectRoot = projects.projectRoot(*p.workingDirectory);
    }
    if (container) {
        p.dockerContext = std::move(container);
        p.frameworkBadge = FrameworkBadge::docker;
    } else {
        p.frameworkBadge = frameworkBadge(c.executableName, c.executablePath, c.arguments);
        // `node server.js` says nothing of Express; its package.json does.
        if (!p.frameworkBadge && p.projectRoot) {
            p.frameworkBadge = projects.declaredBadge(*p.projectRoot);
        }
    }
    p.executableName = std::move(c.executableName);
    p.executablePath = std::move(c.executablePath);
    p.arguments = std::move(c.arguments);
    return p;
}

}  // namespace

std::vector<LsofRow> uniqueRows(const std::vector<LsofRow>& rows) {
    std::set<std::pair<int32_t, int64_t>> seen;
    std::vector<LsofRow> unique;
    unique.reserve(rows.size());
    for (const LsofRow& row : rows) {
        if (seen.emplace(row.pid, row.port).second) {
            unique.push_back(row);
        }
    }
    return unique;
}

bool isDevelopmentProcess(std::string_view executableName, std::string_view rowName,
                          const ProcessMetadata& metadata) {
    const std::string name = toLower(executableName);
    const std::string discovered = toLower(rowName);
    const auto& excluded = excludedProcessNames();
    if (excluded.contains(name) || excluded.contains(discovered)) {
        return false;
    }
    const auto& development = developmentProcessNames();
    if (development.contains(name) || development.contains(discovered)) {
        return true;
    }
    std::string command = metadata.executablePath;
    command += ' ';
    command += metadata.workingDirectory.value_or("");
    for (const std::string& argument : metadata.arguments) {
        command += ' ';
        command += argument;
    }
    command = toLower(command);
    return std::any_of(
        kDevelopmentMarkers.begin(), kDevelopmentMarkers.end(),
        [&](std::string_view marker) { return command.find(marker) != std::string::npos; });
}

PortScanner::PortScanner(std::shared_ptr<ProcessResolving> processResolver,
                         std::shared_ptr<DockerResolving> dockerResolver,
                         std::shared_ptr<PortDiscovering> nativeDiscovery,
                         std::shared_ptr<PortDiscovering> fallbackDiscovery,
                         PortScannerOptions options)
    : processResolver_(std::move(processResolver)),
      dockerResolver_(std::move(dockerResolver)),
      nativeDiscovery_(std::move(nativeDiscovery)),
      fallbackDiscovery_(std::move(fallbackDiscovery)),
      options_(options) {}

std::vector<PortProcess> PortScanner::scan() {
    return scanAll().processes;
}

PortScan PortScanner::scanAll() {
    // A process that started after discovery began cannot hold the sockets it
    // found: its PID was recycled in between, and its start time must not
    // stand for them, or a later kill would reach it.
    const ProcessStartTime began = options_.now();
    const Discovery found = discover();
    Identities identities;
    DockerListing docker;
    std::vector<LsofRow> notDevelopment;
    std::vector<PortProcess> result = processes(found.rows, identities, docker, &notDevelopment);
    std::erase_if(result, [&](const PortProcess& p) { return began < p.startTime; });
    addContainerRows(result, docker);
    std::vector<ForeignListener> foreign = foreignListeners(found.listeners, identities, began);
    // A published port's root-owned docker-proxy says less than the container's row.
    std::erase_if(foreign, [&](const ForeignListener& f) {
        return std::any_of(result.begin(), result.end(), [&](const PortProcess& p) {
            return p.isContainer() && p.port == f.port;
        });
    });
    return {std::move(result), std::move(foreign), std::move(notDevelopment)};
}

void PortScanner::addContainerRows(std::vector<PortProcess>& rows, DockerListing& docker) {
    std::set<int64_t> held;
    for (const PortProcess& row : rows) {
        held.insert(row.port);
    }
    const size_t own = rows.size();
    for (PublishedPort& published : dockerResolver_->publishedPorts(docker)) {
        if (held.contains(published.port)) {
            continue;
        }
        PortProcess row;
        row.port = published.port;
        row.executableName = "docker";
        if (!published.command.empty()) {
            row.arguments = {std::move(published.command)};
        }
        row.frameworkBadge = FrameworkBadge::docker;
        row.dockerContext = std::move(published.context);
        rows.push_back(std::move(row));
    }
    // Both runs are by port, and no port is in both.
    std::inplace_merge(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(own), rows.end(),
                       [](const PortProcess& a, const PortProcess& b) { return a.port < b.port; });
}

std::vector<LsofRow> PortScanner::discoverRows() {
    return discover().rows;
}

Discovery PortScanner::discover() {
    if (std::optional<Discovery> found = nativeDiscovery_->discover()) {
        // Looked and found nothing of the user's is an answer too: lsof, run
        // as the user, would read the same /proc.
        return std::move(*found);
    }
    // The fallback's rows come with no sockets: with the process table out
    // of sight, no listener can be called another user's.
    return {fallbackDiscovery_->rows(), {}};
}

const std::optional<ProcessIdentitySnapshot>& PortScanner::ownIdentity(int32_t pid,
                                                                       Identities& identities) {
    auto [it, inserted] = identities.try_emplace(pid);
    if (inserted) {
        auto snapshot = processResolver_->identitySnapshot(pid);
        if (snapshot && snapshot->uid == getuid()) {
            it->second = snapshot;
        }
    }
    return it->second;
}

std::vector<ForeignListener> PortScanner::foreignListeners(const std::vector<SeenListener>& seen,
                                                           Identities& identities,
                                                           ProcessStartTime began) {
    const auto isOwn = [&](int32_t pid) {
        // Every holder gave a row, so its identity is known unless the two
        // back-ends disagree. A process that started after the scan began
        // holds the PID of whatever held the socket before it.
        const auto& identity = ownIdentity(pid, identities);
        return identity && !(began < identity->startTime);
    };
    std::set<std::pair<int64_t, uint32_t>> held;  // port, owner
    for (const SeenListener& listener : seen) {
        if (std::none_of(listener.pids.begin(), listener.pids.end(), isOwn)) {
            held.emplace(listener.port, listener.uid);
        }
    }
    std::unordered_map<uint32_t, std::string> names;
    std::vector<ForeignListener> foreign;
    foreign.reserve(held.size());
    for (const auto& [port, uid] : held) {
        auto [name, inserted] = names.try_emplace(uid);
        if (inserted) {
            name->second = userName(uid);
        }
        foreign.push_back({port, uid, name->second});
    }
    return foreign;
}

std::vector<PortProcess> PortScanner::processes(const std::vector<LsofRow>& discovered) {
    Identities identities;
    DockerListing docker;
    return processes(discovered, identities, docker);
}

std::vector<PortProcess> PortScanner::processes(const std::vector<LsofRow>& discovered,
                                                Identities& identities, DockerListing& docker,
                                                std::vector<LsofRow>* notDevelopment) {
    const std::vector<LsofRow> rows = uniqueRows(discovered);
    // Only the user's own processes whose identity can be read.
    std::vector<Candidate> candidates;
    std::vector<int32_t> pids;
    for (const LsofRow& row : rows) {
        if (const auto& identity = ownIdentity(row.pid, identities)) {
            candidates.push_back({&row, identity->startTime, identity->cost, {}, {}, {}, {}});
            pids.push_back(row.pid);
        }
    }
    const auto metadata = processResolver_->metadata(pids);
    for (Candidate& c : candidates) {
        describe(c, metadata);
    }
    std::erase_if(candidates, [&](const Candidate& c) {
        if (!options_.developmentOnly ||
            isDevelopmentProcess(c.executableName, c.row->name, c.metadata)) {
            return false;
        }
        if (notDevelopment != nullptr) {
            notDevelopment->push_back({c.row->pid, c.executableName, c.row->port});
        }
        return true;
    });

    std::vector<PortMetadata> dockerQuery;
    dockerQuery.reserve(candidates.size());
    for (const Candidate& c : candidates) {
        dockerQuery.emplace_back(c.metadata, c.row->port);
    }
    const auto contexts = dockerResolver_->dockerContexts(dockerQuery, docker);
    ProjectRootResolver projects(options_.home);
    std::vector<PortProcess> result;
    result.reserve(candidates.size());
    for (Candidate& c : candidates) {
        const auto context = contexts.find(c.row->port);
        result.push_back(portProcess(std::move(c),
                                     context == contexts.end()
                                         ? std::nullopt
                                         : std::optional<DockerContext>(context->second),
                                     projects));
    }
    std::stable_sort(result.begin(), result.end(), [](const PortProcess& a, const PortProcess& b) {
        return a.port != b.port ? a.port < b.port : a.pid < b.pid;
    });
    return result;
}

}  // namespace halvo
