// Ending a row that a systemd user unit or a pm2 app runs: the process itself
// would only be started again, so its supervisor is asked to stop it.
#pragma once

#include <chrono>

#include "kill/process_killing.h"
#include "scan/port_records.h"

namespace halvo {

// A unit's stop waits for its processes to exit (TimeoutStopSec), as pm2's does.
inline constexpr std::chrono::milliseconds kSupervisorStopBound{20000};

class SupervisorStopping {
  public:
    virtual ~SupervisorStopping() = default;
    // Blocking and thread-safe. Stops `supervisor` once `process`, the row's
    // process as scanned, still runs under it (stale when not); failed with
    // the reason when it is not the user's, or its command fails or hangs.
    virtual KillOutcome stop(const Supervisor& supervisor, const KillTarget& process) = 0;
};

// `systemctl --user stop UNIT`, or `pm2 stop ID` with the app's PM2_HOME,
// found on PATH and run through the command runner, bounded.
class SystemSupervisorStopper final : public SupervisorStopping {
  public:
    explicit SystemSupervisorStopper(std::chrono::milliseconds bound = kSupervisorStopBound);
    KillOutcome stop(const Supervisor& supervisor, const KillTarget& process) override;

  private:
    std::chrono::milliseconds bound_;
};

}  // namespace halvo
