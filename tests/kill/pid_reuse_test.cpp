// PID reuse forced on purpose: a helper in a new PID namespace lets a child
// exit, hands its PID to a fresh process and asks the kill engine to kill the
// first one. The fresh process must survive every attempt.
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "scan/command_runner.h"

namespace halvo {
namespace {

using ::testing::Contains;
using ::testing::Pair;

TEST(PidReuseTest, ARecycledPidIsNeverSignalled) {
    // As root the PID namespace alone will do; otherwise a user namespace
    // grants the rights to set the next PID inside it.
    std::vector<std::string> arguments =
        geteuid() == 0 ? std::vector<std::string>{"-pf", "--mount-proc", HALVO_PID_REUSE_HELPER}
                       : std::vector<std::string>{"-Urpf", "--mount-proc", HALVO_PID_REUSE_HELPER};
    const std::string unshare =
        access("/usr/bin/unshare", X_OK) == 0 ? "/usr/bin/unshare" : "/bin/unshare";
    const CommandResult result = runCommand(unshare, arguments, std::chrono::seconds(20));
    const std::string output = result.output.value_or("");
    if (result.status == 77) {
        GTEST_SKIP() << "PID reuse cannot be forced here: " << output;
    }
    if (output.find("pid-reuse") == std::string::npos) {
        GTEST_SKIP() << "no new PID namespace (unshare " << arguments[0] << " exited with status "
                     << result.status << "); PID reuse is not tested here";
    }
    ASSERT_EQ(result.status, 0) << output;

    std::map<std::string, std::string> cases;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const auto space = line.find(' ');
        if (space != std::string::npos) {
            cases[line.substr(0, space)] = line.substr(space + 1);
        }
    }
    // The PID was reused before the kill: nothing may be sent.
    EXPECT_THAT(cases, Contains(Pair("force", "stale b-alive")));
    EXPECT_THAT(cases, Contains(Pair("safe", "stale b-alive")));
    EXPECT_THAT(cases, Contains(Pair("kill2-force", "stale b-alive")));
    EXPECT_THAT(cases, Contains(Pair("kill2-safe", "stale b-alive")));
    // The process ended on SIGTERM and its PID was reused during the grace
    // second: the kill succeeded and no SIGKILL reached the newcomer.
    EXPECT_THAT(cases, Contains(Pair("grace-safe", "killed b-alive")));
    EXPECT_THAT(cases, Contains(Pair("kill2-grace-safe", "killed b-alive")));
}

}  // namespace
}  // namespace halvo
