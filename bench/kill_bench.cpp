// How long a kill takes, from the call to its return. The graceful kill of a
// process that honours SIGTERM should return as soon as the process is gone,
// far inside the grace second; the fixed one-second sleep is the anchor that
// shows what waiting out the grace period would cost.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "kill/kill_engine.h"
#include "scan/process_resolver.h"

namespace {

using namespace halvo;

// An idle child, like a server waiting for requests, with the default
// SIGTERM disposition. Returns once the child is running.
pid_t startIdleChild() {
    int ready[2];
    if (pipe(ready) != 0) {
        std::abort();
    }
    const pid_t pid = fork();
    if (pid < 0) {
        std::abort();
    }
    if (pid == 0) {
        close(ready[0]);
        const char byte = 1;
        [[maybe_unused]] ssize_t written = write(ready[1], &byte, 1);
        for (;;) {
            pause();
        }
    }
    close(ready[1]);
    char byte = 0;
    [[maybe_unused]] ssize_t got = read(ready[0], &byte, 1);
    close(ready[0]);
    return pid;
}

void killWith(benchmark::State& state, KillMode mode) {
    KillEngine engine;
    int64_t notKilled = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const pid_t pid = startIdleChild();
        const ProcessStartTime startTime = currentStartTime(pid).value_or(ProcessStartTime{});
        state.ResumeTiming();

        const KillOutcome outcome = engine.kill(pid, startTime, mode);

        state.PauseTiming();
        if (outcome.kind != KillOutcome::Kind::killed) {
            ++notKilled;
            ::kill(pid, SIGKILL);
        }
        waitpid(pid, nullptr, 0);
        state.ResumeTiming();
    }
    state.counters["not_killed"] = static_cast<double>(notKilled);
}

void BM_GracefulKill(benchmark::State& state) {
    killWith(state, KillMode::graceful);
}
BENCHMARK(BM_GracefulKill)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ForceKill(benchmark::State& state) {
    killWith(state, KillMode::force);
}
BENCHMARK(BM_ForceKill)->UseRealTime()->Unit(benchmark::kMillisecond);

// The floor for a graceful kill: SIGTERM and a wait for the exit, no checks.
void BM_BareTermAndWait(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const pid_t pid = startIdleChild();
        state.ResumeTiming();

        PidfdOpening opening = PidfdSignals().openPidfd(pid);
        ::kill(pid, SIGTERM);
        pollfd entry{opening.pidfd.get(), POLLIN, 0};
        poll(&entry, 1, -1);

        state.PauseTiming();
        waitpid(pid, nullptr, 0);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BareTermAndWait)->UseRealTime()->Unit(benchmark::kMillisecond);

// The anchor: a graceful kill that waited out the whole grace period.
void BM_OneSecondSleep(benchmark::State& state) {
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}
BENCHMARK(BM_OneSecondSleep)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
