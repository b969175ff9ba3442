// Forces PID reuse and asks the kill engine to kill the process that is gone.
// Run as PID 1 of a new PID namespace with its own /proc, e.g.
//   unshare -pf --mount-proc halvo_pid_reuse
// so that writing /proc/sys/kernel/ns_last_pid decides the next PID.
//
// Prints one line per case: NAME OUTCOME b-alive|b-gone, where B is the
// process that received the reused PID and must never be touched. Exits 77
// when the environment refuses what the test needs.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "kill/kill_engine.h"
#include "scan/process_resolver.h"

namespace {

using namespace halvo;

constexpr int kCannot = 77;

[[noreturn]] void cannot(const std::string& why) {
    std::printf("cannot: %s\n", why.c_str());
    std::exit(kCannot);
}

// kill(2) only, as on a kernel without pidfds.
class KillOnlySignals final : public SignalSending {
  public:
    PidfdOpening openPidfd(int32_t) override { return {UniqueFd(), ENOSYS}; }
    int signalPidfd(int, int) override { return EBADF; }
    int signalPid(int32_t pid, int signal) override { return real_.signalPid(pid, signal); }

  private:
    PidfdSignals real_;
};

pid_t startChild() {
    pid_t pid = fork();
    if (pid < 0) {
        cannot(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        for (;;) {
            pause();  // SIGTERM and SIGKILL end it
        }
    }
    return pid;
}

// Starts a child on `pid`, which must be free, by making it the next PID.
pid_t startChildOn(pid_t pid) {
    // Start times count in clock ticks; B must not share A's tick.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    {
        std::ofstream lastPid("/proc/sys/kernel/ns_last_pid");
        lastPid << pid - 1;
        lastPid.flush();
        if (!lastPid) {
            cannot("cannot write /proc/sys/kernel/ns_last_pid");
        }
    }
    pid_t b = startChild();
    if (b != pid) {
        kill(b, SIGKILL);
        waitpid(b, nullptr, 0);
        cannot("the new child got PID " + std::to_string(b) + ", not " + std::to_string(pid));
    }
    return b;
}

// Whether `pid` exits within `ms`; it is not reaped. A signal sent just
// before takes effect only when the process is next scheduled.
bool exitsWithin(pid_t pid, int ms) {
    const PidfdOpening opening = PidfdSignals().openPidfd(pid);
    pollfd entry{opening.pidfd.get(), POLLIN, 0};
    return !opening.pidfd.valid() || poll(&entry, 1, ms) != 0;
}

void endChild(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

void report(const char* label, const KillOutcome& outcome, pid_t b) {
    static const char* const kinds[] = {"killed", "stale", "failed"};
    std::printf("%s %s %s\n", label, kinds[static_cast<int>(outcome.kind)],
                exitsWithin(b, 200) ? "b-gone" : "b-alive");
    std::fflush(stdout);
}

// A is gone and B holds its PID before the kill begins.
void reusedBeforeTheKill(KillEngine& pidfds, KillEngine& killOnly) {
    const pid_t a = startChild();
    const ProcessStartTime aStart = currentStartTime(a).value();
    endChild(a);
    const pid_t b = startChildOn(a);
    report("force", pidfds.kill(a, aStart, KillMode::force), b);
    report("kill2-safe", killOnly.kill(a, aStart, KillMode::graceful), b);
    endChild(b);
}

// A ends on SIGTERM and B takes its PID during the grace second.
void reusedDuringTheGrace(const char* label, KillEngine& engine) {
    const pid_t a = startChild();
    const ProcessStartTime aStart = currentStartTime(a).value();
    KillOutcome outcome;
    std::thread killing([&] { outcome = engine.kill(a, aStart, KillMode::graceful); });
    if (!exitsWithin(a, 5000)) {
        std::printf("%s a-survived\n", label);
        std::exit(1);
    }
    waitpid(a, nullptr, 0);
    const pid_t b = startChildOn(a);
    killing.join();
    report(label, outcome, b);
    endChild(b);
}

}  // namespace

int main() {
    if (getpid() != 1) {
        cannot("not the first process of a new PID namespace");
    }
    KillEngine pidfds;
    KillEngine killOnly(currentStartTime, std::make_shared<KillOnlySignals>());
    std::printf("pid-reuse\n");
    reusedBeforeTheKill(pidfds, killOnly);
    reusedDuringTheGrace("grace-safe", pidfds);
    reusedDuringTheGrace("kill2-grace-safe", killOnly);
    return 0;
}
