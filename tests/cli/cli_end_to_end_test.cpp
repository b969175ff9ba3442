// halvo-cli end to end, on stand-in servers this test starts: the real scan,
// the text and JSON a user or a script reads, and kills. Rows and kills go by a
// token only these stand-ins carry in their argv, or by their own PID, since
// the machine has listeners of its own.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <future>
#include <stdexcept>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/cli_process.h"
#include "support/stand_in_engine.h"
#include "support/test_process.h"

namespace halvo::testing {
namespace {

using nlohmann::json;

std::string uniqueToken(const char* what) {
    return std::string("halvo-e2e-") + what + "-" + std::to_string(getpid());
}

// A server named `name`, in `root`, with `words` in its argv after the
// options of the listener.
std::unique_ptr<ListenerProcess> standIn(const TempDir& root, std::vector<std::string> words,
                                         std::vector<std::string> listen,
                                         const std::string& name = "node") {
    ListenerOptions options;
    options.executable = listenerCopy(root, name);
    options.argv0 = name;
    options.listenerArgs = std::move(listen);
    options.extraArgs = std::move(words);
    options.workingDirectory = root.path();
    return ListenerProcess::start(options);
}

TEST(CliListTest, HostileMetadataNeverReachesTheTerminalRaw) {
    TempDir root;
    const std::string big(100 * 1024, 'x');
    auto evil = standIn(root,
                        {"\x1b]0;pwned\x07", "two\nlines", "bad\xff\xfe",
                         "csi\xc2\x9b"
                         "2J",
                         "ls\u2028ps\u2029zw\u200bbom\ufeff", "vite", big},
                        {"--v4", "1"});
    const std::string port = std::to_string(evil->ports()[0]);

    CliRun json = runCli({"list", "--json", port});
    const auto rows = json::parse(json.out);
    ASSERT_EQ(rows.size(), 1u);
    const auto args = rows[0]["arguments"].get<std::vector<std::string>>();
    EXPECT_NE(std::find(args.begin(), args.end(), big), args.end()) << "a long argument whole";
    EXPECT_NE(std::find(args.begin(), args.end(), "bad\uFFFD\uFFFD"), args.end())
        << "a bad byte is repaired, never the argument dropped";

    EXPECT_TRUE(std::all_of(json.out.begin(), json.out.end(), [](char c) {
        return c == '\n' || (c >= 0x20 && c < 0x7f);
    })) << "JSON output is printable ASCII, escapes and all";

    CliRun table = runCli({"list", port});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(table.out.find("\xff"), std::string::npos);
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 2) << "header and one row";
    EXPECT_NE(table.out.find("\\x1b]0;pwned\\x07"), std::string::npos);
    EXPECT_NE(table.out.find("two\\nlines"), std::string::npos);
    EXPECT_NE(table.out.find("csi\\u009b2J"), std::string::npos);
    EXPECT_NE(table.out.find("ls\\u2028ps\\u2029zw\\u200bbom\\ufeff"), std::string::npos);
    EXPECT_NE(table.out.find("bad\uFFFD\uFFFD"), std::string::npos);
}

TEST(CliListTest, ResidentMemoryAndCpuTimeOfARealServer) {
    TempDir root;
    auto server = standIn(root, {"vite"}, {"--v4", "1", "--resident", "200"});
    const std::string port = std::to_string(server->ports()[0]);

    const auto rows = json::parse(runCli({"list", "--json", port}).out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_GE(rows[0]["memoryBytes"].get<uint64_t>(), 200u << 20);
    EXPECT_GE(rows[0]["cpuSeconds"].get<double>(), 0.0);

    const CliRun wide = runCli({"list", "--wide", port});
    EXPECT_NE(wide.out.find("MEMORY  CPU"), std::string::npos) << wide.out;
    EXPECT_NE(wide.out.find(" MB "), std::string::npos) << wide.out;
}

TEST(CliListTest, UsageVersionAndWriteErrors) {
    const std::pair<std::vector<std::string>, std::string> misuses[] = {
        {{}, "A command"},
        {{"--bogus"}, "--bogus"},
        // Flags take no value: "no" must not turn a dry run into a kill.
        {{"kill", "--dry-run=no", "x"}, "--dry-run takes no value"},
        {{"kill", "--dry-run", "--pid", "0x1f"}, "0x1f is not a PID"},  // decimal only
        // After a PID, a number is a query again, and so a port.
        {{"kill", "--dry-run", "--pid", "1", "0"}, "0 is not a port"},
        {{"wait-free", "1", "--timeout", "nan"}, "nan"},
        {{"wait-free", "web"}, "web"},
    };
    for (const auto& [args, said] : misuses) {
        CliRun run = runCli(args);
        EXPECT_EQ(run.status, 2) << said;
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    }
    // Output that cannot be written is no success.
    const std::string full = std::string("exec '") + HALVO_CLI + "' list --json --all >/dev/full";
    EXPECT_EQ(runCommand("/bin/sh", {"-c", full}, std::chrono::seconds(20)).status, 4);
    CliRun version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find(HALVO_VERSION), std::string::npos);
}

// The list a user wrote, a line of it malformed: its servers are hidden and
// never killed, the rest of the list applies, and --all shows them.
TEST(CliKillTest, TheLeaveAloneListHidesAndProtects) {
    TempDir root;
    const std::string token = uniqueToken("leave-alone");
    auto kept = standIn(root, {"vite", token}, {"--v4", "1"});
    auto named = standIn(root, {"vite", token}, {"--v4", "1"}, "keepme");
    auto other = standIn(root, {"vite", token}, {"--v4", "1"});
    const std::string port = std::to_string(kept->ports()[0]);
    root.writeFile("halvo/leave-alone", "# mine\n" + port + "  # db\n70000\nkeepme\n");
    const std::map<std::string, std::string> config{{"XDG_CONFIG_HOME", root.path()}};

    CliRun run = runCli({"list", "--json", token}, config);
    const auto rows = json::parse(run.out);
    ASSERT_EQ(rows.size(), 1u) << run.out;
    EXPECT_EQ(rows[0]["pid"], other->pid());
    EXPECT_NE(run.err.find("line 3: 70000 is not a port"), std::string::npos) << run.err;
    EXPECT_EQ(
        json::parse(runCli({"list", "--all", "--json", token}, config).out)["processes"].size(),
        3u);

    run = runCli({"kill", port}, config);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Port " + port + " is on your leave-alone list; halvo-cli unignore " +
                           port + " to end it\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(runCli({"kill", token}, config).status, 0);
    EXPECT_TRUE(processEnds(other->pid()));
    EXPECT_TRUE(kept->running() && named->running());

    EXPECT_EQ(runCli({"unignore", port}, config).status, 0);
    EXPECT_EQ(runCli({"ignore", "--list"}, config).out, "keepme\n");
    EXPECT_EQ(runCli({"kill", port}, config).status, 0);
    EXPECT_TRUE(processEnds(kept->pid()));
}

// A master and workers on one port: the workers end with the master and
// count as ended, not as changed since the scan, and the port counts once.
// A server that handed its socket to a helper leaves the port taken: that
// is never a success, and waiting for the port waits for the helper.
TEST(CliKillTest, APortIsFreedOnlyWhenNothingHoldsIt) {
    TempDir root;
    const std::string token = uniqueToken("workers");
    auto master = standIn(root, {"vite", token}, {"--v4", "1", "--workers", "3"});
    const std::string port = std::to_string(master->ports().at(0));
    const auto rows = json::parse(runCli({"list", "--json", token}).out);
    ASSERT_EQ(rows.size(), 4u);
    CliRun run = runCli({"kill", token});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Killed :" + port + " (4 processes)\n");
    for (const auto& row : rows) {
        EXPECT_TRUE(processEnds(row["pid"].get<pid_t>()));
    }

    const std::string handing = uniqueToken("hand-over");
    auto server = standIn(root, {"vite", handing}, {"--v4", "1", "--hand-over"});
    const std::string held = std::to_string(server->ports().at(0));
    run = runCli({"kill", handing});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("Port " + held + " is still held by cat (PID ")) << run.err;
    EXPECT_TRUE(run.err.ends_with("), which shares its socket; --all includes it\n")) << run.err;
    EXPECT_TRUE(processEnds(server->pid()));

