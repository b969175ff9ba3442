// `docker stop` against a stand-in docker that records its calls: what it is
// asked, and how a refusal or a hang comes back.
#include "kill/container_stopper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/test_process.h"

namespace halvo {
namespace {

using namespace std::chrono_literals;

TEST(ContainerStopperTest, StopsByNameAndSaysWhyItCouldNot) {
    testing::TempDir dir;
    testing::ScopedEnvironment environment;
    environment.prependPath(dir.makeDir("bin"));
    const std::string calls = dir.path() + "/calls";
    const std::string pidFile = dir.path() + "/pid";
    struct Case {
        std::string body;  // of the stand-in, after it recorded its arguments
        std::string name;
        KillOutcome expected;
        std::string recorded;
    };
    const std::vector<Case> cases{
        {"echo web-1", "web-1", KillOutcome::killed(), "stop web-1\n"},
        {"echo 'Error response from daemon: No such container: gone' >&2\n"
         "echo 'second line' >&2\nexit 1",
         "gone",
         KillOutcome::failed("Could not stop container gone: Error response from daemon: "
                             "No such container: gone"),
         "stop gone\n"},
        {"exit 125", "mute",
         KillOutcome::failed("Could not stop container mute: docker exited with status 125"),
         "stop mute\n"},
        {"echo $$ > '" + pidFile + "'\nexec sleep 600", "hung",
         KillOutcome::failed("Could not stop container hung: docker did not answer in time or "
                             "could not be started"),
         "stop hung\n"},
        // Never handed to docker as an option.
        {"", "-t0", KillOutcome::failed("Could not stop container -t0: not a container name"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(calls);
        dir.writeFile("bin/docker", "#!/bin/sh\necho \"$*\" >> '" + calls + "'\n" + c.body + "\n",
                      0755);
        EXPECT_EQ(DockerContainerStopper(1s).stop(c.name), c.expected);
        std::ifstream recorded(calls);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(recorded), {}), c.recorded);
    }
    EXPECT_TRUE(testing::recordedProcessEnds(pidFile)) << "the hung docker survived the bound";
}

}  // namespace
}  // namespace halvo
