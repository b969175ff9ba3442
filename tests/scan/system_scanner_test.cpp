// The real scanner while stand-in servers come and go under it.
#include "scan/system_scanner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/test_process.h"

namespace halvo {
namespace {

using testing::ListenerOptions;
using testing::ListenerProcess;
using testing::TempDir;

TEST(SystemScannerTest, ProcessesVanishingMidScanAreHarmless) {
    TempDir root;
    ListenerOptions options;
    options.executable = testing::listenerCopy(root, "node");
    options.argv0 = "node";
    options.listenerArgs = {"--v4", "2", "--dual", "1"};
    options.workingDirectory = root.path();

    std::atomic<bool> done{false};
    std::thread churn([&] {
        while (!done) {
            auto process = ListenerProcess::start(options);
            process->stop();
        }
    });
    auto steady = ListenerProcess::start(options);
    auto scanner = makeSystemScanner();
    for (int i = 0; i < 30; ++i) {
        size_t steadyRows = 0;
        for (const PortProcess& p : scanner->scan()) {
            EXPECT_GT(p.pid, 0);
            EXPECT_FALSE(p.arguments.empty());
            EXPECT_FALSE(p.executablePath.empty());
            steadyRows += p.pid == steady->pid() ? 1 : 0;
        }
        EXPECT_EQ(steadyRows, 3u);
    }
    done = true;
    churn.join();
}

}  // namespace
}  // namespace halvo
