#include "kill/kill_engine.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>
#include <utility>

#include "base/error_text.h"

namespace halvo {
namespace {

using Clock = std::chrono::steady_clock;

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

// A batch holds one pidfd per target until it is done; in chunks of this many,
// well below the usual limit of 1024 open descriptors.
constexpr size_t kChunk = 256;

// One target that received its first signal.
struct InFlight {
    size_t index = 0;  // into the outcomes
    UniqueFd pidfd;    // invalid on the kill(2) path, where no exit can be seen
    bool exited = false;
    bool failed = false;
};

// Waits until every process in `flights` has exited (marking them), `deadline`
// passes or a stop is requested. A flight without a pidfd waits on time alone.
void waitForExits(std::vector<InFlight>& flights, Clock::time_point deadline,
                  const std::stop_token& stop) {
    const StopWake wake(stop);
    std::vector<pollfd> entries;
    std::vector<size_t> watched;
    for (;;) {
        entries.clear();
        watched.clear();
        for (size_t i = 0; i < flights.size(); ++i) {
            if (!flights[i].exited && !flights[i].failed) {
                // poll(2) skips negative descriptors.
                entries.push_back({flights[i].pidfd.get(), POLLIN, 0});
                watched.push_back(i);
            }
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (watched.empty() || stop.stop_requested() || left <= 0) {
            return;
        }
        entries.push_back({wake.fd(), POLLIN, 0});
        const int rc = poll(entries.data(), entries.size(), static_cast<int>(left));
        if (rc < 0 && errno != EINTR) {
            return;  // a SIGKILL that follows still goes to the pidfd's process
        }
        for (size_t i = 0; rc > 0 && i < watched.size(); ++i) {
            if (entries[i].revents != 0) {
                flights[watched[i]].exited = true;
            }
        }
    }
}

}  // namespace

KillEngine::KillEngine(StartTimeSource currentStartTime,
                       std::shared_ptr<SignalSending> signalSender)
    : currentStartTime_(std::move(currentStartTime)), signals_(std::move(signalSender)) {}

KillOutcome KillEngine::kill(int32_t pid, const ProcessStartTime& startTime, KillMode mode,
                             std::stop_token stop) {
    return killAll({KillTarget{pid, startTime}}, mode, std::move(stop)).front();
}

std::vector<KillOutcome> KillEngine::killAll(const std::vector<KillTarget>& targets, KillMode mode,
                                             std::stop_token stop) {
    std::vector<KillOutcome> outcomes(targets.size());
    bool anySent = false;
    for (size_t begin = 0; begin < targets.size(); begin += kChunk) {
        killChunk(targets.data() + begin, outcomes.data() + begin,
                  std::min(kChunk, targets.size() - begin), mode, stop, anySent);
    }
    return outcomes;
}

void KillEngine::killChunk(const KillTarget* targets, KillOutcome* outcomes, size_t count,
                           KillMode mode, const std::stop_token& stop, bool& anySent) const {
    std::vector<InFlight> flights;
    const int first = mode == KillMode::force ? SIGKILL : SIGTERM;
    for (size_t i = 0; i < count; ++i) {
        InFlight flight;
        flight.index = i;
        if (auto done = sendFirst(targets[i], first, anySent, flight.pidfd)) {
            outcomes[i] = std::move(*done);
            continue;
        }
        anySent = true;
        outcomes[i] = KillOutcome::killed();
        flights.push_back(std::move(flight));
    }
    if (mode == KillMode::graceful) {
        waitForExits(flights, Clock::now() + gracePeriod, stop);
        for (InFlight& flight : flights) {
            if (!flight.exited) {
                outcomes[flight.index] = sendLast(targets[flight.index], flight.pidfd);
                flight.failed = outcomes[flight.index].kind != KillOutcome::Kind::killed;
            }
        }
    }
    // Without a pidfd there is nothing to wait on that a recycled PID could not fool.
    std::erase_if(flights, [](const InFlight& f) { return !f.pidfd.valid(); });
    waitForExits(flights, Clock::now() + exitWait, stop);
}

std::optional<KillOutcome> KillEngine::sendFirst(const KillTarget& target, int signal, bool anySent,
                                                 UniqueFd& pidfd) const {
    // Gone by its turn: after an earlier signal of the batch, most likely ended by it.
    const KillOutcome gone = anySent ? KillOutcome::killed() : KillOutcome::stale();
    if (target.pid <= 0) {
        return KillOutcome::stale();
    }
    PidfdOpening opening = signals_->openPidfd(target.pid);
    if (opening.error == ENOSYS) {
        const std::optional<ProcessStartTime> live = currentStartTime_(target.pid);
        if (!live) {
            return gone;
        }
        if (*live != target.startTime) {
            return KillOutcome::stale();
        }
        const int error = signals_->signalPid(target.pid, signal);
        return error == 0
                   ? std::nullopt
                   : std::optional(error == ESRCH ? gone : KillOutcome::failed(errorText(error)));
    }
    switch (opening.error) {
        case 0:
            break;
        case ESRCH:
            return gone;
        case EINVAL:  // a thread's id, not a process's
            return KillOutcome::stale();
        default:
            return KillOutcome::failed(errorText(opening.error));
    }
    // Until the pidfd turns readable the PID cannot be reused, so the start
    // time read next belongs to the process the pidfd holds.
    if (hasExited(opening.pidfd.get())) {
        return gone;
    }
    if (!unchanged(target.pid, target.startTime)) {
        // Exited (and perhaps reaped) since the check above: its /proc entry is
        // gone, which says nothing about the scan being out of date.
        return hasExited(opening.pidfd.get()) ? gone : KillOutcome::stale();
    }
    if (const int error = signals_->signalPidfd(opening.pidfd.get(), signal); error != 0) {
        return error == ESRCH ? gone : KillOutcome::failed(errorText(error));
    }
    pidfd = std::move(opening.pidfd);
    return std::nullopt;
}

KillOutcome KillEngine::sendLast(const KillTarget& target, const UniqueFd& pidfd) const {
    if (pidfd.valid()) {
        // Still the same process: the pidfd names nothing else.
        const int error = signals_->signalPidfd(pidfd.get(), SIGKILL);
        if (error == 0 || error == ESRCH) {
            return KillOutcome::killed();  // ESRCH: it went after all
        }
        return KillOutcome::failed(errorText(error));
    }
    // Gone, or the PID now names another process: either way, done.
    if (!unchanged(target.pid, target.startTime)) {
        return KillOutcome::killed();
    }
    const int error = signals_->signalPid(target.pid, SIGKILL);
    return error == 0 || error == ESRCH ? KillOutcome::killed()
                                        : KillOutcome::failed(errorText(error));
}

bool KillEngine::unchanged(int32_t pid, const ProcessStartTime& startTime) const {
    const std::optional<ProcessStartTime> live = currentStartTime_(pid);
    return live && *live == startTime;
}

}  // namespace halvo
