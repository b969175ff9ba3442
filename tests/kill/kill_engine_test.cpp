#include "kill/kill_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "scan/process_resolver.h"
#include "support/test_process.h"

namespace halvo {

// Internal linkage: other test files may print outcomes their own way.
[[maybe_unused]] static void PrintTo(const KillOutcome& outcome, std::ostream* os) {
    static const char* const kinds[] = {"killed", "stale", "failed"};
    *os << kinds[static_cast<int>(outcome.kind)];
    if (!outcome.message.empty()) {
        *os << "(" << outcome.message << ")";
    }
}

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::ListenerOptions;
using testing::ListenerProcess;

struct Attempt {
    int signal = 0;
    bool throughPidfd = true;
    bool operator==(const Attempt&) const = default;
};

void PrintTo(const Attempt& a, std::ostream* os) {
    *os << strsignal(a.signal) << (a.throughPidfd ? " via pidfd" : " via kill(2)");
}

Attempt viaPidfd(int signal) {
    return {signal, true};
}
Attempt viaKill(int signal) {
    return {signal, false};
}

// The real system calls, except where a refusal is staged; every signal tried
// is recorded. PIDs <= 0 are never passed on: kill(-1, ...) as root would end
// everything on the machine.
class RecordingSignals final : public SignalSending {
  public:
    std::optional<int> openError;  // returned instead of opening a pidfd
    std::map<int, int> refusals;   // signal -> error number returned instead of sending

    PidfdOpening openPidfd(int32_t pid) override {
        ++opens_;
        if (openError) {
            return {UniqueFd(), *openError};
        }
        return pid > 0 ? real_.openPidfd(pid) : PidfdOpening{UniqueFd(), EINVAL};
    }
    int signalPidfd(int pidfd, int signal) override {
        return attempt(viaPidfd(signal), [&] { return real_.signalPidfd(pidfd, signal); });
    }
    int signalPid(int32_t pid, int signal) override {
        return attempt(viaKill(signal),
                       [&] { return pid > 0 ? real_.signalPid(pid, signal) : EPERM; });
    }

    std::vector<Attempt> tried() const {
        std::lock_guard lock(mutex_);
        return tried_;
    }
    int opens() const { return opens_; }

  private:
    template <typename Send>
    int attempt(Attempt a, Send send) {
        {
            std::lock_guard lock(mutex_);
            tried_.push_back(a);
        }
        auto refusal = refusals.find(a.signal);
        return refusal != refusals.end() ? refusal->second : send();
    }

    PidfdSignals real_;
    mutable std::mutex mutex_;
    std::vector<Attempt> tried_;
    std::atomic<int> opens_{0};
};

// The signal that ended an exited child, without reaping it; 0 when it exited normally.
int endingSignal(pid_t pid) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
        return -1;
    }
    return info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED ? info.si_status : 0;
}

std::stop_token stopped() {
    std::stop_source source;
    source.request_stop();
    return source.get_token();
}

class KillEngineTest : public ::testing::Test {
  protected:
    std::unique_ptr<ListenerProcess> start(bool ignoreTerm = false) {
        ListenerOptions options;
        options.listenerArgs = {"--v4", "1"};
        if (ignoreTerm) {
            options.listenerArgs.push_back("--ignore-term");
        }
        return ListenerProcess::start(options);
    }
    KillOutcome kill(const ListenerProcess& child, KillMode mode, std::stop_token stop = {}) {
        return engine.kill(child.pid(), *currentStartTime(child.pid()), mode, stop);
    }

    std::shared_ptr<RecordingSignals> signals = std::make_shared<RecordingSignals>();
    KillEngine engine{currentStartTime, signals};
};

TEST_F(KillEngineTest, SafeModeEndsAProcessThatHonoursTermWithTermAlone) {
    auto child = start();
    EXPECT_EQ(kill(*child, KillMode::safe), KillOutcome::killed());
    EXPECT_THAT(signals->tried(), ElementsAre(viaPidfd(SIGTERM)));
    EXPECT_EQ(endingSignal(child->pid()), SIGTERM);
}

TEST_F(KillEngineTest, SafeModeKillsAProcessThatIgnoresTermAfterTheGraceSecond) {
    auto child = start(/*ignoreTerm=*/true);
    EXPECT_EQ(kill(*child, KillMode::safe), KillOutcome::killed());
    EXPECT_THAT(signals->tried(), ElementsAre(viaPidfd(SIGTERM), viaPidfd(SIGKILL)));
    EXPECT_EQ(endingSignal(child->pid()), SIGKILL);
}

TEST_F(KillEngineTest, ForceModeKillsAtOnce) {
    auto child = start(/*ignoreTerm=*/true);
    EXPECT_EQ(kill(*child, KillMode::force), KillOutcome::killed());
    EXPECT_THAT(signals->tried(), ElementsAre(viaPidfd(SIGKILL)));
    EXPECT_EQ(endingSignal(child->pid()), SIGKILL);
}

