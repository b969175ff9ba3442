#include "kill/kill_engine.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <utility>

#include "base/error_text.h"

namespace halvo {
namespace {

using Clock = std::chrono::steady_clock;

KillOutcome refusal(int error) {
    return error == ESRCH ? KillOutcome::stale() : KillOutcome::failed(errorText(error));
}

// Makes a stop request visible to poll(2): an eventfd that turns readable
// when the token is stopped. Without a token that can stop, it holds nothing.
class StopWake {
  public:
    explicit StopWake(const std::stop_token& stop) {
        if (stop.stop_possible()) {
            fd_ = UniqueFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
            if (fd_.valid()) {
                callback_.emplace(stop, Notify{fd_.get()});
            }
        }
    }

    int fd() const { return fd_.get(); }

  private:
    struct Notify {
        int fd;
        void operator()() const noexcept {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t written = write(fd, &one, sizeof(one));
        }
    };
    // Declared before the callback, so the callback is gone before the fd closes.
    UniqueFd fd_;
    std::optional<std::stop_callback<Notify>> callback_;
};

// Whether the process behind `pidfd` has exited (a zombie counts). When poll
// cannot tell, the answer is yes: nothing will then be signalled.
bool hasExited(int pidfd) {
    pollfd entry{pidfd, POLLIN, 0};
    int rc = 0;
    do {
        rc = poll(&entry, 1, 0);
    } while (rc < 0 && errno == EINTR);
    return rc != 0;
}

// Waits until the process behind `pidfd` exits (true), or the grace period
// ends or a stop is requested (false). A pidfd of -1 waits on the time alone.
bool waitForExit(int pidfd, const std::stop_token& stop) {
    const StopWake wake(stop);
    const auto deadline = Clock::now() + KillEngine::gracePeriod;
    for (;;) {
        if (stop.stop_requested()) {
            return false;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        // poll(2) skips negative descriptors.
        pollfd entries[2] = {{pidfd, POLLIN, 0}, {wake.fd(), POLLIN, 0}};
        const int rc = poll(entries, 2, static_cast<int>(left));
        if (rc < 0 && errno != EINTR) {
            return false;  // the SIGKILL that follows still goes to the pidfd's process
        }
        if (rc > 0 && entries[0].revents != 0) {
            return true;
        }
    }
}

}  // namespace

KillEngine::KillEngine(StartTimeSource currentStartTime, std::shared_ptr<SignalSending> signals)
    : currentStartTime_(std::move(currentStartTime)), signals_(std::move(signals)) {}

KillOutcome KillEngine::kill(int32_t pid, const ProcessStartTime& startTime, KillMode mode,
                             std::stop_token stop) {
    if (pid <= 0) {
        return KillOutcome::stale();
    }
    const PidfdOpening opening = signals_->openPidfd(pid);
    switch (opening.error) {
        case 0:
            return killThroughPidfd(opening.pidfd, pid, startTime, mode, stop);
        case ENOSYS:
            return killByPid(pid, startTime, mode, stop);
        case ESRCH:
        case EINVAL:  // a thread's id, not a process's
            return KillOutcome::stale();
        default:
            return KillOutcome::failed(errorText(opening.error));
    }
}

KillOutcome KillEngine::killThroughPidfd(const UniqueFd& pidfd, int32_t pid,
                                         const ProcessStartTime& startTime, KillMode mode,
                                         const std::stop_token& stop) const {
    // Until the pidfd turns readable the PID cannot be reused, so the start
    // time read next belongs to the process the pidfd holds.
    if (hasExited(pidfd.get()) || !unchanged(pid, startTime)) {
        return KillOutcome::stale();
    }
    if (mode == KillMode::force) {
        const int error = signals_->signalPidfd(pidfd.get(), SIGKILL);
        return error == 0 ? KillOutcome::killed() : refusal(error);
    }
    if (const int error = signals_->signalPidfd(pidfd.get(), SIGTERM); error != 0) {
        return refusal(error);
    }
    if (waitForExit(pidfd.get(), stop)) {
        return KillOutcome::killed();
    }
    // Still the same process: the pidfd names nothing else.
    const int error = signals_->signalPidfd(pidfd.get(), SIGKILL);
    if (error == 0 || error == ESRCH) {
        return KillOutcome::killed();  // ESRCH: it went after all
    }
    return KillOutcome::failed(errorText(error));
}

KillOutcome KillEngine::killByPid(int32_t pid, const ProcessStartTime& startTime, KillMode mode,
                                  const std::stop_token& stop) const {
    if (mode == KillMode::force) {
        return signalPidIfUnchanged(pid, startTime, SIGKILL);
    }
    if (KillOutcome first = signalPidIfUnchanged(pid, startTime, SIGTERM);
        first.kind != KillOutcome::Kind::killed) {
        return first;
    }
    waitForExit(-1, stop);
    // Gone, or the PID now names another process: either way, done.
    KillOutcome last = signalPidIfUnchanged(pid, startTime, SIGKILL);
    return last.kind == KillOutcome::Kind::stale ? KillOutcome::killed() : last;
}

KillOutcome KillEngine::signalPidIfUnchanged(int32_t pid, const ProcessStartTime& startTime,
                                             int signal) const {
    if (!unchanged(pid, startTime)) {
        return KillOutcome::stale();
    }
    const int error = signals_->signalPid(pid, signal);
    return error == 0 ? KillOutcome::killed() : refusal(error);
}

bool KillEngine::unchanged(int32_t pid, const ProcessStartTime& startTime) const {
    const std::optional<ProcessStartTime> live = currentStartTime_(pid);
    return live && *live == startTime;
}

}  // namespace halvo
