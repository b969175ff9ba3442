// The kill engine: ends one scanned process and never another.
//
// Every signal goes through a pidfd opened *before* the live start time is
// compared with the scanned one, and only while that pidfd shows the process
// has not exited. What the start time then says is about the very process the
// pidfd holds, so a PID recycled after the scan can never receive the signal.
//
//   force: SIGKILL at once.
//   safe:  SIGTERM, then wait on the same pidfd for up to the grace period and
//          return as soon as the process is gone; if it is still there,
//          SIGKILL through that pidfd.
//
// Where the kernel has no pidfds (ENOSYS), the engine falls back to kill(2):
// compare start times, signal, wait out the grace period, and compare again
// before the SIGKILL. That narrows the window for a recycled PID but cannot
// close it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

#include "kill/kill_engine_protocol.h"
#include "kill/pidfd_signals.h"
#include "scan/port_records.h"
#include "scan/process_resolver.h"

namespace halvo {

// The live start time of a PID; nothing when there is no such process.
// Called from whatever thread the kill runs on.
using StartTimeSource = std::function<std::optional<ProcessStartTime>(int32_t pid)>;

class KillEngine final : public KillEngineProtocol {
  public:
    static constexpr std::chrono::milliseconds gracePeriod{1000};

    explicit KillEngine(StartTimeSource currentStartTime = halvo::currentStartTime,
                        std::shared_ptr<SignalSending> signals = std::make_shared<PidfdSignals>());

    // PIDs <= 0 are stale: kill(2) would read them as process groups.
    KillOutcome kill(int32_t pid, const ProcessStartTime& startTime, KillMode mode,
                     std::stop_token stop = {}) override;

  private:
    KillOutcome killThroughPidfd(const UniqueFd& pidfd, int32_t pid,
                                 const ProcessStartTime& startTime, KillMode mode,
                                 const std::stop_token& stop) const;
    KillOutcome killByPid(int32_t pid, const ProcessStartTime& startTime, KillMode mode,
                          const std::stop_token& stop) const;
    KillOutcome signalPidIfUnchanged(int32_t pid, const ProcessStartTime& startTime,
                                     int signal) const;
    bool unchanged(int32_t pid, const ProcessStartTime& startTime) const;

    const StartTimeSource currentStartTime_;
    const std::shared_ptr<SignalSending> signals_;
};

}  // namespace halvo
