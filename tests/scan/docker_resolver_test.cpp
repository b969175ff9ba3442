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

// Full IDs as `docker ps --no-trunc` prints them.
const std::string kDb(64, 'd');
const std::string kWeb = "0123456789abcdef" + std::string(48, 'e');
const std::string kCache(64, 'c');

DockerContext context(std::optional<std::string> name, std::optional<std::string> service,
                      std::optional<std::string> id = std::nullopt) {
    return DockerContext{std::move(name), std::move(service), std::move(id)};
}

// What `docker ps --no-trunc --format` prints with our format: service and
// command are Go string literals, and the command may hold "|".
const std::string kPsOutput = kDb +
                              "|db|\"postgres\"|0.0.0.0:5432->5432/tcp, :::5432->5432/tcp|"
                              "\"docker-entrypoint.sh postgres\"\n" +
                              kWeb +
                              "|proxy/web,web-1|\"web\"|0.0.0.0:8080->80/tcp, [::]:8080->80/tcp|"
                              "\"nginx -g \\\"a;\\\" | tee\"\n" +
                              kCache + "|cache|\"\"|6379/tcp|\"redis-server\"\n";

TEST(ParseDockerPsTest, ReadsNamesPublishedTcpPortsAndCommands) {
    struct Case {
        std::string text;
        std::vector<DockerContainer> expected;
    };
    const std::vector<Case> cases = {
        // IPv4 and IPv6 forms of one port are one; the own name, not the link
        // alias; exposed-only ports have no host side.
        {kPsOutput,
         {{context("db", "postgres", kDb), "docker-entrypoint.sh postgres", {5432}},
          {context("web-1", "web", kWeb), "nginx -g \"a;\" | tee", {8080}},
          {context("cache", std::nullopt, kCache), "redis-server", {}}}},
        // Ranges on both stacks; UDP is not a TCP listener. No ID, a short or
        // an upper-case one: no ID to stop the container by.
        {"|r|\"\"|0.0.0.0:8000-8002->8000-8002/tcp, [::]:8000-8002->8000-8002/tcp, "
         "127.0.0.1:53->53/udp, 0.0.0.0:7000->7000/tcp|\"\"\n"
         "db|s|\"\"||\"\"\n" +
             std::string(64, 'D') + "|u|\"\"||\"\"",
         {{context("r", std::nullopt), "", {7000, 8000, 8001, 8002}},
          {context("s", std::nullopt), "", {}},
          {context("u", std::nullopt), "", {}}}},
        // Ports that are not ports, and a host side without an address.
        {kDb + "|x|\"\"|0.0.0.0:0->1/tcp, 0.0.0.0:70000->1/tcp, 0.0.0.0:9-8->1/tcp, "
               "0.0.0.0:+5->5/tcp, 5000->5000/tcp, 0.0.0.0:->1/tcp, 0.0.0.0:5001->5001/tcp, "
               "0.0.0.0:5002->5002/tcpx|sh",
         {{context("x", std::nullopt, kDb), "sh", {5001}}}},
        // Escapes decoded, invalid bytes repaired; a broken literal kept as it stands.
        {kDb + "||\"svc\"|0.0.0.0:7000->7000/tcp|\"\\xff\\u00e9\\n\\t\\\\\"\n" + kDb +
             "|b|\"\"||\"a\\q\"",
         {{context(std::nullopt, "svc", kDb), "\uFFFD\u00e9\n\t\\", {7000}},
          {context("b", std::nullopt, kDb), "a\\q", {}}}},
        // A label holding a line break and "|" stays one service: it forges no
        // row and shifts no field.
        {kDb + "|app|\"x\\n" + kWeb +
             "|forged|\\\"\\\"|0.0.0.0:22->22/tcp|\\\"sh\\\"\"|"
             "0.0.0.0:7001->7001/tcp|\"node\"",
         {{context("app", "x\n" + kWeb + "|forged|\"\"|0.0.0.0:22->22/tcp|\"sh\"", kDb),
           "node",
           {7001}}}},
        // Lines with fewer fields, or a service that is no closed literal,
        // cannot be read apart: dropped.
        {"odd 0.0.0.0:7000->7000/tcp\n\n" + kDb + "|x|\"s\"|0.0.0.0:7000->7000/tcp\n" + kDb +
             "|x|s|0.0.0.0:7000->7000/tcp|\"\"\n" + kDb + "|x|\"s|0.0.0.0:7000->7000/tcp|\"\"\n",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseDockerPs(c.text), c.expected);
    }
    // A later container wins a port two of them name.
    EXPECT_EQ(
        contextsOfPorts(parseDockerPs(kPsOutput + "|b|\"\"|[::]:5432->5432/tcp|\"\""),
                        {5432, 80, 8080, 6379}),
        (Contexts{{5432, context("b", std::nullopt)}, {8080, context("web-1", "web", kWeb)}}));
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

// Puts a stand-in `docker` first on PATH for the length of a test, with no
// sign of a Docker engine; it records the name it was run by and its
// arguments, one a line, then runs a body.
class DockerToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        environment_.prependPath(bin_);
        environment_.set("DOCKER_HOST", std::nullopt);
        environment_.set("DOCKER_CONTEXT", std::nullopt);
        environment_.set("DOCKER_CONFIG", dir_.makeDir("config"));
        environment_.set("XDG_RUNTIME_DIR", runtime_);
    }
    void installDocker(const std::string& body) {
        dir_.writeFile(
            "bin/docker",
            "#!/bin/sh\nprintf '%s\\n' \"${0##*/}\" \"$@\" > '" + argsFile_ + "'\n" + body + "\n",
            0755);
    }
    bool ran() {
        const bool found = std::filesystem::exists(argsFile_);
        std::filesystem::remove(argsFile_);
        return found;
    }

    testing::TempDir dir_;
    const std::string bin_ = dir_.makeDir("bin");
    const std::string runtime_ = dir_.makeDir("run");
    const std::string argsFile_ = dir_.path() + "/args";
    testing::ScopedEnvironment environment_;
};

