// Real listeners for benchmarks that scan the system: copies of the test
// listener named node, in a project folder, as a developer's servers are.
#pragma once

#include <memory>
#include <vector>

#include "support/test_process.h"

namespace halvo::bench {

// `count` servers under `home`; they end when the values go.
inline std::vector<std::unique_ptr<testing::ListenerProcess>> standInServers(
    const testing::TempDir& home, int count) {
    testing::ListenerOptions options;
    options.executable = testing::listenerCopy(home, "node");
    options.argv0 = "node";
    options.workingDirectory = home.makeDir("dev/shop");
    options.listenerArgs = {"--v4", "1"};
    options.extraArgs = {"server.js"};
    std::vector<std::unique_ptr<testing::ListenerProcess>> servers;
    for (int i = 0; i < count; ++i) {
        servers.push_back(testing::ListenerProcess::start(options));
    }
    return servers;
}

}  // namespace halvo::bench
