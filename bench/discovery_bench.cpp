// Native discovery: the in-process scan and its pieces, the project roots a
// scan adds, and whole processes of halvo-discover, `ss -ltnp` and `lsof -nP
// -iTCP -sTCP:LISTEN` timed in the same run, with the ratios printed at the end.
//
//   discovery_bench [--load] [benchmark options]
//
// --load runs everything on a loaded machine: halvo-bench-load is started
// first and taken down at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scan/listening_sockets.h"
#include "scan/native_port_discovery.h"
#include "scan/proc_process_table.h"
#include "scan/project_root.h"
#include "scan/supervisor_lookup.h"
#include "scan/system_scanner.h"

extern char** environ;

namespace {

void BM_NativeRows(benchmark::State& state) {
    halvo::NativePortDiscovery discovery;
    size_t rows = 0;
    for (auto _ : state) {
        rows = discovery.rows().size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_NativeRows)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ListeningSocketsNetlink(benchmark::State& state) {
    size_t sockets = 0;
    for (auto _ : state) {
        sockets = halvo::listeningSocketsFromNetlink().value_or(halvo::ListeningSockets{}).size();
    }
    state.counters["sockets"] = static_cast<double>(sockets);
}
BENCHMARK(BM_ListeningSocketsNetlink)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ListeningSocketsProcNet(benchmark::State& state) {
    size_t sockets = 0;
    for (auto _ : state) {
        sockets = halvo::listeningSocketsFromProcNet().value_or(halvo::ListeningSockets{}).size();
    }
    state.counters["sockets"] = static_cast<double>(sockets);
}
BENCHMARK(BM_ListeningSocketsProcNet)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The part that grows with the machine: every descriptor of every process.
void BM_ProcessTableWalk(benchmark::State& state) {
    halvo::ProcFsProcessTable table;
    size_t processes = 0;
    size_t sockets = 0;
    for (auto _ : state) {
        const std::vector<int32_t> pids = table.processIds().value_or(std::vector<int32_t>{});
        processes = pids.size();
        sockets = 0;
        for (int32_t pid : pids) {
            sockets += table.socketInodes(pid).value_or(std::vector<uint64_t>{}).size();
        }
    }
    state.counters["processes"] = static_cast<double>(processes);
    state.counters["sockets"] = static_cast<double>(sockets);
}
BENCHMARK(BM_ProcessTableWalk)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Project roots and declared badges for the working directory of every
// process we can read, as if each held a port: an upper bound of what a scan
// adds. One resolver per iteration, as one per scan.
void BM_ProjectRoots(benchmark::State& state) {
    std::vector<std::string> folders;
    for (int32_t pid : halvo::ProcFsProcessTable().processIds().value_or(std::vector<int32_t>{})) {
        std::error_code error;
        auto cwd = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd", error);
        if (!error) {
            folders.push_back(cwd.string());
        }
    }
    const std::string home = halvo::homeFolder();
    size_t roots = 0;
    for (auto _ : state) {
        halvo::ProjectRootResolver resolver(home);
        roots = 0;
        for (const std::string& folder : folders) {
            if (const auto root = resolver.projectRoot(folder)) {
                ++roots;
                benchmark::DoNotOptimize(resolver.declaredBadge(*root));
            }
        }
    }
    state.counters["rows"] = static_cast<double>(folders.size());
    state.counters["roots"] = static_cast<double>(roots);
}
BENCHMARK(BM_ProjectRoots)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A whole scan of every process of the user's (the loaded fixture's 200
// listeners among them), with and without the look at each listener's cgroup
// and environment for the unit or pm2 app that runs it.
void BM_Scan(benchmark::State& state, halvo::SupervisorLookup lookup) {
    const auto scanner =
        halvo::makeSystemScanner({.developmentOnly = false, .supervisors = lookup});
    size_t rows = 0;
    for (auto _ : state) {
        rows = scanner->scanAll().processes.size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
// The lookup alone for every process of the machine, as if each held a port:
// an upper bound of what a scan adds.
void BM_SupervisorLookup(benchmark::State& state) {
    const auto pids = halvo::ProcFsProcessTable().processIds().value_or(std::vector<int32_t>{});
    size_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (int32_t pid : pids) {
            found += halvo::readSupervisor(pid).has_value() ? 1 : 0;
        }
    }
    state.counters["processes"] = static_cast<double>(pids.size());
    state.counters["supervised"] = static_cast<double>(found);
}
BENCHMARK(BM_SupervisorLookup)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The CPU time of every thread of the scan, as a busy machine inflates its real time.
BENCHMARK_CAPTURE(BM_Scan, supervisors, halvo::SupervisorLookup::on)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Scan, noSupervisors, halvo::SupervisorLookup::off)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// Runs a command to its end with its output thrown away; false when it could not start.
bool runQuietly(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return true;
}

const std::map<std::string, std::vector<std::string>>& wholeProcesses() {
    static const std::map<std::string, std::vector<std::string>> commands = {
        {"halvo-discover", {HALVO_DISCOVER}},
        {"ss", {"ss", "-ltnp"}},
        {"lsof", {"lsof", "-nP", "-iTCP", "-sTCP:LISTEN"}},
    };
    return commands;
}

void BM_WholeProcess(benchmark::State& state, const std::string& tool) {
    const std::vector<std::string>& command = wholeProcesses().at(tool);
    for (auto _ : state) {
        if (!runQuietly(command)) {
            state.SkipWithError(("cannot run " + command[0]).c_str());
            break;
        }
    }
}

// Prints as usual, and at the end halvo's times over those of ss and lsof.
class RatioReporter final : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With repetitions, their median stands for the benchmark.
            if (!run.error_occurred &&
                (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")) {
                // Every benchmark here reports microseconds.
                micros_[run.run_name.str()] = run.GetAdjustedRealTime();
                cpuMicros_[run.run_name.str()] = run.GetAdjustedCPUTime();
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        // A shared machine's load shows in the real time; the CPU time is the lookup's own.
        for (const auto* times : {&micros_, &cpuMicros_}) {
            const std::optional<double> with = find("BM_Scan/supervisors", *times);
            const std::optional<double> without = find("BM_Scan/noSupervisors", *times);
            if (with && without) {
                std::printf(
                    "scan with / without the supervisor lookup, %s time %6.3f  (%.0f us "
                    "/ %.0f us)\n",
                    times == &micros_ ? "real" : "CPU", *with / *without, *with, *without);
            }
        }
        const std::optional<double> halvo = find("Process/halvo-discover");
        const std::optional<double> inProcess = find("BM_NativeRows");
        for (const char* tool : {"ss", "lsof"}) {
            const std::optional<double> other = find(std::string("Process/") + tool);
            if (!other) {
                continue;
            }
            if (halvo) {
                std::printf("ratio halvo-discover / %-4s %6.3f  (%.0f us / %.0f us)\n", tool,
                            *halvo / *other, *halvo, *other);
            }
            if (inProcess) {
                std::printf("ratio rows() in-process / %-4s %6.3f\n", tool, *inProcess / *other);
            }
            if (const std::optional<double> roots = find("BM_ProjectRoots")) {
                std::printf("ratio project roots / %-4s %6.3f\n", tool, *roots / *other);
            }
        }
    }

  private:
    std::optional<double> find(const std::string& name) const { return find(name, micros_); }
    static std::optional<double> find(const std::string& name,
                                      const std::map<std::string, double>& times) {
        for (const auto& [key, value] : times) {
            if (key.rfind(name, 0) == 0) {
                return value;
            }
        }
        return std::nullopt;
    }
    std::map<std::string, double> micros_;
    std::map<std::string, double> cpuMicros_;
};

// The load fixture, running until destroyed.
class Load {
  public:
    static std::unique_ptr<Load> start() {
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
            return nullptr;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        char* argv[] = {const_cast<char*>(HALVO_BENCH_LOAD), nullptr};
        auto load = std::unique_ptr<Load>(new Load());
        int rc = posix_spawn(&load->pid_, HALVO_BENCH_LOAD, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        load->stdin_ = in[1];
        if (rc != 0) {
            load->pid_ = -1;
            close(out[0]);
            return nullptr;
        }
        std::string line;
        char c = 0;
        while (read(out[0], &c, 1) == 1 && c != '\n') {
            line += c;
        }
        close(out[0]);
        if (line.rfind("ready", 0) != 0) {
            return nullptr;
        }
        std::fprintf(stderr, "load: %s\n", line.c_str());
        return load;
    }

    ~Load() {
        if (stdin_ >= 0) {
            close(stdin_);  // the fixture ends its children and exits
        }
        if (pid_ > 0) {
            waitpid(pid_, nullptr, 0);
        }
    }

  private:
    Load() = default;
    pid_t pid_ = -1;
    int stdin_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    bool loaded = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--load") == 0) {
            loaded = true;
        } else {
            args.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    for (const auto& [tool, command] : wholeProcesses()) {
        benchmark::RegisterBenchmark(("Process/" + tool).c_str(), BM_WholeProcess, tool)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
    }

    std::unique_ptr<Load> load;
    if (loaded) {
        load = Load::start();
        if (!load) {
            std::fprintf(stderr, "cannot start %s\n", HALVO_BENCH_LOAD);
            return 1;
        }
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
