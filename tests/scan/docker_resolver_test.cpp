#include "scan/docker_resolver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/test_process.h"

namespace halvo {
namespace {

using namespace std::chrono_literals;
using ::testing::IsEmpty;
using Contexts = std::unordered_map<int64_t, DockerContext>;

DockerContext context(std::optional<std::string> name, std::optional<std::string> service) {
    return DockerContext{std::move(name), std::move(service)};
}

// What `docker ps --format` prints with our format for a few containers.
const std::string kPsOutput =
    "db|postgres|0.0.0.0:5432->5432/tcp, :::5432->5432/tcp\n"
    "web-1|web|0.0.0.0:8080->80/tcp, [::]:8080->80/tcp\n"
    "cache||6379/tcp\n"
    "range||0.0.0.0:8000-8002->8000-8002/tcp\n"
    "legacy||0.0.0.0:3306->3306/tcp\n";

TEST(ParseDockerPsTest, MatchesTheHostSideOfPublishedPorts) {
    struct Case {
        std::string text;
        std::set<int64_t> ports;
        Contexts expected;
    };
    const std::vector<Case> cases = {
        // Container side only (80), exposed only (6379), inside a range (8000): no match.
        {kPsOutput,
         {5432, 80, 8080, 6379, 8000, 8001, 3306},
         {{5432, context("db", "postgres")},
          {8080, context("web-1", "web")},
          {3306, context("legacy", std::nullopt)}}},
        {"a|one|0.0.0.0:5432->5432/tcp\nb|two|[::]:5432->5432/tcp\n",  // a later line wins
         {5432},
         {{5432, context("b", "two")}}},
        {"|svc|0.0.0.0:7000->7000/tcp", {7000}, {{7000, context(std::nullopt, "svc")}}},
        // Lines with another number of fields cannot be read apart: dropped.
        {"odd 0.0.0.0:7000->7000/tcp\nx|:7000->7000\nn:7000->|s|80/tcp|0.0.0.0:7000->7000/tcp",
         {7000},
         {}},
        {"\n\nx||host.7000->7000\n\n", {7000}, {{7000, context("x", std::nullopt)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseDockerPs(c.text, c.ports), c.expected);
    }
}

PortMetadata element(std::string path, std::vector<std::string> args, int64_t port,
                     std::optional<std::string> directory = std::nullopt) {
    return {ProcessMetadata{std::move(path), std::move(args), std::move(directory)}, port};
}

// Postgres published by the container runtime, a plain node server, and a
// non-Docker server that merely runs in a folder named for Docker.
const std::vector<PortMetadata> kScanned = {
    element("/usr/bin/docker-proxy", {"docker-proxy", "-host-port", "5432"}, 5432),
    element("/usr/bin/node", {"node", "server.js"}, 3000, "/home/ana/shop"),
    element("/usr/bin/node", {"node", "server.js"}, 4000, "/home/a/Docker-demo"),
};

// Puts a stand-in `docker` first on PATH for the length of a test; it records
// the name it was run by and its arguments, one a line, then runs a body.
class DockerToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* path = std::getenv("PATH")) {
            savedPath_ = path;
        }
        setenv("PATH", (bin_ + ":" + savedPath_.value_or("/usr/bin:/bin")).c_str(), 1);
    }
    void TearDown() override {
        if (savedPath_) {
            setenv("PATH", savedPath_->c_str(), 1);
        } else {
            unsetenv("PATH");
        }
    }
    void installDocker(const std::string& body) {
        dir_.writeFile(
            "bin/docker",
            "#!/bin/sh\nprintf '%s\\n' \"${0##*/}\" \"$@\" > '" + argsFile_ + "'\n" + body + "\n",
            0755);
    }

    testing::TempDir dir_;
    const std::string bin_ = dir_.makeDir("bin");
    const std::string argsFile_ = dir_.path() + "/args";
    std::optional<std::string> savedPath_;
};

TEST_F(DockerToolTest, SelectedPortsGetTheToolsContextsOrAnEmptyOne) {
    // The last line, with an invalid byte in its name, wins for 5432.
    installDocker("cat <<'EOF'\n" + kPsOutput + "n\xFFo|postgres|0.0.0.0:5432->5432/tcp\nEOF");
    EXPECT_EQ(DockerResolver().dockerContexts(kScanned),
              (Contexts{{5432, context("n\xEF\xBF\xBDo", "postgres")}, {4000, {}}}));
    std::ifstream recorded(argsFile_);
    EXPECT_EQ(
        std::string(std::istreambuf_iterator<char>(recorded), {}),
        "docker\nps\n--format\n{{.Names}}|{{.Label \"com.docker.compose.service\"}}|{{.Ports}}\n");
}

TEST_F(DockerToolTest, NothingLooksLikeDockerSoTheToolNeverRuns) {
    installDocker("printf 'db|postgres|0.0.0.0:3000->3000/tcp\\n'");
    DockerResolver resolver;
    EXPECT_THAT(resolver.dockerContexts({element("/usr/bin/node", {"node"}, 3000, "/srv")}),
                IsEmpty());
    EXPECT_THAT(resolver.dockerContexts({}), IsEmpty());
    EXPECT_THAT(resolver.inspectDocker({}), IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(argsFile_));
}

TEST_F(DockerToolTest, AFailingMissingOrHungToolLeavesEmptyContexts) {
    const Contexts empty{{5432, {}}, {4000, {}}};
    // Output that would match, but a failing status: nothing counts.
    installDocker("printf 'db|postgres|0.0.0.0:5432->5432/tcp\\n'\nexit 1");
    EXPECT_EQ(DockerResolver().dockerContexts(kScanned), empty);
    EXPECT_TRUE(std::filesystem::exists(argsFile_));

    // A hung tool is cut at the bound and does not outlive it; unbounded, it
    // would outlast the test's own time limit.
    const std::string pidFile = dir_.path() + "/pid";
    installDocker("printf 'db|postgres|0.0.0.0:5432->5432/tcp\\n'\necho $$ > '" + pidFile +
                  "'\nexec sleep 600");
    EXPECT_EQ(DockerResolver(300ms).dockerContexts(kScanned), empty);
    EXPECT_TRUE(testing::recordedProcessEnds(pidFile)) << "the hung tool survived the bound";

    std::filesystem::remove(bin_ + "/docker");
    setenv("PATH", bin_.c_str(), 1);  // env finds no docker at all
    EXPECT_EQ(DockerResolver().dockerContexts(kScanned), empty);
}

}  // namespace
}  // namespace halvo
