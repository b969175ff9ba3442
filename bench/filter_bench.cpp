// How long the search filter takes over a large list: the panel runs it on
// every key press, so it must stay well below a frame.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "kill/search_filter.h"

namespace halvo {
namespace {

constexpr int kRows = 10000;

// Rows shaped like a busy developer machine: long paths, several arguments,
// working directories, some hints, badges and Docker services.
std::vector<PortProcess> makeRows() {
    static const char* kProjects[] = {"shop", "billing-api", "admin", "docs-site"};
    std::vector<PortProcess> rows;
    rows.reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
        // One project in fifty has a non-ASCII name, which takes the slower path.
        const std::string name = i % 50 == 0 ? "Café-Web" : kProjects[i % 4];
        const std::string project = name + std::to_string(i);
        PortProcess p;
        p.port = 1024 + (i * 7) % 60000;
        p.pid = 1000 + i;
        p.startTime = {1700000000 + i, i % 1000000};
        switch (i % 4) {
            case 0:
                p.executablePath = "/home/ana/.nvm/versions/node/v20.11.0/bin/node";
                p.arguments = {"node", "/home/ana/src/" + project + "/node_modules/.bin/next",
                               "dev", "--port", std::to_string(p.port)};
                p.frameworkBadge = FrameworkBadge::next;
                break;
            case 1:
                p.executablePath = "/usr/bin/python3.11";
                p.arguments = {"python3",
                               "-m",
                               "uvicorn",
                               "app.main:app",
                               "--reload",
                               "--port",
                               std::to_string(p.port)};
                p.frameworkBadge = FrameworkBadge::python;
                break;
            case 2:
                p.executablePath = "/home/ana/.rbenv/versions/3.3.0/bin/ruby";
                p.arguments = {"ruby", "bin/rails", "server", "-p", std::to_string(p.port)};
                p.frameworkBadge = FrameworkBadge::rails;
                p.projectHint = project;
                break;
            default:
                p.executablePath = "/usr/bin/docker-proxy";
                p.arguments = {"/usr/bin/docker-proxy", "-proto", "tcp", "-host-port",
                               std::to_string(p.port)};
                p.frameworkBadge = FrameworkBadge::docker;
                p.dockerContext = DockerContext{project + "-db-1", "db"};
                break;
        }
        p.executableName = p.executablePath.substr(p.executablePath.rfind('/') + 1);
        p.workingDirectory = "/home/ana/src/" + project;
        rows.push_back(std::move(p));
    }
    return rows;
}

// Once per scan: the texts the panel keeps with the rows.
void BM_SearchTexts(benchmark::State& state) {
    const std::vector<PortProcess> rows = makeRows();
    for (auto _ : state) {
        std::vector<std::string> texts = canonicalSearchTexts(rows);
        benchmark::DoNotOptimize(texts.data());
    }
}
BENCHMARK(BM_SearchTexts)->Unit(benchmark::kMicrosecond);

// What a key press costs, the texts being kept with the rows.
void runFilter(benchmark::State& state, const char* query) {
    const std::vector<PortProcess> rows = makeRows();
    const std::vector<std::string> texts = canonicalSearchTexts(rows);
    size_t shown = 0;
    for (auto _ : state) {
        std::vector<size_t> result = matchingRows(rows, texts, query);
        shown = result.size();
        benchmark::DoNotOptimize(result.data());
    }
    state.counters["rows"] = static_cast<double>(rows.size());
    state.counters["shown"] = static_cast<double>(shown);
}

// halvo-cli's whole filter, texts and copied rows included; every row shown.
void BM_FilterProcesses(benchmark::State& state) {
    const std::vector<PortProcess> rows = makeRows();
    for (auto _ : state) {
        std::vector<PortProcess> result = filterProcesses(rows, "");
        benchmark::DoNotOptimize(result.data());
    }
}
BENCHMARK(BM_FilterProcesses)->Unit(benchmark::kMicrosecond);

BENCHMARK_CAPTURE(runFilter, empty, "")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(runFilter, port, "3012")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(runFilter, list, "3000, 5173;8080 9229")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(runFilter, range, "5000-6000")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(runFilter, whole_range, "1..65535")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(runFilter, text, "billing-api12")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(runFilter, text_common, "node")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(runFilter, text_non_ascii, "CAFÉ-WEB")->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace halvo

BENCHMARK_MAIN();
