// The kill engine: ends one scanned process and never another.
//
// Every signal goes through a pidfd opened *before* the live start time is
// compared with the scanned one, and only while that pidfd shows the process
// has not exited. What the start time then says is about the very process the
// pidfd holds, so a PID recycled after the scan can never receive the signal.
//
//   force: SIGKILL at once.
//   graceful: SIGTERM, then wait on the same pidfd for up to the grace period and
//          return as soon as the process is gone; if it is still there,
//          SIGKILL through that pidfd.
// Either way the engine then waits on the pidfd (up to exitWait) until the
// process has exited, so that its ports are free when the kill returns.
//
// A batch sends every first signal before it waits, so the whole batch shares
// one grace period. A target that was gone at its turn after an earlier signal
// of the batch went out counts as killed (workers ended by their master); a
// PID that names another process is stale in any case.
//
// Where the kernel has no pidfds (ENOSYS), the engine falls back to kill(2):
// compare start times, signal, wait out the grace period, and compare again
// before the SIGKILL. That narrows the window for a recycled PID but cannot
// close it, and there is nothing to wait on for the exit.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include "kill/pidfd_signals.h"
#include "kill/process_killing.h"
#include "scan/port_records.h"
#include "scan/process_resolver.h"

namespace halvo {

// The live start time of a PID; nothing when there is no such process.
// Called from whatever thread the kill runs on.
using StartTimeSource = std::function<std::optional<ProcessStartTime>(int32_t pid)>;

class KillEngine final : public ProcessKilling {
  public:
    static constexpr std::chrono::milliseconds gracePeriod{1000};
    static constexpr std::chrono::milliseconds exitWait{2000};

    explicit KillEngine(
        StartTimeSource currentStartTime = halvo::currentStartTime,
        std::shared_ptr<SignalSending> signalSender = std::make_shared<PidfdSignals>());

    // PIDs <= 0 are stale: kill(2) would read them as process groups.
    KillOutcome kill(int32_t pid, const ProcessStartTime& startTime, KillMode mode,
                     std::stop_token stop = {}) override;
    std::vector<KillOutcome> killAll(const std::vector<KillTarget>& targets, KillMode mode,
                                     std::stop_token stop = {}) override;

  private:
    // Signals and waits for up to one chunk of targets, their outcomes in `outcomes`.
    void killChunk(const KillTarget* targets, KillOutcome* outcomes, size_t count, KillMode mode,
                   const std::stop_token& stop, bool& anySent) const;
    // The first signal; nothing when it went out (`pidfd` then holds the
    // process where pidfds exist), else the target's outcome.
    std::optional<KillOutcome> sendFirst(const KillTarget& target, int signal, bool anySent,
                                         UniqueFd& pidfd) const;
    // SIGKILL after the grace period to a target that is still there.
    KillOutcome sendLast(const KillTarget& target, const UniqueFd& pidfd) const;
    bool unchanged(int32_t pid, const ProcessStartTime& startTime) const;

    const StartTimeSource currentStartTime_;
    const std::shared_ptr<SignalSending> signals_;
};

}  // namespace halvo