    // Waiting for the port ends only when the helper lets go of it.
    const CliRun taken = runCli({"wait-free", "1-2," + held, "--timeout", "0.2"});
    EXPECT_EQ(taken.status, 5);
    EXPECT_EQ(taken.err, "Port " + held + " is still taken\n");
    auto waiting = std::async(std::launch::async, [&] {
        return runCli({"wait-free", held, "--timeout", "20"});
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // it finds the port taken
    server.reset();  // closes the input on which cat ends
    EXPECT_EQ(waiting.get().status, 0);
}

// A server that is no development server is reached only with --all, a
// start time other than its own spares it, and --force forces.
TEST(CliKillTest, AllStartedAndForceSelect) {
    TempDir root;
    const std::string token = uniqueToken("all");
    auto player = standIn(root, {"--shuffle", token}, {"--v4", "1"}, "musicplayer");
    const std::string pid = std::to_string(player->pid());
    EXPECT_EQ(runCli({"kill", token}).status, 1);
    EXPECT_EQ(runCli({"kill", "--all", "--pid", pid, "--started", "1.0"}).status, 3);
    EXPECT_TRUE(player->running());
    const CliRun killed = runCli({"kill", "--all", "--force", token});
    EXPECT_EQ(killed.status, 0) << killed.err;
    EXPECT_EQ(endingSignal(player->pid()), SIGKILL);
}

// A system user that exists while the value does, with no home and no login.
class TemporaryUser {
  public:
    explicit TemporaryUser(std::string name) : name_(std::move(name)) {
        if (std::system(("useradd --system --no-create-home --shell /usr/sbin/nologin " + name_ +
                         " >/dev/null 2>&1")
                            .c_str()) != 0) {
            throw std::runtime_error("useradd " + name_ + " failed");
        }
    }
    ~TemporaryUser() { std::system(("userdel " + name_ + " >/dev/null 2>&1").c_str()); }
    TemporaryUser(const TemporaryUser&) = delete;
    TemporaryUser& operator=(const TemporaryUser&) = delete;

    const std::string& name() const { return name_; }
    uid_t uid() const { return getpwnam(name_.c_str())->pw_uid; }

  private:
    std::string name_;
};

// A server `user` runs, from a copy of the listener in `root`.
std::unique_ptr<ListenerProcess> usersServer(const TemporaryUser& user, const TempDir& root) {
    chmod(root.path().c_str(), 0755);
    ListenerOptions options;
    options.executable = "/usr/bin/setpriv";
    options.argv0 = "setpriv";
    options.listenerArgs = {"--reuid",        user.name(),
                            "--regid",        user.name(),
                            "--clear-groups", listenerCopy(root, "postgres"),
                            "--v4",           "1"};
    return ListenerProcess::start(options);
}

// Another user's server is named with its owner, and a kill of its port says
// whose it is instead of claiming the port is free.
TEST(CliKillTest, AnotherUsersListenerIsNamedNeverEnded) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: it creates a second user and starts a server as that user";
    }
    const TemporaryUser user("halvo-e2e-" + std::to_string(getpid()));
    TempDir root;
    auto server = usersServer(user, root);
    const std::string port = std::to_string(server->ports()[0]);

