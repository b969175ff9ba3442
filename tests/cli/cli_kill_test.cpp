// halvo-cli kill end to end, on stand-in servers this test starts. Kills go by
// a token only these stand-ins carry in their argv, never by port alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/cli_process.h"
#include "support/test_process.h"

namespace halvo::testing {
namespace {

std::string uniqueToken(const char* what) {
    static int counter = 0;
    return std::string("halvo-e2e-") + what + "-" + std::to_string(getpid()) + "-" +
           std::to_string(++counter);
}

std::unique_ptr<ListenerProcess> standIn(const TempDir& root, const std::string& token,
                                         std::vector<std::string> listen) {
    ListenerOptions options;
    options.executable = listenerCopy(root, "node");
    options.argv0 = "node";
    options.listenerArgs = std::move(listen);
    options.extraArgs = {"vite", token};
    options.workingDirectory = root.path();
    return ListenerProcess::start(options);
}

// How our child ended: the signal that ended it, 0 for a normal exit, -1 when
// it is still running. Reaps it.
int endingSignal(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        pid_t rc = waitpid(pid, &status, WNOHANG);
        if (rc == pid) {
            return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        }
        usleep(10000);
    }
    return -1;
}

TEST(CliKillTest, EndsOneServerGracefully) {
    TempDir root;
    const std::string token = uniqueToken("single");
    auto server = standIn(root, token, {"--v4", "1"});
    const pid_t pid = server->pid();

    CliRun run = runCli({"kill", token});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Killed :" + std::to_string(server->ports()[0]) + "\n");
    EXPECT_EQ(endingSignal(pid), SIGTERM);
}

TEST(CliKillTest, ForceEndsAServerThatIgnoresSigterm) {
    TempDir root;
    const std::string token = uniqueToken("force");
    auto server = standIn(root, token, {"--v4", "1", "--ignore-term"});

    CliRun run = runCli({"kill", "--force", token});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(endingSignal(server->pid()), SIGKILL);
}

TEST(CliKillTest, SeveralServersAreOneBatch) {
    TempDir root;
    const std::string token = uniqueToken("batch");
    auto twoPorts = standIn(root, token, {"--v4", "2"});
    auto onePort = standIn(root, token, {"--v6only", "1"});

    CliRun run = runCli({"kill", token});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Killed 3 ports\n");
    EXPECT_EQ(endingSignal(twoPorts->pid()), SIGTERM);
    EXPECT_EQ(endingSignal(onePort->pid()), SIGTERM);
}

TEST(CliKillTest, DryRunAndMissesSignalNothing) {
    TempDir root;
    const std::string token = uniqueToken("dry");
    auto server = standIn(root, token, {"--v4", "1"});
    const std::string port = std::to_string(server->ports()[0]);

    // By port, but only as a dry run: it names what it would end.
    CliRun dry = runCli({"kill", "--dry-run", port});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(dry.out, "Would kill :" + port + " node PID " + std::to_string(server->pid()) + "\n");

    CliRun miss = runCli({"kill", uniqueToken("nobody")});
    EXPECT_EQ(miss.status, 1);
    EXPECT_EQ(miss.err, "No matching ports.\n");

    EXPECT_EQ(runCli({"kill"}).status, 2);
    EXPECT_EQ(runCli({"kill", "  "}).status, 2);
    EXPECT_TRUE(server->running());
}

}  // namespace
}  // namespace halvo::testing
