// Rows shaped like a busy developer machine, for benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scan/port_records.h"

namespace halvo::bench {

// `count` rows of six kinds of server, two ports per process, long paths and arguments.
inline std::vector<PortProcess> busyRows(int count, int64_t startSeconds = 1000) {
    static const char* const kNames[] = {"node", "vite", "python3", "ruby", "java", "postgres"};
    std::vector<PortProcess> rows;
    rows.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::string name = kNames[i % 6];
        const std::string project = "/home/dev/projects/app-" + std::to_string(i / 2);
        PortProcess p;
        p.port = 1024 + i;
        p.pid = 20'000 + i / 2;
        p.startTime = {startSeconds + i / 2, 125'000};
        p.executableName = name;
        p.executablePath = "/usr/local/bin/" + name;
        p.arguments = {name, project + "/node_modules/.bin/server", "--port",
                       std::to_string(p.port)};
        p.workingDirectory = project;
        p.projectHint = "app-" + std::to_string(i / 2);
        if (name == "vite") {
            p.frameworkBadge = FrameworkBadge::vite;
        }
        rows.push_back(std::move(p));
    }
    return rows;
}

}  // namespace halvo::bench