TEST_F(DockerToolTest, OneRunAnswersTheContextsAndThePublishedPorts) {
    // The last line, with an invalid byte in its name, wins for 5432.
    installDocker("cat <<'EOF'\n" + kPsOutput + kCache +
                  "|n\xFFo|\"postgres\"|0.0.0.0:5432->5432/tcp|\"pg\"\nEOF");
    DockerListing listing;
    EXPECT_EQ(DockerResolver().dockerContexts(kScanned, listing),
              (Contexts{{5432, context("n\xEF\xBF\xBDo", "postgres", kCache)}, {4000, {}}}));
    std::ifstream recorded(argsFile_);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(recorded), {}),
              "docker\nps\n--no-trunc\n--format\n{{.ID}}|{{.Names}}|{{printf \"%q\" (.Label "
              "\"com.docker.compose.service\")}}|{{.Ports}}|{{.Command}}\n");
    ASSERT_TRUE(ran());

    // No engine in sight, but the scan already asked: its answer stands.
    EXPECT_EQ(DockerResolver().publishedPorts(listing),
              (std::vector<PublishedPort>{
                  {5432, context("n\xEF\xBF\xBDo", "postgres", kCache), "pg"},
                  {8080, context("web-1", "web", kWeb), "nginx -g \"a;\" | tee"}}));
    EXPECT_FALSE(ran());
}

