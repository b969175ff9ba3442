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

#include "busy_rows.h"
#include "state/process_store.h"
#include "support/fixtures.h"

namespace {

using halvo::PortProcess;

constexpr int kRows = 10'000;

std::vector<PortProcess> makeRows(int64_t startSeconds) {
    return halvo::bench::busyRows(kRows, startSeconds);
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

std::unique_ptr<halvo::ProcessStore> loadedStore(std::vector<std::vector<PortProcess>> scans) {
    auto store =
        std::make_unique<halvo::ProcessStore>(std::make_shared<PreparedScanner>(std::move(scans)),
                                              std::make_shared<halvo::testing::RecordingEngine>());
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