TEST_F(KillEngineTest, ProcessesThatAreGoneAreStale) {
    // Exited but not yet reaped: /proc still shows the same start time, and
    // only the pidfd tells that the process is over.
    pid_t zombie = fork();
    ASSERT_GE(zombie, 0);
    if (zombie == 0) {
        _exit(0);
    }
    ASSERT_EQ(endingSignal(zombie), 0);
    const ProcessStartTime zombieStart = *currentStartTime(zombie);
    EXPECT_EQ(engine.kill(zombie, zombieStart, KillMode::force), KillOutcome::stale());
    EXPECT_EQ(engine.kill(zombie, zombieStart, KillMode::safe), KillOutcome::stale());

    // Reaped: the PID names nothing.
    ASSERT_EQ(waitpid(zombie, nullptr, 0), zombie);
    EXPECT_EQ(engine.kill(zombie, zombieStart, KillMode::force), KillOutcome::stale());
    EXPECT_EQ(engine.kill(zombie, zombieStart, KillMode::safe), KillOutcome::stale());
    EXPECT_THAT(signals->tried(), IsEmpty());
}

TEST_F(KillEngineTest, AnyOtherStartTimeIsStaleAndNothingIsSent) {
    auto child = start();
    const ProcessStartTime live = *currentStartTime(child->pid());
    for (ProcessStartTime other : {ProcessStartTime{live.seconds, live.microseconds + 1},
                                   ProcessStartTime{live.seconds - 1, live.microseconds}}) {
        for (KillMode mode : {KillMode::force, KillMode::safe}) {
            EXPECT_EQ(engine.kill(child->pid(), other, mode), KillOutcome::stale());
        }
    }
    EXPECT_THAT(signals->tried(), IsEmpty());
    EXPECT_TRUE(child->running());
}

TEST_F(KillEngineTest, NonPositivePidsNeverReachASignal) {
    // A source that vouches for every PID, so only the engine's own refusal stands.
    auto anything = [](int32_t) { return std::optional<ProcessStartTime>(ProcessStartTime{}); };
    for (bool pidfds : {true, false}) {
        signals->openError = pidfds ? std::nullopt : std::optional<int>(ENOSYS);
        KillEngine trusting(anything, signals);
        for (int32_t pid : {0, -1, INT32_MIN}) {
            for (KillMode mode : {KillMode::force, KillMode::safe}) {
                EXPECT_EQ(trusting.kill(pid, {}, mode, stopped()), KillOutcome::stale()) << pid;
            }
        }
    }
    EXPECT_EQ(signals->opens(), 0);
    EXPECT_THAT(signals->tried(), IsEmpty());
}

TEST_F(KillEngineTest, RefusedTermFailsWithTheSystemTextAndNoKillFollows) {
    auto child = start();
    signals->refusals[SIGTERM] = EPERM;
    EXPECT_EQ(kill(*child, KillMode::safe), KillOutcome::failed(std::strerror(EPERM)));
    EXPECT_THAT(signals->tried(), ElementsAre(viaPidfd(SIGTERM)));
    EXPECT_TRUE(child->running());
}

TEST_F(KillEngineTest, RefusedKillFailsWithItsText) {
    auto child = start(/*ignoreTerm=*/true);
    signals->refusals[SIGKILL] = EPERM;
    EXPECT_EQ(kill(*child, KillMode::force), KillOutcome::failed(std::strerror(EPERM)));
    // After an accepted SIGTERM, the SIGKILL's own refusal is what the caller hears.
    EXPECT_EQ(kill(*child, KillMode::safe, stopped()), KillOutcome::failed(std::strerror(EPERM)));
    EXPECT_THAT(signals->tried(),
                ElementsAre(viaPidfd(SIGKILL), viaPidfd(SIGTERM), viaPidfd(SIGKILL)));
    EXPECT_TRUE(child->running());
}

TEST_F(KillEngineTest, NoSuchProcessFromTheSignalCallIsStaleFirstAndKilledLast) {
    auto child = start(/*ignoreTerm=*/true);
    signals->refusals[SIGTERM] = ESRCH;
    EXPECT_EQ(kill(*child, KillMode::safe), KillOutcome::stale());
    signals->refusals = {{SIGKILL, ESRCH}};
    EXPECT_EQ(kill(*child, KillMode::force), KillOutcome::stale());
    EXPECT_EQ(kill(*child, KillMode::safe, stopped()), KillOutcome::killed());
}

TEST_F(KillEngineTest, PidfdThatCannotBeOpenedFailsWithItsText) {
    auto child = start();
    signals->openError = EMFILE;
    EXPECT_EQ(kill(*child, KillMode::force), KillOutcome::failed(std::strerror(EMFILE)));
    EXPECT_THAT(signals->tried(), IsEmpty());
}

