// PID reuse forced on purpose: a helper in a new PID namespace lets a child
// exit, hands its PID to a fresh process and asks the kill engine to kill the
// first one. The fresh process must survive every attempt.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/command_runner.h"

namespace halvo {
namespace {

TEST(PidReuseTest, ARecycledPidIsNeverSignalled) {
    // As root the PID namespace alone will do; otherwise a user namespace
    // grants the rights to set the next PID inside it.
    const std::vector<std::string> arguments{geteuid() == 0 ? "-pf" : "-Urpf", "--mount-proc",
                                             HALVO_PID_REUSE_HELPER};
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
    EXPECT_EQ(result.status, 0);
    // Reused before the kill: nothing is sent. Reused during the grace second
    // after A ended on SIGTERM: killed, and no SIGKILL reaches the newcomer.
    EXPECT_EQ(output,
              "pid-reuse\n"
              "force stale b-alive\n"
              "kill2-safe stale b-alive\n"
              "grace-safe killed b-alive\n"
              "kill2-grace-safe killed b-alive\n");
}

}  // namespace
}  // namespace halvo
