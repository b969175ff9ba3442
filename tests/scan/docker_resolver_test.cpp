#include "scan/docker_resolver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_process.h"

namespace halvo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

DockerContext context(std::optional<std::string> name, std::optional<std::string> service) {
    return DockerContext{std::move(name), std::move(service)};
}

// What `docker ps --format` prints with our format for a few containers.
constexpr std::string_view kPsOutput =
    "db|postgres|0.0.0.0:5432->5432/tcp, :::5432->5432/tcp\n"
    "web-1|web|0.0.0.0:8080->80/tcp, [::]:8080->80/tcp\n"
    "cache||6379/tcp\n"
    "range||0.0.0.0:8000-8002->8000-8002/tcp\n"
    "legacy||0.0.0.0:3306->3306/tcp\n";

TEST(ParseDockerPsTest, MatchesTheHostSideOfPublishedPorts) {
    const auto contexts = parseDockerPs(kPsOutput, {5432, 80, 8080, 6379, 8000, 8001, 3306});
    EXPECT_EQ(contexts.size(), 3u);
    EXPECT_EQ(contexts.at(5432), context("db", "postgres"));
    EXPECT_EQ(contexts.at(8080), context("web-1", "web"));
    EXPECT_EQ(contexts.at(3306), context("legacy", std::nullopt));
    // Container side only, exposed only, or inside a range: no match.
    EXPECT_FALSE(contexts.contains(80));
    EXPECT_FALSE(contexts.contains(6379));
    EXPECT_FALSE(contexts.contains(8000));
    EXPECT_FALSE(contexts.contains(8001));
    // Only requested ports get entries.
    EXPECT_THAT(parseDockerPs(kPsOutput, {}), IsEmpty());
}

TEST(ParseDockerPsTest, FieldsAndLinesThatAreOddStillParse) {
    // A later line wins.
    EXPECT_EQ(
        parseDockerPs("a|one|0.0.0.0:5432->5432/tcp\nb|two|[::]:5432->5432/tcp\n", {5432}).at(5432),
        context("b", "two"));
    // No bar: the whole line is searched and becomes the container name.
    EXPECT_EQ(parseDockerPs("odd 0.0.0.0:9000->9000/tcp", {9000}).at(9000),
              context("odd 0.0.0.0:9000->9000/tcp", std::nullopt));
    // Two fields: the whole line is searched; an empty service is absent.
    EXPECT_EQ(parseDockerPs("x|:7000->7000", {7000}).at(7000), context("x", ":7000->7000"));
    EXPECT_EQ(parseDockerPs("|svc|0.0.0.0:7000->7000/tcp", {7000}).at(7000),
              context(std::nullopt, "svc"));
    // Ports are looked for in the third field only, not the names.
    EXPECT_THAT(parseDockerPs("n:7000->|s|80/tcp|0.0.0.0:7000->7000/tcp", {7000}), IsEmpty());
    EXPECT_EQ(parseDockerPs("\n\nx||host.7000->7000\n\n", {7000}).at(7000),
              context("x", std::nullopt));
}

std::vector<PortMetadata> element(std::string path, std::vector<std::string> args, int64_t port,
                                  std::optional<std::string> directory = std::nullopt) {
    return {{ProcessMetadata{std::move(path), std::move(args), std::move(directory)}, port}};
}

