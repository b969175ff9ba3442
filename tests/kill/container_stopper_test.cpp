// `docker stop` against a stand-in docker that records its calls: what it is
// asked, and how a refusal (coloured, as pm2 writes them) or a hang comes back.
#include "kill/container_stopper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include "kill/supervisor_stopper.h"
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
        {"printf '\\033[31mError response from daemon: \\033[39mNo such container: gone\\n' "
         ">&2\necho 'second line' >&2\nexit 1",
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

// Stops through pm2 and systemctl are driven end to end in the CLI tests.
TEST(SupervisorStopperTest, AnotherUsersUnitIsNotStopped) {
    EXPECT_EQ(SystemSupervisorStopper().stop({{}, "web.service", {}, {}, 4242424242}, {1, {}}),
              KillOutcome::failed("Could not stop unit web.service: it belongs to the service "
                                  "manager of UID 4242424242, not yours"));
}

}  // namespace
}  // namespace halvo
