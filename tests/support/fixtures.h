// Rows, scanners, engines and stoppers that tests (and benchmarks) share: one
// builder per kind of row, and fakes that answer at once and record what
// they were asked. The fakes that block until a test answers are in
// scripted_fakes.h.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kill/container_stopper.h"
#include "kill/process_killing.h"
#include "scan/port_records.h"
#include "scan/port_scanner.h"

namespace halvo::testing {

// A node server of the user's: PID, port, short name, started at {1000, pid}.
inline PortProcess row(int32_t pid, int64_t port, const std::string& name = "node") {
    PortProcess p;
    p.pid = pid;
    p.port = port;
    p.startTime = {1000, pid};
    p.executableName = name;
    p.executablePath = "/usr/bin/" + name;
    p.arguments = {name, "server.js"};
    p.workingDirectory = "/home/ana/shop";
    return p;
}

// A port the container `name` publishes and no process of the user holds;
// `id` is its full ID (a valid one by default).
inline PortProcess containerRow(int64_t port, const std::string& name,
                                std::optional<std::string> id = std::string(64, 'a')) {
    PortProcess p;
    p.port = port;
    p.executableName = "docker";
    p.arguments = {"postgres"};
    p.dockerContext = DockerContext{name, std::nullopt, std::move(id)};
    return p;
}

// `count` node servers on consecutive ports from 3000, PIDs from 100.
inline std::vector<PortProcess> rows(int count) {
    std::vector<PortProcess> r;
    for (int i = 0; i < count; ++i) {
        r.push_back(row(100 + i, 3000 + i));
    }
    return r;
}

// Answers every scan with the same rows and unlisted listeners.
class FixedScanner final : public PortScanning {
  public:
    explicit FixedScanner(std::vector<PortProcess> rows = {}) : rows(std::move(rows)) {}
    std::vector<PortProcess> scan() override { return rows; }
    PortScan scanAll() override { return {rows, foreign, notDevelopment}; }
    std::vector<LsofRow> discoverRows() override { return {}; }
    std::vector<PortProcess> processes(const std::vector<LsofRow>&) override { return rows; }

    std::vector<PortProcess> rows;
    std::vector<ForeignListener> foreign;
    std::vector<LsofRow> notDevelopment;
};

// Records each target as "PID@SECONDS.MICROS" ("!" after it for force) and
// answers from `outcomes`, else killed.
class RecordingEngine final : public ProcessKilling {
  public:
    KillOutcome kill(int32_t pid, const ProcessStartTime& startTime, KillMode mode,
                     std::stop_token) override {
        calls += std::to_string(pid) + "@" + std::to_string(startTime.seconds) + "." +
                 std::to_string(startTime.microseconds) + (mode == KillMode::force ? "! " : " ");
        const auto it = outcomes.find(pid);
        return it == outcomes.end() ? KillOutcome::killed() : it->second;
    }

    std::string calls;
    std::map<int32_t, KillOutcome> outcomes;
};

// Records each container name it stops ("NAME ") and fails for "broken".
class RecordingStopper final : public ContainerStopping {
  public:
    KillOutcome stop(const DockerContext& container) override {
        const std::string name = container.containerName.value_or("");
        calls += name + " ";
        return name == "broken" ? KillOutcome::failed("Could not stop container broken: gone")
                                : KillOutcome::killed();
    }

    std::string calls;
};

}  // namespace halvo::testing