TEST_F(DockerToolTest, TheToolRunsOnlyForDockerProcessesOrAPlausibleLocalEngine) {
    if (std::filesystem::exists("/var/run/docker.sock") ||
        std::filesystem::exists("/run/docker.sock")) {
        GTEST_SKIP() << "this machine runs a Docker engine";
    }
    installDocker("printf '|db|\"postgres\"|0.0.0.0:3000->3000/tcp|\"\"\\n'");
    DockerResolver resolver;
    DockerListing listing;
    EXPECT_THAT(
        resolver.dockerContexts({element("/usr/bin/node", {"node"}, 3000, "/srv")}, listing),
        IsEmpty());
    EXPECT_THAT(resolver.dockerContexts({}, listing), IsEmpty());
    EXPECT_THAT(resolver.publishedPorts(listing), IsEmpty());
    EXPECT_FALSE(ran()) << "no engine: a scan must not pay for docker";

    const std::vector<PublishedPort> db{{3000, context("db", "postgres"), ""}};
    dir_.writeFile("run/docker.sock", "");  // the rootless engine's socket
    DockerListing rootless;
    EXPECT_EQ(resolver.publishedPorts(rootless), db);
    EXPECT_TRUE(ran());
    // Another docker context names its own endpoint, perhaps another machine's.
    const struct {
        std::optional<std::string> variable;
        std::string config;
        bool asked;
    } contexts[] = {
        {"build-box", "", false},
        {std::nullopt, R"({"auths": {}, "currentContext" : "build-box"})", false},
        {"default", R"({"currentContext": "build-box"})", true},
        {std::nullopt, R"({"currentContext": "default"})", true},
    };
    for (const auto& c : contexts) {
        environment_.set("DOCKER_CONTEXT", c.variable);
        dir_.writeFile("config/config.json", c.config);
        DockerListing listing;
        EXPECT_EQ(resolver.publishedPorts(listing).empty(), !c.asked) << c.config;
        EXPECT_EQ(ran(), c.asked) << c.config;
    }
    environment_.set("DOCKER_CONTEXT", std::nullopt);
    // DOCKER_HOST wins over the sockets: a loopback engine's ports are ours,
    // another machine's are not, even when a Docker process here had it asked.
    for (const char* host : {"tcp://127.0.0.1:1", "unix:///srv/d.sock", "tcp://[::1]:2375"}) {
        setenv("DOCKER_HOST", host, 1);
        DockerListing local;
        EXPECT_EQ(resolver.publishedPorts(local), db) << host;
        EXPECT_TRUE(ran()) << host;
    }
    for (const char* host : {"ssh://me@build-box", "tcp://build-box:2376", "tcp://10.0.0.2"}) {
        setenv("DOCKER_HOST", host, 1);
        DockerListing remote;
        EXPECT_THAT(resolver.publishedPorts(remote), IsEmpty()) << host;
        EXPECT_FALSE(ran()) << host;
        EXPECT_EQ(resolver.dockerContexts(kScanned, remote).size(), 2u);
        EXPECT_TRUE(ran());
        EXPECT_THAT(resolver.publishedPorts(remote), IsEmpty()) << host;
    }
}

TEST_F(DockerToolTest, AFailingMissingOrHungToolLeavesEmptyContexts) {
    const Contexts empty{{5432, {}}, {4000, {}}};
    // Output that would match, but a failing status: nothing counts, and the
    // scan does not ask again.
    installDocker("printf '|db|\"postgres\"|0.0.0.0:5432->5432/tcp|\"\"\\n'\nexit 1");
    DockerListing failed;
    EXPECT_EQ(DockerResolver().dockerContexts(kScanned, failed), empty);
    EXPECT_TRUE(ran());
    EXPECT_THAT(DockerResolver().publishedPorts(failed), IsEmpty());
    EXPECT_FALSE(ran());

    // A hung tool is cut at the bound and does not outlive it; unbounded, it
    // would outlast the test's own time limit.
    const std::string pidFile = dir_.path() + "/pid";
    installDocker("printf '|db|\"postgres\"|0.0.0.0:5432->5432/tcp|\"\"\\n'\necho $$ > '" +
                  pidFile + "'\nexec sleep 600");
    DockerListing hung;
    EXPECT_EQ(DockerResolver(300ms).dockerContexts(kScanned, hung), empty);
    EXPECT_TRUE(testing::recordedProcessEnds(pidFile)) << "the hung tool survived the bound";

    std::filesystem::remove(bin_ + "/docker");
    setenv("PATH", bin_.c_str(), 1);  // env finds no docker at all
    DockerListing missing;
    EXPECT_EQ(DockerResolver().dockerContexts(kScanned, missing), empty);
    setenv("DOCKER_HOST", "tcp://127.0.0.1:1", 1);
    EXPECT_FALSE(dockerEnginePlausible()) << "no docker on PATH";
}

}  // namespace
}  // namespace halvo
