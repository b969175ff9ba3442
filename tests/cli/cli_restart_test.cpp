// Freeing a port for good, end to end on processes this test starts: the
// restart a supervisor makes, and the tree kill.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "scan/process_tree.h"
#include "support/cli_process.h"
#include "support/test_process.h"

namespace halvo::testing {
namespace {

std::string token(const char* what) {
    return std::string("halvo-e2e-") + what + "-" + std::to_string(getpid());
}

int32_t listedPid(const std::string& query) {
    const auto rows = nlohmann::json::parse(runCli({"list", "--json", query}).out);
    return rows.size() == 1 ? rows[0]["pid"].get<int32_t>() : -1;
}

TEST(CliRestartTest, KillNamesTheSupervisorThatStartedTheServerAgain) {
    TempDir root;
    const std::string word = token("restart");
    // A port the system handed out and took back: free, and nobody else's.
    auto probe = ListenerProcess::start({.listenerArgs = {"--v4", "1"}});
    const std::string port = std::to_string(probe->ports().at(0));
    probe->stop();
    // Named like the watcher users meet most; the kernel names a script by its file.
    const std::string nodemon = root.writeFile("bin/nodemon",
                                               "#!/bin/sh\n"
                                               "# The server, then the server again each time "
                                               "it ends, through a script shell that stays; "
                                               "only the first run reports.\n"
                                               "\"$@\"\n"
                                               "for again in 1 2 3 4; do\n"
                                               "    sh -c '\"$@\"; exit $?' sh \"$@\" >/dev/null\n"
                                               "done\n",
                                               0755);
    auto supervisor =
        ListenerProcess::start({.listenerArgs = {listenerCopy(root, "node"), "--port", port},
                                .extraArgs = {"vite", word},
                                .executable = nodemon});
    const std::string said = "Killed :" + port + " \u2014 restarted by nodemon (PID " +
                             std::to_string(supervisor->pid()) + ") as node (PID ";

    // On a slow machine a restart may come after the watch's 300 ms; the
    // supervisor starts the server again, and a later kill can see it.
    CliRun run;
    for (int attempt = 0; attempt < 4 && !run.out.starts_with(said); ++attempt) {
        int32_t server = -1;
        for (int poll = 0; poll < 200 && server <= 0; ++poll) {
            server = listedPid(word);
            if (server <= 0) {
                usleep(50'000);
            }
        }
        ASSERT_GT(server, 0);
        run = runCli({"kill", word});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(processEnds(server));
        EXPECT_EQ(run.out.find("(PID " + std::to_string(server) + ")\n"), std::string::npos);
    }
    EXPECT_EQ(run.out.substr(0, said.size()), said);
}

TEST(CliRestartTest, TreeKillEndsTheServerAndWhatStartedItButNotTheShell) {
    TempDir root;
    const std::string word = token("tree");
    const std::string npm = root.writeFile(
        "bin/npm", "#!/bin/sh\n# Runs the server, and stays after it.\n\"$@\"\nread -r rest\n",
        0755);
    // A terminal's shell, the leader of its own session, runs npm, which runs node.
    auto shell = ListenerProcess::start({.listenerArgs = {"-c", "\"$0\" \"$@\"; read -r rest", npm,
                                                          listenerCopy(root, "node"), "--v4", "1"},
                                         .extraArgs = {"vite", word},
                                         .executable = "/bin/sh",
                                         .newSession = true});
    const int32_t server = listedPid(word);
    ASSERT_GT(server, 0);
    const auto entry = ProcFsProcessTree().entry(server);
    ASSERT_TRUE(entry);
    const int32_t runner = entry->parentPid;
    ASSERT_NE(runner, shell->pid());

    CliRun run = runCli({"kill", "--tree", word});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Killed :" + std::to_string(shell->ports().at(0)) + "\n");
    EXPECT_TRUE(processEnds(server));
    EXPECT_TRUE(processEnds(runner));
    EXPECT_TRUE(shell->running());

    // An interactive interpreter that started a server holds the user's
    // session: the tree stops below it.
    const std::string prompt = token("prompt");
    auto python = ListenerProcess::start(
        {.listenerArgs = {"-i", "-c", "import subprocess, sys; subprocess.Popen(sys.argv[1:])",
                          listenerCopy(root, "node"), "--v4", "1"},
         .extraArgs = {"vite", prompt},
         .executable = "/usr/bin/python3"});
    const int32_t started = listedPid(prompt);
    ASSERT_GT(started, 0);
    run = runCli({"kill", "--tree", prompt});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(processEnds(started));
    EXPECT_TRUE(python->running());
}

}  // namespace
}  // namespace halvo::testing
