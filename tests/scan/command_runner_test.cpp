#include "scan/command_runner.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scan/text.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

const std::string kShell = "/bin/sh";

std::optional<pid_t> pidFromFile(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    auto pid = parseInt32(text);
    return pid && *pid > 0 ? std::optional<pid_t>(*pid) : std::nullopt;
}

// Gone means no /proc entry, or a zombie waiting for whoever adopted it.
bool processGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) {
        return true;
    }
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

// SIGKILL is delivered asynchronously: give the kernel a moment to finish it.
bool becomesGone(pid_t pid) {
    for (int i = 0; i < 500 && !processGone(pid); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return processGone(pid);
}

// Runs a shell that records the PID of a long-lived process in a file, and
// checks that the run is cut short and that process killed with it.
void expectCutShortAndKilled(const std::string& script) {
    TempDir dir;
    const std::string pidFile = dir.path() + "/pid";
    CommandResult result = runCommand(kShell, {"-c", script, "sh", pidFile}, 300ms);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, std::nullopt);

    auto pid = pidFromFile(pidFile);
    ASSERT_TRUE(pid.has_value()) << "the shell did not record a PID";
    const bool gone = becomesGone(*pid);
    if (!gone) {
        ::kill(*pid, SIGKILL);  // started by this test; do not leave it behind
    }
    EXPECT_TRUE(gone) << "process " << *pid << " survived the bound";
}

TEST(CommandRunnerTest, ExitStatusAndOutputPassThrough) {
    CommandResult result =
        runCommand(kShell, {"-c", "printf 'a b\\n'; printf oops >&2; exit 3"}, 10s);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.output, "a b\n");

    result = runCommand(kShell, {"-c", "true"}, 10s);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");  // started, said nothing: present and empty

    // Arguments reach the child as they are, with no shell in between.
    result = runCommand(kShell, {"-c", "printf '%s|' \"$@\"", "sh", "$HOME", "a;b", "", "*"}, 10s);
    EXPECT_EQ(result.output, "$HOME|a;b||*|");
}

TEST(CommandRunnerTest, ChildKilledBySignalReportsNonZeroStatus) {
    CommandResult result = runCommand(kShell, {"-c", "printf partial; kill -TERM $$"}, 10s);
    EXPECT_EQ(result.status, 128 + SIGTERM);
    EXPECT_EQ(result.output, "partial");
}

TEST(CommandRunnerTest, ExecutableThatCannotStartIsNotStarted) {
    TempDir dir;
    const std::string notExecutable = dir.writeFile("tool", "#!/bin/sh\necho hi\n", 0644);
    for (const std::string& path : {std::string("/nonexistent/tool"), notExecutable, dir.path()}) {
        CommandResult result = runCommand(path, {}, 10s);
        EXPECT_EQ(result.status, 0) << path;
        EXPECT_EQ(result.output, std::nullopt) << path;
    }
}

TEST(CommandRunnerTest, ChildThatNeverExitsIsKilledAtTheBound) {
    expectCutShortAndKilled("echo $$ > \"$1\"; exec sleep 60");
}

TEST(CommandRunnerTest, DescendantHoldingThePipesIsKilledAtTheBound) {
    // The shell exits at once; its background child keeps both pipes open.
    expectCutShortAndKilled("sleep 60 & echo $! > \"$1\"; exit 0");
}

TEST(CommandRunnerTest, LargeOutputOnBothStreamsIsCapturedWhole) {
    constexpr size_t kSize = 16 << 20;
    const std::string line = "0123456789abcdef\n";
    // Both streams written at the same time, so draining one before the other
    // would stall the child on a full pipe.
    const std::string script =
        "(yes 0123456789abcdef | head -c 16777216) & "
        "(yes standard-error | head -c 16777216 >&2); wait";
    CommandResult result = runCommand(kShell, {"-c", script}, 60s);
    EXPECT_EQ(result.status, 0);
    ASSERT_TRUE(result.output.has_value());
    ASSERT_EQ(result.output->size(), kSize);
    std::string expected;
    expected.reserve(kSize + line.size());
    while (expected.size() < kSize) {
        expected += line;
    }
    expected.resize(kSize);
    EXPECT_TRUE(*result.output == expected) << "output differs from what was written";
}

TEST(CommandRunnerTest, ConcurrentCallsStayApart) {
    constexpr int kThreads = 4;
    constexpr int kRuns = 20;
    // A long-lived child started while the others run: had it inherited any of
    // their pipe ends, their runs would wait for it past their bound.
    std::thread holder([] {
        CommandResult result = runCommand("/bin/sleep", {"3"}, 20s);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, "");
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < kRuns; ++i) {
                const std::string tag = "run-" + std::to_string(t) + "-" + std::to_string(i);
                const int status = (t * kRuns + i) % 7;
                CommandResult result = runCommand(
                    kShell,
                    {"-c", "printf %s \"$1\"; exit \"$2\"", "sh", tag, std::to_string(status)}, 2s);
                EXPECT_EQ(result.status, status) << tag;
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
