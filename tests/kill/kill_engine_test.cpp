#include "kill/kill_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "scan/process_resolver.h"
#include "support/test_process.h"

namespace halvo {

// Internal linkage: other test files may print outcomes their own way.
[[maybe_unused]] static void PrintTo(const KillOutcome& outcome, std::ostream* os) {
    static const char* const kinds[] = {"killed", "stale", "failed"};
    *os << kinds[static_cast<int>(outcome.kind)] << " " << outcome.message;
}

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::endingSignal;
using ::testing::IsEmpty;
using testing::ListenerOptions;
using testing::ListenerProcess;

// The real system calls unless a refusal is staged; records every signal tried.
// PIDs <= 0 never reach the system: kill(-1, ...) as root would end everything.
class RecordingSignals final : public SignalSending {
  public:
    std::optional<int> openError;  // returned instead of opening a pidfd
    std::map<int, int> refusals;   // signal -> error number returned instead of sending
    // SIGKILL lands this late, as for a large process whose memory takes time to free.
    std::optional<std::chrono::milliseconds> killDelay;
    std::vector<int> tried;
    std::vector<std::jthread> late;

    PidfdOpening openPidfd(int32_t pid) override {
        return openError ? PidfdOpening{UniqueFd(), *openError} : real_.openPidfd(pid);
    }
    int signalPidfd(int pidfd, int signal) override {
        tried.push_back(signal);
        if (signal == SIGKILL && killDelay) {
            late.emplace_back([fd = UniqueFd(dup(pidfd)), delay = *killDelay] {
                std::this_thread::sleep_for(delay);
                PidfdSignals().signalPidfd(fd.get(), SIGKILL);
            });
            return 0;
        }
        return refusals.contains(signal) ? refusals[signal] : real_.signalPidfd(pidfd, signal);
    }
    int signalPid(int32_t pid, int signal) override {
        // kill(2) cannot tell a recycled PID: only for kernels without pidfds.
        EXPECT_EQ(openError, ENOSYS) << "kill(2) used while pidfds work";
        tried.push_back(signal);
        if (refusals.contains(signal)) {
            return refusals[signal];
        }
        return pid > 0 ? real_.signalPid(pid, signal) : EPERM;
    }

  private:
    PidfdSignals real_;
};

std::shared_ptr<RecordingSignals> recorder(bool pidfds) {
    auto signals = std::make_shared<RecordingSignals>();
    signals->openError = pidfds ? std::nullopt : std::optional(ENOSYS);
    return signals;
}

std::stop_token stopped() {
    std::stop_source source;
    source.request_stop();
    return source.get_token();
}

std::unique_ptr<ListenerProcess> start(bool ignoreTerm = false) {
    ListenerOptions options;
    options.listenerArgs = {"--v4", "1"};
    if (ignoreTerm) {
        options.listenerArgs.push_back("--ignore-term");
    }
    return ListenerProcess::start(options);
}

KillOutcome killChild(const std::shared_ptr<RecordingSignals>& signals,
                      const ListenerProcess& child, KillMode mode, std::stop_token stop = {}) {
    return KillEngine(currentStartTime, signals)
        .kill(child.pid(), *currentStartTime(child.pid()), mode, stop);
}

// Each kill returns only once the process has exited (so its ports are
// free), even when SIGKILL takes a while to land, unless it was stopped;
// kill(2) has nothing to wait on.
TEST(KillEngineTest, EachChildEndsOnTheSignalsItNeeds) {
    struct Case {
        const char* name;
        bool pidfds;
        bool ignoresTerm;
        KillMode mode;
        // Stopped 100 ms into the grace period; the child exits by itself at
        // 500 ms, so only a wait that the stop cut short ends it by SIGKILL.
        bool stopSoon;
        std::vector<int> tried;
        int endedBy;
    };
    for (const Case& c : std::vector<Case>{
             {"TERM honoured", true, false, KillMode::graceful, false, {SIGTERM}, SIGTERM},
             {"TERM ignored", true, true, KillMode::graceful, false, {SIGTERM, SIGKILL}, SIGKILL},
             {"stopped", true, true, KillMode::graceful, true, {SIGTERM, SIGKILL}, SIGKILL},
             {"stop, kill(2)", false, true, KillMode::graceful, true, {SIGTERM, SIGKILL}, SIGKILL},
             {"force", true, true, KillMode::force, false, {SIGKILL}, SIGKILL},
         }) {
        SCOPED_TRACE(c.name);
        auto child = start(c.ignoresTerm);
        auto signals = recorder(c.pidfds);
        signals->killDelay = std::chrono::milliseconds(200);
        std::stop_source stop;
        std::jthread stopper([&] {
            if (c.stopSoon) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                stop.request_stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
                child->closeInput();
            }
        });
        EXPECT_EQ(killChild(signals, *child, c.mode, stop.get_token()), KillOutcome::killed());
        EXPECT_TRUE(!c.pidfds || c.stopSoon || !child->running()) << "its ports may still be held";
        EXPECT_THAT(signals->tried, ElementsAreArray(c.tried));
        EXPECT_EQ(endingSignal(child->pid()), c.endedBy);
    }
}

