// What the process store costs the main thread with 10,000 rows: deriving the
// filtered list (every redraw of the panel does it) and one reload cycle
// (thread-pool hop, hand-over of the rows, comparison, publication, re-clamp).
// A plain copy of the rows runs alongside as the yardstick.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "state/process_store.h"

namespace {

using halvo::PortProcess;

constexpr int kRows = 10'000;

std::vector<PortProcess> makeRows(int64_t startSeconds) {
    static const char* const kNames[] = {"node", "vite", "python3", "ruby", "java", "postgres"};
    std::vector<PortProcess> rows;
    rows.reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
        const std::string name = kNames[i % 6];
        const std::string project = "/home/dev/projects/app-" + std::to_string(i / 2);
        PortProcess p;
        p.port = 1024 + i;
        p.pid = 20'000 + i / 2;  // two ports per process
        p.startTime = {startSeconds + i / 2, 125'000};
        p.executableName = name;
        p.executablePath = "/usr/local/bin/" + name;
        p.arguments = {name, project + "/node_modules/.bin/server", "--port",
                       std::to_string(p.port)};
        p.workingDirectory = project;
        p.projectHint = "app-" + std::to_string(i / 2);
        if (name == "vite") {
            p.frameworkBadge = halvo::FrameworkBadge::vite;
        }
        rows.push_back(std::move(p));
    }
    return rows;
}

// Hands out prepared scans in turn, so every reload publishes a new list.
class PreparedScanner final : public halvo::PortScanning {
  public:
    explicit PreparedScanner(std::vector<std::vector<PortProcess>> scans)
        : scans_(std::move(scans)) {}
    std::vector<PortProcess> scan() override { return scans_[next_++ % scans_.size()]; }
    std::vector<halvo::LsofRow> discoverRows() override { return {}; }
    std::vector<PortProcess> processes(const std::vector<halvo::LsofRow>&) override { return {}; }

  private:
    const std::vector<std::vector<PortProcess>> scans_;
    std::atomic<size_t> next_ = 0;
};

class NoKills final : public halvo::ProcessKilling {
  public:
    halvo::KillOutcome kill(int32_t, const halvo::ProcessStartTime&, halvo::KillMode,
                            std::stop_token) override {
        return halvo::KillOutcome::failed("benchmark");
    }
};

std::unique_ptr<halvo::ProcessStore> loadedStore(std::vector<std::vector<PortProcess>> scans) {
    auto store = std::make_unique<halvo::ProcessStore>(
        std::make_shared<PreparedScanner>(std::move(scans)), std::make_shared<NoKills>());
    QCoro::waitFor(store->reload());
    return store;
}

void BM_CopyRows(benchmark::State& state) {
    const std::vector<PortProcess> rows = makeRows(1000);
    for (auto _ : state) {
        std::vector<PortProcess> copy = rows;
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_CopyRows)->Unit(benchmark::kMicrosecond);

void filtered(benchmark::State& state, const char* query) {
    auto store = loadedStore({makeRows(1000)});
    store->setQuery(QString::fromUtf8(query));
    size_t shown = 0;
    for (auto _ : state) {
        shown = store->filteredProcesses().size();
        benchmark::DoNotOptimize(shown);
    }
    state.counters["shown"] = static_cast<double>(shown);
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK_CAPTURE(filtered, empty_query, "")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(filtered, text_sixth, "vite")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(filtered, text_one, "app-4242 ")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(filtered, text_none, "nothing like it")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(filtered, port_range, "3000-3100")->Unit(benchmark::kMicrosecond);

void selected(benchmark::State& state, const char* query) {
    auto store = loadedStore({makeRows(1000)});
    store->setQuery(QString::fromUtf8(query));
    store->setSelectedIndex(kRows / 20);
    for (auto _ : state) {
        benchmark::DoNotOptimize(store->selectedProcess());
    }
}
BENCHMARK_CAPTURE(selected, empty_query, "")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(selected, text_sixth, "vite")->Unit(benchmark::kMicrosecond);

// Each cycle publishes a list that differs from the one shown.
void BM_ReloadAndPublish(benchmark::State& state) {
    auto store = loadedStore({makeRows(1000), makeRows(2000)});
    int published = 0;
    QObject::connect(store.get(), &halvo::ProcessStore::processesChanged, [&] { ++published; });
    for (auto _ : state) {
        QCoro::waitFor(store->reload());
    }
    state.counters["published"] = published;
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_ReloadAndPublish)->Unit(benchmark::kMicrosecond);

// The same scan again: compared, not published.
void BM_ReloadUnchanged(benchmark::State& state) {
    auto store = loadedStore({makeRows(1000)});
    for (auto _ : state) {
        QCoro::waitFor(store->reload());
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_ReloadUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