// Puts a stand-in `docker` first on PATH for the length of a test.
class DockerToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        savedPath_ = path ? std::optional<std::string>(path) : std::nullopt;
        bin_ = dir_.makeDir("bin");
        argsFile_ = dir_.path() + "/args";
        setenv("PATH", (bin_ + ":" + savedPath_.value_or("/usr/bin:/bin")).c_str(), 1);
    }
    void TearDown() override {
        if (savedPath_) {
            setenv("PATH", savedPath_->c_str(), 1);
        } else {
            unsetenv("PATH");
        }
    }

    // A docker that records the name it was run by and its arguments, one a
    // line, then runs `body`.
    void installDocker(const std::string& body) {
        dir_.writeFile(
            "bin/docker",
            "#!/bin/sh\nprintf '%s\\n' \"${0##*/}\" \"$@\" > '" + argsFile_ + "'\n" + body + "\n",
            0755);
    }
    void installPrinting(std::string_view output) {
        dir_.writeFile("ps-output", std::string(output));
        installDocker("cat '" + dir_.path() + "/ps-output'");
    }
    bool dockerRan() const { return std::filesystem::exists(argsFile_); }
    std::vector<std::string> recordedArguments() const {
        std::ifstream in(argsFile_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Postgres published by the container runtime, a plain node server, and
    // a non-Docker server that merely runs in a folder named for Docker.
    std::vector<PortMetadata> scanned() const {
        std::vector<PortMetadata> all;
        for (auto part :
             {element("/usr/bin/docker-proxy", {"docker-proxy", "-host-port", "5432"}, 5432),
              element("/usr/bin/docker-proxy", {"docker-proxy", "-host-port", "5432"}, 5432),
              element("/usr/bin/node", {"node", "server.js"}, 3000, "/home/ana/shop"),
              element("/usr/bin/node", {"node", "server.js"}, 4000, "/home/a/Docker-demo")}) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }

    testing::TempDir dir_;
    std::string bin_;
    std::string argsFile_;
    std::optional<std::string> savedPath_;
};

TEST_F(DockerToolTest, SelectedPortsGetTheToolsContextsOrAnEmptyOne) {
    installPrinting(kPsOutput);
    const auto contexts = DockerResolver().dockerContexts(scanned());
    EXPECT_EQ(contexts.size(), 2u);
    EXPECT_EQ(contexts.at(5432), context("db", "postgres"));
    EXPECT_EQ(contexts.at(4000), DockerContext{});
    EXPECT_FALSE(contexts.contains(3000));
    EXPECT_THAT(recordedArguments(),
                ElementsAre("docker", "ps", "--format",
                            R"({{.Names}}|{{.Label "com.docker.compose.service"}}|{{.Ports}})"));
    EXPECT_EQ(kDockerPsFormat.size(), 61u);
}

TEST_F(DockerToolTest, NothingLooksLikeDockerSoTheToolNeverRuns) {
    installPrinting(kPsOutput);
    DockerResolver resolver;
    EXPECT_THAT(resolver.dockerContexts(element("/usr/bin/node", {"node"}, 3000, "/srv")),
                IsEmpty());
    EXPECT_THAT(resolver.dockerContexts({}), IsEmpty());
    EXPECT_THAT(resolver.inspectDocker({}), IsEmpty());
    EXPECT_FALSE(dockerRan());
}

TEST_F(DockerToolTest, InvalidBytesInTheOutputAreRepaired) {
    installPrinting(
        "d\xFF"
        "b|svc|0.0.0.0:5432->5432/tcp\n");
    EXPECT_EQ(DockerResolver().inspectDocker({5432}).at(5432), context("d\xEF\xBF\xBD"
                                                                       "b",
                                                                       "svc"));
}

TEST_F(DockerToolTest, AFailingMissingOrHungToolLeavesEmptyContexts) {
    const auto expectEmptyContexts = [&](DockerResolver resolver) {
        const auto contexts = resolver.dockerContexts(scanned());
        EXPECT_EQ(contexts.size(), 2u);
        EXPECT_EQ(contexts.at(5432), DockerContext{});
        EXPECT_EQ(contexts.at(4000), DockerContext{});
    };

    // Output that would match, but a failing status: nothing counts.
    installDocker("cat <<'EOF'\ndb|postgres|0.0.0.0:5432->5432/tcp\nEOF\nexit 1");
    expectEmptyContexts(DockerResolver());
    EXPECT_TRUE(dockerRan());

    installDocker("printf 'db|postgres|0.0.0.0:5432->5432/tcp\\n'\nexec sleep 30");
    const auto started = std::chrono::steady_clock::now();
    expectEmptyContexts(DockerResolver(300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s) << "the hung tool was not cut";

    std::filesystem::remove(bin_ + "/docker");
    setenv("PATH", bin_.c_str(), 1);  // env finds no docker at all
    expectEmptyContexts(DockerResolver());
}

}  // namespace
}  // namespace halvo
