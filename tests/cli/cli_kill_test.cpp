// halvo-cli kill end to end, on stand-in servers this test starts. Kills go by
// a token only these stand-ins carry in their argv, or by their own PID.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "support/cli_process.h"
#include "support/stand_in_engine.h"
#include "support/test_process.h"

namespace halvo::testing {
namespace {

std::string uniqueToken(const char* what) {
    static int counter = 0;
    return std::string("halvo-e2e-") + what + "-" + std::to_string(getpid()) + "-" +
           std::to_string(++counter);
}

std::unique_ptr<ListenerProcess> standIn(const TempDir& root, const std::string& token,
                                         std::vector<std::string> listen,
                                         const std::string& name = "node") {
    ListenerOptions options;
    options.executable = listenerCopy(root, name);
    options.argv0 = name;
    options.listenerArgs = std::move(listen);
    options.extraArgs = {name == "node" ? "vite" : "--shuffle", token};
    options.workingDirectory = root.path();
    return ListenerProcess::start(options);
}

TEST(CliKillTest, EndsOneServerGracefullyOrByForce) {
    TempDir root;
    for (bool force : {false, true}) {
        const std::string token = uniqueToken("single");
        auto server = standIn(root, token, {"--v4", "1", "--ignore-term"});
        const std::vector<std::string> args =
            force ? std::vector<std::string>{"kill", "--force", token}
                  : std::vector<std::string>{"kill", token};
        CliRun run = runCli(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "Killed :" + std::to_string(server->ports()[0]) + "\n");
        EXPECT_EQ(endingSignal(server->pid()), SIGKILL);  // SIGTERM ignored
    }
    const std::string token = uniqueToken("term");
    auto server = standIn(root, token, {"--v4", "1"});
    EXPECT_EQ(runCli({"kill", token}).status, 0);
    EXPECT_EQ(endingSignal(server->pid()), SIGTERM);
}

// A master and workers on one port: the workers end with the master and
// count as ended, not as changed since the scan, and the port counts once.
// A server that handed its socket to a helper leaves the port taken: that
// is never a success.
TEST(CliKillTest, APortIsFreedOnlyWhenNothingHoldsIt) {
    TempDir root;
    const std::string token = uniqueToken("workers");
    auto master = standIn(root, token, {"--v4", "1", "--workers", "3"});
    const std::string port = std::to_string(master->ports().at(0));
    const auto rows = nlohmann::json::parse(runCli({"list", "--json", token}).out);
    ASSERT_EQ(rows.size(), 4u);
    CliRun run = runCli({"kill", token});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Killed :" + port + " (4 processes)\n");
    for (const auto& row : rows) {
        EXPECT_TRUE(processEnds(row["pid"].get<pid_t>()));
    }

    const std::string handing = uniqueToken("hand-over");
    auto server = standIn(root, handing, {"--v4", "1", "--hand-over"});
    const std::string held = std::to_string(server->ports().at(0));
    run = runCli({"kill", handing});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("Port " + held + " is still held by cat (PID ")) << run.err;
    EXPECT_TRUE(run.err.ends_with("), which shares its socket; --all includes it\n")) << run.err;
    EXPECT_TRUE(processEnds(server->pid()));
}

TEST(CliKillTest, AllPidAndStartTimeSelect) {
    TempDir root;
    const std::string token = uniqueToken("all");
    auto player = standIn(root, token, {"--v4", "1"}, "musicplayer");
    const std::string pid = std::to_string(player->pid());

    // Not a development server: only --all reaches it, and its port is not called free.
    EXPECT_EQ(runCli({"list", token}).status, 1);
    EXPECT_EQ(runCli({"kill", token}).status, 1);
    const std::string port = std::to_string(player->ports().at(0));
    const CliRun byPort = runCli({"kill", port});
    EXPECT_EQ(byPort.status, 1);
    EXPECT_EQ(byPort.err, "No matching ports.\nPort " + port +
                              " is held by your musicplayer (PID " + pid +
                              "), not a development server; --all includes it\n");
    const auto rows =
        nlohmann::json::parse(runCli({"list", "--json", "--all", token}).out)["processes"];
    ASSERT_EQ(rows.size(), 1u);
    const auto& started = rows[0]["startTime"];
    const std::string startTime = std::to_string(started["seconds"].get<int64_t>()) + "." +
                                  std::to_string(started["microseconds"].get<int64_t>());
    const std::string otherTime = std::to_string(started["seconds"].get<int64_t>() - 1) + ".0";
    CliRun refused = runCli({"kill", "--all", "--pid", pid, "--started", otherTime});
    EXPECT_EQ(refused.status, 3);
    EXPECT_TRUE(player->running());
    // After a PID, a number is a query again, and so a port.
    EXPECT_NE(runCli({"kill", "--pid", pid, "0"}).err.find("0 is not a port"), std::string::npos);
    // Flags take no value: "no" must not turn a dry run into a kill.
    EXPECT_EQ(runCli({"kill", "--all", "--dry-run=no", token}).status, 2);
    EXPECT_TRUE(player->running());

    CliRun killed = runCli({"kill", "--all", "--pid", pid, "--started", startTime});
    EXPECT_EQ(killed.status, 0) << killed.err;
    EXPECT_EQ(endingSignal(player->pid()), SIGTERM);
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

// Another user's server is named with its owner, and a kill of its port says
// whose it is instead of claiming the port is free.
TEST(CliKillTest, AnotherUsersListenerIsNamedNeverEnded) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: it creates a second user and starts a server as that user";
    }
    const TemporaryUser user("halvo-e2e-" + std::to_string(getpid()));
    TempDir root;  // a copy of the listener that the new user may run
    chmod(root.path().c_str(), 0755);
    ListenerOptions options;
    options.executable = "/usr/bin/setpriv";
    options.argv0 = "setpriv";
    options.listenerArgs = {"--reuid",        user.name(),
                            "--regid",        user.name(),
                            "--clear-groups", listenerCopy(root, "postgres"),
                            "--v4",           "1"};
    auto server = ListenerProcess::start(options);
    const std::string port = std::to_string(server->ports()[0]);

