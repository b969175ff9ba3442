// Freeing a port for good, end to end on processes this test starts: the
// restart a supervisor makes, the tree kill, and the stop through a real pm2
// or a systemd user unit (a cgroup the test makes, and a stand-in systemctl
// that records its calls and ends the unit's processes).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "base/text.h"
#include "scan/listening_ports.h"
#include "scan/process_tree.h"
#include "support/cli_process.h"
#include "support/test_process.h"

namespace halvo::testing {
namespace {

std::string token(const char* what) {
    return std::string("halvo-e2e-") + what + "-" + std::to_string(getpid());
}

nlohmann::json listedRow(const std::string& query) {
    const auto rows = nlohmann::json::parse(runCli({"list", "--json", query}).out);
    return rows.size() == 1 ? rows[0] : nlohmann::json();
}

int32_t listedPid(const std::string& query) {
    const nlohmann::json row = listedRow(query);
    return row.is_null() ? -1 : row["pid"].get<int32_t>();
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
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

TEST(CliRestartTest, APm2AppIsStoppedThroughPm2AndStaysStopped) {
    TempDir root;
    const CommandResult tools =
        runCommand(HALVO_TEST_SOURCE_DIR "/../scripts/npm-tools", {}, std::chrono::minutes(5));
    ScopedEnvironment environment;
    environment.prependPath(std::string(trimWhiteSpace(tools.output.value_or(""))) +
                            "/node_modules/.bin");
    environment.set("PM2_HOME", root.makeDir("pm2"));
    struct Pm2Daemon {  // ended with the test
        ~Pm2Daemon() { runCommand("/usr/bin/env", {"pm2", "kill"}, std::chrono::seconds(30)); }
    } daemon;
    const std::string app = token("api");
    const std::string server =
        root.writeFile("server.js",
                       "require('http').createServer().listen(0, '127.0.0.1', function() { require"
                       "('fs').writeFileSync(process.env.PORT_FILE, '' + this.address().port) })");
    const CommandResult started =
        runCommand("/usr/bin/env",
                   {"PORT_FILE=" + root.path() + "/port", "pm2", "start", server, "--name", app},
                   std::chrono::seconds(60));
    ASSERT_EQ(started.status, 0) << tools.errors << started.errors;
    std::string port;
    for (int poll = 0; poll < 200 && port.empty(); ++poll, usleep(50'000)) {
        port = fileText(root.path() + "/port");
    }
    const nlohmann::json row = listedRow(port);
    EXPECT_EQ(row["supervisor"], (nlohmann::json{{"kind", "pm2"}, {"name", app}}));
    // Not the scanned process: pm2 is not asked.
    const std::string pid = std::to_string(row["pid"].get<int32_t>());
    EXPECT_EQ(
        runCli({"kill", "--started", "1.0", port}).err,
        "Process on :" + port + " (PID " + pid + ") changed since the scan \u2014 nothing sent\n");
    const CliRun run = runCli({"kill", port});
    EXPECT_EQ(run.out, "Stopped pm2 app " + app + " (:" + port + ")\n") << run.err;
    sleep(2);  // the port stays free
    EXPECT_FALSE(listeningPortsNow().contains(std::stoll(port)));
}

TEST(CliRestartTest, AUserUnitIsStoppedThroughSystemctl) {
    const std::string hierarchy = std::filesystem::exists("/sys/fs/cgroup/unified")
                                      ? "/sys/fs/cgroup/unified"
                                      : "/sys/fs/cgroup";
    const std::string uid = std::to_string(getuid());
    const std::string unit = token("web") + ".service";
    const std::string cgroup =
        hierarchy + "/user.slice/user-" + uid + ".slice/user@" + uid + ".service/app.slice/" + unit;
    std::error_code error;
    if (!std::filesystem::exists(hierarchy + "/cgroup.procs") ||
        !std::filesystem::create_directories(cgroup, error)) {
        GTEST_SKIP() << "cannot create the cgroup " << cgroup << ": " << error.message();
    }
    TempDir root;
    ScopedEnvironment environment;
    environment.prependPath(root.makeDir("bin"));
    const std::string procs = cgroup + "/cgroup.procs";
    // Like systemctl, it returns once the unit's processes have ended.
    root.writeFile("bin/systemctl",
                   "#!/bin/sh\necho \"$*\" >> '" + root.path() + "/calls'\nkill $(cat '" + procs +
                       "')\nwhile grep -q . '" + procs + "'; do sleep 0.1; done\n",
                   0755);
    const std::string join =
        root.writeFile("bin/join", "#!/bin/sh\necho $$ > '" + procs + "' && exec \"$@\"\n", 0755);
    auto server = ListenerProcess::start({.listenerArgs = {listenerCopy(root, "node"), "--v4", "1"},
                                          .extraArgs = {"vite", unit},
                                          .executable = join});
    const std::string port = std::to_string(server->ports().at(0));
    EXPECT_EQ(listedRow(unit)["supervisor"], (nlohmann::json{{"kind", "systemd"}, {"name", unit}}));
    EXPECT_EQ(runCli({"kill", "--dry-run", unit}).out,
              "Would stop unit " + unit + " (:" + port + ")\n");
    EXPECT_EQ(runCli({"kill", "--dry-run", "--no-supervisor", unit}).out,
              "Would kill :" + port + " node PID " + std::to_string(server->pid()) + "\n");
    const CliRun run = runCli({"kill", unit});
    EXPECT_EQ(run.out, "Stopped " + unit + " (:" + port + ")\n") << run.err;
    EXPECT_EQ(fileText(root.path() + "/calls"), "--user stop -- " + unit + "\n");
    sleep(2);  // the port stays free
    EXPECT_FALSE(listeningPortsNow().contains(std::stoll(port)));
    server.reset();
    for (std::filesystem::path p = cgroup; p != hierarchy; p = p.parent_path()) {
        rmdir(p.c_str());  // never one in use
    }
}

}  // namespace
}  // namespace halvo::testing
