// Value records that carry one listening TCP port and its process through the
// whole system. All plain values: copied freely, compared by value.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvo {

// One listening socket as a discovery back-end reports it.
struct LsofRow {
    int32_t pid = 0;
    std::string name;  // process name, or the command column of lsof
    int64_t port = 0;  // host byte order

    bool operator==(const LsofRow&) const = default;
};

// When a process started. With the PID, the identity of a process: a PID whose
// start time differs from the scanned one belongs to another process.
struct ProcessStartTime {
    int64_t seconds = 0;  // since the Unix epoch
    int32_t microseconds = 0;

    auto operator<=>(const ProcessStartTime&) const = default;
};

// What a process costs, as the scan read it with its identity.
struct ProcessCost {
    uint64_t residentBytes = 0;
    double cpuSeconds = 0;  // user and system time so far

    bool operator==(const ProcessCost&) const = default;
};

// What Docker says about a published port.
struct DockerContext {
    std::optional<std::string> containerName;
    std::optional<std::string> composeService;
    // The full ID, what a container is stopped by: a name that no longer
    // exists would be taken by docker as the prefix of another container's ID.
    std::optional<std::string> containerId = std::nullopt;

    bool operator==(const DockerContext&) const = default;
};

// Whether `text` is a full container ID as `docker ps --no-trunc` prints it:
// 64 lowercase hex digits.
bool isFullContainerId(std::string_view text);

// What starts a process again when it ends, and is asked to stop it
// instead. Docker is not one of these: it has its own DockerContext.
struct Supervisor {
    enum class Kind { systemd, pm2 };
    Kind kind = Kind::systemd;
    std::string name;  // the unit ("web.service") or the pm2 app's name
    // pm2's id of the app, which `pm2 stop` takes, and that pm2's home.
    std::string pm2Id = {};
    std::string pm2Home = {};
    // Whose service manager runs the unit (user@UID.service).
    uint32_t managerUid = 0;

    bool operator==(const Supervisor&) const = default;
};

// The container's name, or "container" when it has none: how feedback and
// progress name it.
std::string containerLabel(const DockerContext& container);

// "systemd", "pm2".
std::string_view rawValue(Supervisor::Kind kind);
// "web.service", "pm2 app api": how feedback names it.
std::string supervisorLabel(const Supervisor& supervisor);
// "unit web.service", "pm2 app api": what "Stop " is followed by on the
// action that ends its row.
std::string supervisorStopTarget(const Supervisor& supervisor);

enum class FrameworkBadge { next, vite, rails, go, express, boot, docker, postgres, redis, python };

// The badge text, which is also the raw value ("SPRING" for boot).
std::string_view rawValue(FrameworkBadge badge);

// One listening port with its owning process: the central record.
struct PortProcess {
    int64_t port = 0;
    int32_t pid = 0;
    ProcessStartTime startTime;
    std::string executableName;
    std::string executablePath;
    std::vector<std::string> arguments;
    std::optional<std::string> workingDirectory;
    std::optional<std::string> projectHint;
    // The nearest folder above the working directory that holds a project
    // manifest (package.json, go.mod, .git, ...).
    std::optional<std::string> projectRoot;
    std::optional<FrameworkBadge> frameworkBadge;
    std::optional<DockerContext> dockerContext;
    std::optional<Supervisor> supervisor = std::nullopt;
    // As read by the scan; none for a container row or an unreadable process.
    std::optional<ProcessCost> cost = std::nullopt;

    bool operator==(const PortProcess&) const = default;

    // A port published by a Docker container that no process of the user
    // holds: there is no PID, and ending it means stopping the container.
    bool isContainer() const { return pid == 0 && dockerContext && dockerContext->containerName; }
    // Ended by `docker stop`: a container row, or a process of the user's
    // that only forwards a known container's port (rootless Docker's
    // rootlesskit), whose end would take the engine and every container with it.
    bool stopsContainer() const {
        return isContainer() ||
               (dockerContext && dockerContext->containerName && dockerContext->containerId);
    }

    // Ended by asking its systemd unit or pm2 app to stop; a container wins.
    bool stopsSupervisor() const { return supervisor && !stopsContainer(); }

    // "PID-PORT": row identity in lists and selections.
    std::string id() const;
    // The project name shown next to the port.
    std::string projectLabel() const;
    // The arguments joined with spaces; the executable name when there are none.
    std::string commandLine() const;
    // The lower-cased text that free-text queries are matched against.
    std::string searchText() const;
    // The same text before lower-casing, appended to `out`, so that a caller
    // matching many rows can reuse one buffer.
    void appendSearchText(std::string& out) const;
};

// A listening port that no process of the user holds: another user's, or one
// no readable process holds. Shown so that "nothing there" is never claimed
// for a port that is taken; never a kill target.
struct ForeignListener {
    int64_t port = 0;
    uint32_t uid = 0;  // the socket's owner
    std::string user;  // the owner's login name; the uid as text when it has none

    bool operator==(const ForeignListener&) const = default;
};

}  // namespace halvo

template <>
struct std::hash<halvo::ProcessStartTime> {
    size_t operator()(const halvo::ProcessStartTime& t) const noexcept {
        size_t h = std::hash<int64_t>{}(t.seconds);
        return h ^
               (std::hash<int32_t>{}(t.microseconds) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
    }
};