    const CliRun list = runCli({"list", "--all", "--json", port});
    EXPECT_EQ(list.status, 0) << list.err;
    const auto shown = nlohmann::json::parse(list.out);
    EXPECT_EQ(shown["processes"], nlohmann::json::array());
    EXPECT_EQ(shown["heldByOthers"],
              nlohmann::json::parse(R"([{"port":)" + port + R"(,"owner":{"uid":)" +
                                    std::to_string(user.uid()) + R"(,"user":")" + user.name() +
                                    R"("}}])"));

    const CliRun kill = runCli({"kill", port});
    EXPECT_EQ(kill.status, 3);
    EXPECT_EQ(kill.err, "Port " + port + " is held by user " + user.name() +
                            "; Halvo can only end your own processes\n");
    const CliRun listed = runCli({"list", ":" + port});
    EXPECT_EQ(listed.status, 1);
    EXPECT_EQ(listed.err, "No matching ports.\n" + kill.err);
    EXPECT_TRUE(server->running());
}

// A port nothing of ours holds: the system's pick for port 0.
int64_t unheldPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t size = sizeof address;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
    close(fd);
    return ntohs(address.sin_port);
}

// A port a container publishes, with a stand-in engine and docker: listed
// without a PID, and freed by stopping the container.
TEST(CliKillTest, AContainersPortIsListedAndStoppedThroughDocker) {
    TempDir root;
    const std::string port = std::to_string(unheldPort());
    const std::string calls = root.path() + "/calls";
    const std::string id = "0123456789abcdef" + std::string(48, 'a');
    StandInEngine engine(
        root.path() + "/docker.sock",
        engineAnswer(R"([{"Id": ")" + id +
                     R"(", "Names": ["/shop-db-1"], "Command": "docker-entrypoint.sh postgres",
                        "Labels": {"com.docker.compose.service": "db"},
                        "Ports": [{"IP": "0.0.0.0", "PrivatePort": 5432, "PublicPort": )" +
                     port + R"(, "Type": "tcp"}]}])"));
    root.writeFile("fake/docker", "#!/bin/sh\necho \"$@\" >> '" + calls + "'\n", 0755);
    const std::map<std::string, std::string> environment{
        {"PATH", root.path() + "/fake:" + std::getenv("PATH")},
        {"DOCKER_HOST", "unix://" + root.path() + "/docker.sock"}};

    const CliRun list = runCli({"list", "--json", port}, environment);
    ASSERT_EQ(list.status, 0) << list.err;
    const auto rows = nlohmann::json::parse(list.out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0]["pid"].is_null());
    EXPECT_EQ(rows[0]["frameworkBadge"], "DOCKER");
    EXPECT_EQ(rows[0]["dockerContext"]["containerName"], "shop-db-1");
    EXPECT_EQ(rows[0]["dockerContext"]["containerId"], id);
    EXPECT_EQ(rows[0]["projectLabel"], "db");
    EXPECT_EQ(rows[0]["arguments"], nlohmann::json::array({"docker-entrypoint.sh postgres"}));

    const CliRun kill = runCli({"kill", port}, environment);
    EXPECT_EQ(kill.status, 0) << kill.err;
    EXPECT_EQ(kill.out, "Stopped container shop-db-1 (:" + port + ")\n");
    EXPECT_EQ(engine.requests().size(), 2u) << "one question to the engine per scan";
    std::ifstream recorded(calls);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(recorded), {}), "stop " + id + "\n")
        << "stopped by ID, not by a name docker may take for an ID prefix";
}

}  // namespace
}  // namespace halvo::testing
