// Which systemd user unit or pm2 app runs a process, read from /proc: the
// unit from the process's cgroup, the app from the environment pm2 gives the
// processes it starts. A terminal's or a session's scope is where the user
// works, not a supervisor, and gives none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "scan/port_records.h"

namespace halvo {

// The most of /proc/PID/environ read: pm2 puts its variables among the
// user's, whose environment is a few kilobytes.
inline constexpr size_t kEnvironmentCap = size_t{64} << 10;

// The unit of the unified-hierarchy line ("0::/…/user@1000.service/app.slice/
// web.service") of a /proc/PID/cgroup text.
std::optional<Supervisor> unitFromCgroup(std::string_view cgroup);

// The pm2 app of a NUL-separated environment: pm2 sets name, pm_id and PM2_HOME.
std::optional<Supervisor> pm2AppFromEnvironment(std::string_view environment);

// The pm2 app first (pm2 itself may run inside a unit), then the unit.
// Only for the user's own processes: another's environment is not ours to read.
std::optional<Supervisor> readSupervisor(int32_t pid, const std::string& procRoot = "/proc");

}  // namespace halvo