TEST_F(KillEngineTest, StopCutsTheGraceWaitShortAndKillsAtOnce) {
    auto child = start(/*ignoreTerm=*/true);
    std::stop_source stop;
    const auto began = std::chrono::steady_clock::now();
    std::jthread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.request_stop();
    });
    EXPECT_EQ(kill(*child, KillMode::safe, stop.get_token()), KillOutcome::killed());
    // Without the wake-up the wait would have run the whole grace period.
    EXPECT_LT(std::chrono::steady_clock::now() - began, KillEngine::gracePeriod);
    EXPECT_THAT(signals->tried(), ElementsAre(viaPidfd(SIGTERM), viaPidfd(SIGKILL)));
    EXPECT_EQ(endingSignal(child->pid()), SIGKILL);
}

TEST_F(KillEngineTest, ConcurrentKillsEachEndTheirOwnProcess) {
    std::vector<std::unique_ptr<ListenerProcess>> children;
    for (int i = 0; i < 4; ++i) {
        children.push_back(start(/*ignoreTerm=*/i % 2 == 1));
    }
    std::vector<KillOutcome> outcomes(children.size());
    {
        std::vector<std::jthread> threads;
        for (size_t i = 0; i < children.size(); ++i) {
            threads.emplace_back([&, i] { outcomes[i] = kill(*children[i], KillMode::safe); });
        }
    }
    for (size_t i = 0; i < children.size(); ++i) {
        EXPECT_EQ(outcomes[i], KillOutcome::killed());
        EXPECT_EQ(endingSignal(children[i]->pid()), i % 2 == 1 ? SIGKILL : SIGTERM);
    }
}

class KillEngineWithoutPidfdTest : public KillEngineTest {
  protected:
    void SetUp() override { signals->openError = ENOSYS; }
};

TEST_F(KillEngineWithoutPidfdTest, ForceModeChecksTheStartTimeThenKills) {
    auto child = start();
    const ProcessStartTime live = *currentStartTime(child->pid());
    EXPECT_EQ(engine.kill(child->pid(), {live.seconds, live.microseconds + 1}, KillMode::force),
              KillOutcome::stale());
    EXPECT_TRUE(child->running());
    EXPECT_EQ(engine.kill(child->pid(), live, KillMode::force), KillOutcome::killed());
    EXPECT_THAT(signals->tried(), ElementsAre(viaKill(SIGKILL)));
    EXPECT_EQ(endingSignal(child->pid()), SIGKILL);
}

TEST_F(KillEngineWithoutPidfdTest, SafeModeKillsWhatIsStillTheSameProcess) {
    auto child = start(/*ignoreTerm=*/true);
    EXPECT_EQ(kill(*child, KillMode::safe, stopped()), KillOutcome::killed());
    EXPECT_THAT(signals->tried(), ElementsAre(viaKill(SIGTERM), viaKill(SIGKILL)));
    EXPECT_EQ(endingSignal(child->pid()), SIGKILL);
}

TEST_F(KillEngineWithoutPidfdTest, SafeModeLeavesAPidThatChangedDuringTheWait) {
    auto child = start(/*ignoreTerm=*/true);
    const ProcessStartTime scanned = *currentStartTime(child->pid());
    // The first reading matches; every later one shows another process on the PID.
    std::atomic<int> readings{0};
    KillEngine reused(
        [&](int32_t pid) {
            auto live = currentStartTime(pid);
            if (live && readings++ > 0) {
                live->seconds += 1;
            }
            return live;
        },
        signals);
    EXPECT_EQ(reused.kill(child->pid(), scanned, KillMode::safe, stopped()), KillOutcome::killed());
    EXPECT_THAT(signals->tried(), ElementsAre(viaKill(SIGTERM)));
    EXPECT_TRUE(child->running());
}

TEST_F(KillEngineWithoutPidfdTest, RefusalsAreReportedAsWithPidfds) {
    auto child = start(/*ignoreTerm=*/true);
    signals->refusals = {{SIGTERM, EPERM}};
    EXPECT_EQ(kill(*child, KillMode::safe), KillOutcome::failed(std::strerror(EPERM)));
    signals->refusals = {{SIGTERM, ESRCH}};
    EXPECT_EQ(kill(*child, KillMode::safe), KillOutcome::stale());
    signals->refusals = {{SIGKILL, EPERM}};
    EXPECT_EQ(kill(*child, KillMode::safe, stopped()), KillOutcome::failed(std::strerror(EPERM)));
    signals->refusals = {{SIGKILL, ESRCH}};
    EXPECT_EQ(kill(*child, KillMode::safe, stopped()), KillOutcome::killed());
    EXPECT_THAT(signals->tried(),
                ElementsAre(viaKill(SIGTERM), viaKill(SIGTERM), viaKill(SIGTERM), viaKill(SIGKILL),
                            viaKill(SIGTERM), viaKill(SIGKILL)));
    EXPECT_TRUE(child->running());
}

}  // namespace
}  // namespace halvo
