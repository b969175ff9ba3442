#include "scan/command_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/test_process.h"

namespace halvo {
namespace {

using namespace std::chrono_literals;

const std::string kShell = "/bin/sh";

// Arguments reach the child as they are, with no shell in between; our
// standard input is never its own; what cannot start is not started.
TEST(CommandRunnerTest, StatusAndOutputPassThroughAndWhatCannotStartIsNotStarted) {
    const struct {
        std::string executable;
        std::vector<std::string> arguments;
        int32_t status;
        std::optional<std::string> output;
    } cases[] = {
        {kShell,
         {"-c", "printf '%s|' \"$@\"; printf oops >&2; exit 3", "sh", "$HOME", "a;b", "", "*"},
         3,
         "$HOME|a;b||*|"},
        {kShell, {"-c", "printf partial; kill -TERM $$"}, 128 + SIGTERM, "partial"},
        {kShell, {"-c", "cat"}, 0, ""},
        {"/nonexistent/tool", {}, 0, std::nullopt},
    };
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "x\n", 2), 2);
    close(fds[1]);
    const int saved = dup(STDIN_FILENO);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    for (const auto& c : cases) {
        const CommandResult result = runCommand(c.executable, c.arguments, 10s);
        EXPECT_EQ(result.status, c.status) << c.executable;
        EXPECT_EQ(result.output, c.output) << c.executable;
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

// Each script records in "$1" the PID of a process the run must not leave behind.
TEST(CommandRunnerTest, BoundsCapsAndLeftoverDescendants) {
    struct Case {
        std::string script;
        std::chrono::milliseconds bound;
        std::optional<std::string> output;
    };
    const std::string tooMuch = std::to_string(kOutputCap + 1);
    for (const Case& c : std::vector<Case>{
             {"echo $$ > \"$1\"; exec sleep 60", 300ms, std::nullopt},
             // Past the cap, although it ends in time.
             {"echo $$ > \"$1\"; head -c " + tooMuch + " /dev/zero", 20s, std::nullopt},
             // Exited, but a descendant holds both pipes open: the answer counts.
             {"printf answer; sleep 60 & echo $! > \"$1\"; exit 0", 20s, "answer"},
         }) {
        SCOPED_TRACE(c.script);
        testing::TempDir dir;
        const std::string pidFile = dir.path() + "/pid";
        CommandResult result = runCommand(kShell, {"-c", c.script, "sh", pidFile}, c.bound);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, c.output);
        EXPECT_TRUE(testing::recordedProcessEnds(pidFile)) << "it survived the run";
    }
}

TEST(CommandRunnerTest, LargeOutputOnBothStreamsIsCapturedWhole) {
    // Both streams written at the same time, so draining one before the other
    // would stall the child on a full pipe.
    const std::string script =
        "(yes 0123456789abcdef | head -c 4194304) & "
        "(yes standard-error | head -c 16777216 >&2); wait";
    CommandResult result = runCommand(kShell, {"-c", script}, 60s);
    EXPECT_EQ(result.status, 0);
    ASSERT_TRUE(result.output.has_value());
    ASSERT_EQ(result.output->size(), size_t{4} << 20);
    const std::string_view line = "0123456789abcdef\n";
    for (size_t at = 0; at < result.output->size(); at += line.size()) {
        const std::string_view piece = std::string_view(*result.output).substr(at, line.size());
        ASSERT_EQ(piece, line.substr(0, piece.size())) << "at byte " << at;
    }
}

// A child holds none of the pipes of the runs around it (one that did would
// keep their ends open past their tool's exit), and concurrent runs keep their
// statuses and outputs apart.
TEST(CommandRunnerTest, ConcurrentCallsStayApart) {
    const auto descriptors = [] { return runCommand("/bin/ls", {"/proc/self/fd"}, 10s).output; };
    const std::optional<std::string> alone = descriptors();
    std::thread holder([] { EXPECT_EQ(runCommand("/bin/sleep", {"2"}, 20s).output, ""); });
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(descriptors(), alone) << "a child inherited the pipes of a run in flight";
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < 10; ++i) {
                const std::string tag = "run-" + std::to_string(t) + "-" + std::to_string(i);
                const CommandResult result = runCommand(
                    kShell, {"-c", "printf %s \"$1\"; exit \"$2\"", "sh", tag, std::to_string(i)},
                    2s);
                EXPECT_EQ(result.status, i) << tag;
                EXPECT_EQ(result.output, tag);
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    holder.join();
}

}  // namespace
}  // namespace halvo
