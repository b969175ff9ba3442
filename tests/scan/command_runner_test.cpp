#include "scan/command_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using namespace std::chrono_literals;

const std::string kShell = "/bin/sh";

// Arguments reach the child as they are, with no shell in between; our
// standard input is never its own; what cannot start is not started. A run
// past the cap fails although it ends in time; one whose descendant holds both
// pipes open after it exited answers. Neither leaves the process whose PID it
// wrote to `pidFile` behind.
TEST(CommandRunnerTest, StatusOutputCapAndLeftovers) {
    testing::TempDir dir;
    const std::string pidFile = dir.path() + "/pid";
    const std::string over = std::to_string(kOutputCap + 1);
    const struct {
        std::string executable;
        std::vector<std::string> arguments;
        int32_t status;
        std::optional<std::string> output;
    } cases[] = {
        {kShell, {"-c", "printf '%s|' \"$@\"; exit 3", "-", "$HOME", "a;b", ""}, 3, "$HOME|a;b||"},
        {kShell, {"-c", "cat"}, 0, ""},
        {"/nonexistent/tool", {}, 0, std::nullopt},
        {kShell, {"-c", "echo $$ > \"$0\"; head -c $1 /dev/zero", pidFile, over}, 0, std::nullopt},
        {kShell, {"-c", "printf answer; sleep 60 & echo $! > \"$0\"", pidFile}, 0, "answer"},
    };
    // Ours never ends: a child reading it would run past the cap.
    const int saved = dup(STDIN_FILENO);
    dup2(UniqueFd(open("/dev/zero", O_RDONLY | O_CLOEXEC)).get(), STDIN_FILENO);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? c.executable : c.arguments[1]);
        const CommandResult result = runCommand(c.executable, c.arguments, 20s);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.output, c.output);
        if (std::filesystem::exists(pidFile)) {
            EXPECT_TRUE(testing::recordedProcessEnds(pidFile)) << "it survived the run";
            std::filesystem::remove(pidFile);
        }
    }
    dup2(saved, STDIN_FILENO);
    close(saved);
}

TEST(CommandRunnerTest, StatusLostToIgnoredSigchldIsNotSuccess) {
    // With SIGCHLD ignored the kernel reaps the child itself, and its exit
    // status is gone: a failing tool must not read as success with output.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGCHLD, &ignore, &previous), 0);
    CommandResult result = runCommand(kShell, {"-c", "echo failed; exit 3"}, 10s);
    sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, std::nullopt);
}

// Both streams written at the same time, so draining one before the other
// would stall the child on a full pipe.
TEST(CommandRunnerTest, LargeOutputOnBothStreamsIsCapturedWhole) {
    const CommandResult result = runCommand(
        kShell, {"-c", "(head -c 4194304 /dev/zero) & (head -c 16777216 /dev/zero >&2); wait"},
        60s);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.output == std::string(4194304, '\0')) << "not the whole output, or more";
}

// A child holds none of the pipes of the runs around it (one that did would
// keep their ends open past their tool's exit), and concurrent runs keep their
// statuses and outputs apart.
TEST(CommandRunnerTest, ConcurrentCallsStayApart) {
    const auto descriptors = [] { return runCommand("/bin/ls", {"/proc/self/fd"}, 10s).output; };
    const std::optional<std::string> alone = descriptors();
    std::vector<std::thread> runs;
    for (int t = 0; t < 8; ++t) {
        runs.emplace_back([t, tag = std::to_string(t)] {
            const CommandResult result =
                runCommand(kShell, {"-c", "printf %s \"$0\"; sleep 1; exit \"$0\"", tag}, 20s);
            EXPECT_EQ(result.status, t);
            EXPECT_EQ(result.output, tag);
        });
    }
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(descriptors(), alone) << "a child inherited the pipes of a run in flight";
    for (auto& run : runs) {
        run.join();
    }
}

}  // namespace
}  // namespace halvo