// A worker its master takes down can be reaped between the engine's look at
// its pidfd and its read of /proc: gone, not changed since the scan.
TEST(KillEngineTest, ATargetReapedDuringItsCheckHasEnded) {
    auto first = start();
    auto worker = start();
    const ProcessStartTime workerStart = *currentStartTime(worker->pid());
    auto source = [&](int32_t pid) -> std::optional<ProcessStartTime> {
        if (pid == worker->pid()) {
            worker->stop();
            return std::nullopt;
        }
        return currentStartTime(pid);
    };
    const std::vector<KillTarget> targets{{first->pid(), *currentStartTime(first->pid())},
                                          {worker->pid(), workerStart}};
    EXPECT_THAT(KillEngine(source, recorder(true)).killAll(targets, KillMode::force),
                ElementsAre(KillOutcome::killed(), KillOutcome::killed()));
}

TEST(KillEngineTest, AnotherStartTimeOrANonPositivePidIsStaleAndNothingIsSent) {
    auto child = start();
    const ProcessStartTime live = *currentStartTime(child->pid());
    const std::vector<std::pair<int32_t, ProcessStartTime>> targets{
        {child->pid(), {live.seconds, live.microseconds + 1}},
        {0, {}},
        {-1, {}},
    };
    // Vouches for PIDs <= 0, so only the engine's own refusal keeps them from kill(2).
    auto source = [](int32_t pid) {
        return pid > 0 ? currentStartTime(pid) : std::optional(ProcessStartTime{});
    };
    for (bool pidfds : {true, false}) {
        auto signals = recorder(pidfds);
        KillEngine engine(source, signals);
        for (const auto& [pid, startTime] : targets) {
            for (KillMode mode : {KillMode::force, KillMode::graceful}) {
                EXPECT_EQ(engine.kill(pid, startTime, mode, stopped()), KillOutcome::stale())
                    << pid << (pidfds ? " pidfd" : " kill(2)");
            }
        }
        EXPECT_THAT(signals->tried, IsEmpty());
    }
    EXPECT_TRUE(child->running());
}

TEST(KillEngineTest, RefusalsAreReportedOnBothPaths) {
    struct Case {
        int refused;
        int error;
        KillMode mode;
        KillOutcome expected;
        std::vector<int> tried;
    };
    const KillOutcome eperm = KillOutcome::failed(std::strerror(EPERM));
    const std::vector<Case> cases{
        {SIGTERM, EPERM, KillMode::graceful, eperm, {SIGTERM}},  // and no SIGKILL after it
        {SIGKILL, EPERM, KillMode::graceful, eperm, {SIGTERM, SIGKILL}},
        {SIGTERM, ESRCH, KillMode::graceful, KillOutcome::stale(), {SIGTERM}},
        // Gone during the grace period after all.
        {SIGKILL, ESRCH, KillMode::graceful, KillOutcome::killed(), {SIGTERM, SIGKILL}},
    };
    auto child = start(/*ignoreTerm=*/true);
    for (bool pidfds : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message()
                         << (pidfds ? "pidfd " : "kill(2) ") << strsignal(c.refused) << " "
                         << std::strerror(c.error));
            auto signals = recorder(pidfds);
            signals->refusals[c.refused] = c.error;
            EXPECT_EQ(killChild(signals, *child, c.mode, stopped()), c.expected);
            EXPECT_THAT(signals->tried, ElementsAreArray(c.tried));
        }
    }
    EXPECT_TRUE(child->running());

    auto signals = recorder(true);
    signals->openError = EMFILE;
    EXPECT_EQ(killChild(signals, *child, KillMode::force),
              KillOutcome::failed(std::strerror(EMFILE)));
    EXPECT_THAT(signals->tried, IsEmpty());
}

}  // namespace
}  // namespace halvo
