#include "kill/supervisor_stopper.h"

#include <sys/stat.h>
#include <unistd.h>

#include "kill/stop_command.h"
#include "scan/process_resolver.h"
#include "scan/supervisor_lookup.h"

namespace halvo {
namespace {

// Nothing when `supervisor` is the user's to stop; why not otherwise.
std::optional<std::string> notTheUsers(const Supervisor& supervisor) {
    const uid_t me = getuid();
    if (supervisor.kind == Supervisor::Kind::systemd) {
        if (supervisor.managerUid == me) {
            return std::nullopt;
        }
        return "it belongs to the service manager of UID " + std::to_string(supervisor.managerUid) +
               ", not yours";
    }
    struct stat home {};
    if (stat(supervisor.pm2Home.c_str(), &home) != 0) {
        return "its pm2 home " + supervisor.pm2Home + " is gone";
    }
    if (home.st_uid != me) {
        return "its pm2 home " + supervisor.pm2Home + " belongs to UID " +
               std::to_string(home.st_uid) + ", not you";
    }
    return std::nullopt;
}

}  // namespace

SystemSupervisorStopper::SystemSupervisorStopper(std::chrono::milliseconds bound) : bound_(bound) {}

KillOutcome SystemSupervisorStopper::stop(const Supervisor& supervisor, const KillTarget& process) {
    const bool pm2 = supervisor.kind == Supervisor::Kind::pm2;
    const std::string which = supervisorStopTarget(supervisor);
    if (const std::optional<std::string> reason = notTheUsers(supervisor)) {
        return KillOutcome::failed("Could not stop " + which + ": " + *reason);
    }
    // The row's process must still be the scanned one, under the same
    // supervisor: a pm2 id or a unit may have been given to another server.
    if (currentStartTime(process.pid) != process.startTime ||
        readSupervisor(process.pid) != supervisor) {
        return KillOutcome::stale();
    }
    if (pm2) {
        return stopOutcome(
            runCommand("/usr/bin/env",
                       {"PM2_HOME=" + supervisor.pm2Home, "pm2", "stop", supervisor.pm2Id}, bound_),
            which, "pm2");
    }
    return stopOutcome(
        runCommand("/usr/bin/env", {"systemctl", "--user", "stop", "--", supervisor.name}, bound_),
        which, "systemctl");
}

}  // namespace halvo
