#include "scan/supervisor_lookup.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>

#include "base/file_reading.h"
#include "base/text.h"
#include "base/unique_fd.h"

namespace halvo {
namespace {

// Scopes that a terminal, a multiplexer, a desktop launch or a login puts
// the user's shells in: stopping one would end the user's work with the server.
bool isWhereTheUserWorks(std::string_view unit) {
    constexpr std::array<std::string_view, 4> kPrefixes = {"vte-spawn-", "tmux-spawn-", "session-",
                                                           "init.scope"};
    for (std::string_view prefix : kPrefixes) {
        if (unit.starts_with(prefix)) {
            return true;
        }
    }
    // Desktop launches are app-LAUNCHER-APP-RANDOM.scope; gnome-terminal-server.service.
    return (unit.starts_with("app-") && unit.ends_with(".scope")) ||
           toLower(unit).find("terminal") != std::string::npos;
}

}  // namespace

std::optional<Supervisor> unitFromCgroup(std::string_view cgroup) {
    for (std::string_view line : splitNonEmpty(cgroup, '\n')) {
        // The unified line; on a hybrid system systemd's own hierarchy says it too.
        const size_t path = line.starts_with("0::") ? 3
                            : line.find(":name=systemd:") != std::string_view::npos
                                ? line.find(":name=systemd:") + 14
                                : std::string_view::npos;
        if (path == std::string_view::npos) {
            continue;
        }
        std::optional<uint32_t> manager;
        for (std::string_view part : splitNonEmpty(line.substr(path), '/')) {
            if (!manager) {
                if (part.starts_with("user@") && part.ends_with(".service")) {
                    const std::optional<uint64_t> uid =
                        parseUint64(part.substr(5, part.size() - 5 - 8));
                    if (uid && *uid <= UINT32_MAX) {
                        manager = static_cast<uint32_t>(*uid);
                    }
                }
                continue;
            }
            if (part.ends_with(".slice")) {
                continue;
            }
            if ((!part.ends_with(".service") && !part.ends_with(".scope")) ||
                isWhereTheUserWorks(part)) {
                return std::nullopt;
            }
            return Supervisor{Supervisor::Kind::systemd, decodeUtf8Lossy(part), {}, {}, *manager};
        }
    }
    return std::nullopt;
}

std::optional<Supervisor> pm2AppFromEnvironment(std::string_view environment) {
    std::optional<std::string_view> name, id, home;
    while (!environment.empty()) {
        const size_t end = environment.find('\0');
        const std::string_view entry = environment.substr(0, end);
        if (entry.starts_with("name=")) {
            name = entry.substr(5);
        } else if (entry.starts_with("pm_id=")) {
            id = entry.substr(6);
        } else if (entry.starts_with("PM2_HOME=")) {
            home = entry.substr(9);
        }
        if (end == std::string_view::npos) {
            break;
        }
        environment.remove_prefix(end + 1);
    }
    // An id that is no number could pass for an option of pm2's.
    if (!name || name->empty() || !id || !parseUint64(*id) || !home || !home->starts_with('/')) {
        return std::nullopt;
    }
    return Supervisor{Supervisor::Kind::pm2, decodeUtf8Lossy(*name), std::string(*id),
                      decodeUtf8Lossy(*home)};
}

std::optional<Supervisor> readSupervisor(int32_t pid, const std::string& procRoot) {
    const std::string dir = procRoot + "/" + std::to_string(pid);
    if (const auto environment = readAll(
            UniqueFd(open((dir + "/environ").c_str(), O_RDONLY | O_CLOEXEC)), kEnvironmentCap)) {
        if (auto app = pm2AppFromEnvironment(*environment)) {
            return app;
        }
    }
    const auto cgroup = readAll(UniqueFd(open((dir + "/cgroup").c_str(), O_RDONLY | O_CLOEXEC)));
    return cgroup ? unitFromCgroup(*cgroup) : std::nullopt;
}

}  // namespace halvo