    const CliRun list = runCli({"list", "--all", "--json", port});
    EXPECT_EQ(list.status, 0) << list.err;
    const auto shown = json::parse(list.out);
    EXPECT_EQ(shown["processes"], json::array());
    EXPECT_EQ(shown["heldByOthers"],
              json::parse(R"([{"port":)" + port + R"(,"owner":{"uid":)" +
                          std::to_string(user.uid()) + R"(,"user":")" + user.name() + R"("}}])"));

    const CliRun kill = runCli({"kill", port});
    EXPECT_EQ(kill.status, 3);
    EXPECT_EQ(kill.err, "Port " + port + " is held by user " + user.name() +
                            "; Halvo can only end your own processes\n");
    EXPECT_TRUE(server->running());
}

// An agent through the official MCP SDK client (mcp_client.mjs): the tools
// and their schemas, its server listed, a dry run that spares it, a kill by
// PID and start time that ends it, and another user's port refused.
TEST(McpEndToEndTest, AnAgentEndsItsOwnServerAndNoOneElses) {
    const CommandResult npm =
        runCommand(HALVO_TEST_SOURCE_DIR "/../scripts/npm-tools", {}, std::chrono::minutes(5));
    ASSERT_EQ(npm.status, 0) << npm.errors;
    const std::string cache = npm.output->substr(0, npm.output->find('\n'));
    TempDir root;
    const std::string token = uniqueToken("mcp");
    auto server = standIn(root, {"vite", token}, {"--v4", "1"});
    std::optional<TemporaryUser> user;
    std::unique_ptr<ListenerProcess> others;
    if (geteuid() == 0) {
        user.emplace("halvo-mcp-" + std::to_string(getpid()));
        others = usersServer(*user, root);
    }
    const CommandResult agent =
        runCommand("/usr/bin/env",
                   {"node", HALVO_TEST_SOURCE_DIR "/cli/mcp_client.mjs", cache, HALVO_CLI, token,
                    std::to_string(server->pid()), std::to_string(server->ports().at(0)),
                    others ? std::to_string(others->ports().at(0)) : "0"},
                   std::chrono::seconds(60));
    EXPECT_EQ(agent.status, 0) << agent.errors;
    EXPECT_EQ(endingSignal(server->pid()), SIGTERM);
    if (!others) {
        GTEST_SKIP() << "another user's port needs root: it creates a second user";
    }
    EXPECT_TRUE(others->running());
}

