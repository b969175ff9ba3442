// `docker stop` and `pm2 stop` against stand-ins that record their calls:
// what they are asked, and how a refusal or a hang comes back.
#include "kill/container_stopper.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "kill/supervisor_stopper.h"
#include "scan/process_resolver.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using namespace std::chrono_literals;

TEST(ContainerStopperTest, StopsByIdAndSaysWhyItCouldNot) {
    testing::TempDir dir;
    testing::ScopedEnvironment environment;
    environment.prependPath(dir.makeDir("bin"));
    const std::string calls = dir.path() + "/calls";
    const std::string pidFile = dir.path() + "/pid";
    const std::string id(64, 'c');
    const auto named = [](std::string name, std::optional<std::string> containerId) {
        return DockerContext{std::move(name), std::nullopt, std::move(containerId)};
    };
    struct Case {
        std::string body;  // of the stand-in, after it recorded its arguments
        DockerContext container;
        KillOutcome expected;
        std::string recorded;
    };
    const std::vector<Case> cases{
        {"echo web-1", named("web-1", "0123456789abcdef" + id.substr(16)), KillOutcome::killed(),
         "stop 0123456789abcdef" + id.substr(16) + "\n"},
        {"echo 'Error response from daemon: No such container: gone' >&2\n"
         "echo 'second line' >&2\nexit 1",
         named("gone", id),
         KillOutcome::failed("Could not stop container gone: Error response from daemon: "
                             "No such container: gone"),
         "stop " + id + "\n"},
        {"echo $$ > '" + pidFile + "'\nexec sleep 600", named("hung", id),
         KillOutcome::failed("Could not stop container hung: docker did not answer in time or "
                             "could not be started"),
         "stop " + id + "\n"},
        // Never by name (a prefix of another ID), nor anything docker reads as an option.
        {"", named("db", std::nullopt),
         KillOutcome::failed("Could not stop container db: docker gave no container ID"), ""},
        {"", named("opt", "-t0" + id.substr(3)),
         KillOutcome::failed("Could not stop container opt: docker gave no container ID"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(*c.container.containerName);
        std::filesystem::remove(calls);
        dir.writeFile("bin/docker", "#!/bin/sh\necho \"$*\" >> '" + calls + "'\n" + c.body + "\n",
                      0755);
        EXPECT_EQ(DockerContainerStopper(1s).stop(c.container), c.expected);
        std::ifstream recorded(calls);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(recorded), {}), c.recorded);
    }
    EXPECT_TRUE(testing::recordedProcessEnds(pidFile)) << "the hung docker survived the bound";
}

// A unit's stop is driven end to end in the CLI tests; here what is refused.
TEST(SupervisorStopperTest, StopsTheAppOfTheScannedProcessOnlyAndSaysWhyItCouldNot) {
    testing::TempDir dir;
    testing::ScopedEnvironment environment;
    environment.prependPath(dir.makeDir("bin"));
    const std::string calls = dir.path() + "/calls";
    const std::string home = dir.makeDir("pm2");
    const std::string others = dir.makeDir("others");
    ASSERT_EQ(chown(others.c_str(), getuid() + 1, getgid()) == 0, getuid() == 0);
    std::unique_ptr<testing::ListenerProcess> app;
    {
        testing::ScopedEnvironment pm2;
        pm2.set("name", "api");
        pm2.set("pm_id", "3");
        pm2.set("PM2_HOME", home);
        app = testing::ListenerProcess::start({.listenerArgs = {"--v4", "1"}});
    }
    const Supervisor api{Supervisor::Kind::pm2, "api", "3", home};
    const KillTarget scanned{app->pid(), currentStartTime(app->pid()).value()};
    struct Case {
        std::string body;
        Supervisor supervisor;
        KillTarget target;
        KillOutcome expected;
        std::string recorded;
    };
    const std::vector<Case> cases{
        {"", api, scanned, KillOutcome::killed(), home + " stop 3\n"},
        {"printf '\\033[31m[PM2][ERROR] \\033[39m3 : id unknown\\n' >&2; exit 1", api, scanned,
         KillOutcome::failed("Could not stop pm2 app api: [PM2][ERROR] 3 : id unknown"),
         home + " stop 3\n"},
        {"exec sleep 600", api, scanned,
         KillOutcome::failed(
             "Could not stop pm2 app api: pm2 did not answer in time or could not be started"),
         home + " stop 3\n"},
        // Another server under that id now, or not this app's process any more.
        {"", {Supervisor::Kind::pm2, "api", "4", home}, scanned, KillOutcome::stale(), ""},
        {"", api, {scanned.pid, {scanned.startTime.seconds - 1, 0}}, KillOutcome::stale(), ""},
        {"",
         {Supervisor::Kind::pm2, "api", "3", getuid() == 0 ? others : "/"},
         scanned,
         KillOutcome::failed("Could not stop pm2 app api: its pm2 home " +
                             std::string(getuid() == 0 ? others : "/") + " belongs to UID " +
                             std::to_string(getuid() == 0 ? getuid() + 1 : 0) + ", not you"),
         ""},
        {"",
         {Supervisor::Kind::systemd, "web.service", {}, {}, getuid() + 1},
         scanned,
         KillOutcome::failed("Could not stop unit web.service: it belongs to the service manager "
                             "of UID " +
                             std::to_string(getuid() + 1) + ", not yours"),
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        std::filesystem::remove(calls);
        dir.writeFile("bin/pm2",
                      "#!/bin/sh\necho \"$PM2_HOME $*\" >> '" + calls + "'\n" + c.body + "\n",
                      0755);
        EXPECT_EQ(SystemSupervisorStopper(1s).stop(c.supervisor, c.target), c.expected);
        std::ifstream recorded(calls);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(recorded), {}), c.recorded);
    }
}

}  // namespace
}  // namespace halvo