// A port a container publishes, with a stand-in engine and docker: listed
// without a PID, and freed by stopping the container.
TEST(CliKillTest, AContainersPortIsListedAndStoppedThroughDocker) {
    TempDir root;
    const std::string port = std::to_string(standIn(root, {}, {"--v4", "1"})->ports()[0]);
    const std::string calls = root.path() + "/calls";
    const std::string id = std::string(64, 'a');
    StandInEngine engine(root.path() + "/docker.sock",
                         engineAnswer(R"([{"Id": ")" + id + R"(", "Names": ["/shop-db-1"],
                            "Ports": [{"IP": "0.0.0.0", "PrivatePort": 5432, "PublicPort": )" +
                                      port + R"(, "Type": "tcp"}]}])"));
    root.writeFile("fake/docker", "#!/bin/sh\necho \"$@\" >> '" + calls + "'\n", 0755);
    const std::map<std::string, std::string> environment{
        {"PATH", root.path() + "/fake:" + std::getenv("PATH")},
        {"DOCKER_HOST", "unix://" + root.path() + "/docker.sock"}};

    const auto rows = json::parse(runCli({"list", "--json", port}, environment).out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0]["pid"].is_null());
    EXPECT_EQ(rows[0]["dockerContext"]["containerName"], "shop-db-1");

    const CliRun kill = runCli({"kill", port}, environment);
    EXPECT_EQ(kill.status, 0) << kill.err;
    EXPECT_EQ(kill.out, "Stopped container shop-db-1 (:" + port + ")\n");
    std::ifstream recorded(calls);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(recorded), {}), "stop " + id + "\n");
}

}  // namespace
}  // namespace halvo::testing
