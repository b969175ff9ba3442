#include "scan/docker_resolver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/stand_in_engine.h"
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

// The engine's own list of the same three containers.
const std::string kListJson =
    R"([{"Id": ")" + kDb +
    R"(", "Names": ["/db"], "Command": "docker-entrypoint.sh postgres",
         "Labels": {"com.docker.compose.service": "postgres"},
         "Ports": [{"IP": "0.0.0.0", "PrivatePort": 5432, "PublicPort": 5432, "Type": "tcp"},
                   {"IP": "::", "PrivatePort": 5432, "PublicPort": 5432, "Type": "tcp"}]},
        {"Id": ")" +
    kWeb + R"(", "Names": ["/proxy/web", "/web-1"], "Command": "nginx -g \"a;\" | tee",
         "Labels": {"com.docker.compose.service": "web"},
         "Ports": [{"IP": "::", "PrivatePort": 80, "PublicPort": 8080, "Type": "tcp"}]},
        {"Id": ")" +
    kCache + R"(", "Names": ["/cache"], "Command": "redis-server", "Labels": {},
         "Ports": [{"PrivatePort": 6379, "Type": "tcp"}]}])";

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
}

TEST(ParseContainerListTest, ReadsWhatDockerPsWouldPrint) {
    EXPECT_EQ(parseContainerList(kListJson), parseDockerPs(kPsOutput));
    struct Case {
        std::string json;
        std::optional<std::vector<DockerContainer>> expected;
    };
    const std::vector<Case> cases = {
        // UDP, ports out of range or of the wrong type or without a host
        // address, a short ID, names that are no container names, a service
        // of the wrong type.
        {R"([{"Id": "db", "Names": ["/", "/-x", "/a b", "ok"], "Command": "sh",
              "Labels": {"com.docker.compose.service": 7},
              "Ports": [{"IP": "::", "PublicPort": 53, "Type": "udp"},
                        {"IP": "::", "PublicPort": 0, "Type": "tcp"},
                        {"IP": "::", "PublicPort": 70000, "Type": "tcp"},
                        {"IP": "::", "PublicPort": "81", "Type": "tcp"},
                        {"PublicPort": 82, "Type": "tcp"}, {"IP": "", "PublicPort": 83, "Type": "tcp"},
                        {"IP": "::", "PublicPort": 9001, "Type": "tcp"},
                        {"IP": "0.0.0.0", "PublicPort": 9000, "Type": "tcp"}]},
             {"Names": "/x", "Labels": [], "Ports": {}, "Command": 1}, 5])",
         std::vector<DockerContainer>{{context("ok", std::nullopt), "sh", {9000, 9001}},
                                      {context(std::nullopt, std::nullopt), "", {}}}},
        {"[]", std::vector<DockerContainer>{}},
        {"", std::nullopt},
        {"{\"message\": \"client version 1.24 is too old\"}", std::nullopt},
        {"[{\"Names\": [\"/cut", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(parseContainerList(c.json), c.expected);
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

// Puts a stand-in `docker` first on PATH for the length of a test, with a
// loopback TCP engine, which the client is asked about; the tool records the
// name it was run by and its arguments, one a line, then runs a body.
class DockerToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        environment_.prependPath(bin_);
        environment_.set("DOCKER_HOST", "tcp://127.0.0.1:1");
        environment_.set("DOCKER_CONTEXT", std::nullopt);
        environment_.set("DOCKER_CONFIG", dir_.makeDir("config"));
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

    // The engine moved elsewhere, but the scan already asked: its answer stands.
    setenv("DOCKER_HOST", "unix:///nowhere.sock", 1);
    EXPECT_EQ(DockerResolver().publishedPorts(listing),
              (std::vector<PublishedPort>{
                  {5432, context("n\xEF\xBF\xBDo", "postgres", kCache), "pg"},
                  {8080, context("web-1", "web", kWeb), "nginx -g \"a;\" | tee"}}));
    EXPECT_FALSE(ran());
}

// An engine behind a unix socket is asked through it, once a scan; the tool
// only when the engine answers with no list.
TEST_F(DockerToolTest, AUnixSocketEngineIsAskedDirectly) {
    installDocker("printf '|db|\"postgres\"|0.0.0.0:3000->3000/tcp|\"\"\\n'");
    const std::string socket = dir_.path() + "/engine.sock";
    environment_.set("DOCKER_HOST", "unix://" + socket);
    testing::StandInEngine engine(socket, testing::engineAnswer(kListJson));
    DockerResolver resolver;
    DockerListing listing;
    EXPECT_EQ(resolver.dockerContexts(kScanned, listing),
              (Contexts{{5432, context("db", "postgres", kDb)}, {4000, {}}}));
    EXPECT_EQ(resolver.publishedPorts(listing),
              (std::vector<PublishedPort>{
                  {5432, context("db", "postgres", kDb), "docker-entrypoint.sh postgres"},
                  {8080, context("web-1", "web", kWeb), "nginx -g \"a;\" | tee"}}));
    EXPECT_EQ(engine.requests(), std::vector<std::string>{"GET /containers/json HTTP/1.0"});
    EXPECT_FALSE(ran());

    // An engine that refuses us, or answers with no list, is left to the
    // client, which agrees on a version with it.
    for (const std::string& answer :
         {std::string(
              "HTTP/1.1 400 Bad Request\r\n\r\n{\"message\": \"client version is too old\"}"),
          testing::engineAnswer("{}")}) {
        const std::string other = dir_.path() + "/refusing.sock";
        testing::StandInEngine refusing(other, answer);
        environment_.set("DOCKER_HOST", "unix://" + other);
        DockerListing refused;
        EXPECT_EQ(resolver.publishedPorts(refused),
                  (std::vector<PublishedPort>{{3000, context("db", "postgres"), ""}}));
        EXPECT_EQ(refusing.requests().size(), 1u);
        EXPECT_TRUE(ran());
        std::filesystem::remove(other);
    }
}

TEST_F(DockerToolTest, TheEngineIsAskedOnlyForDockerProcessesOrAPlausibleLocalEngine) {
    installDocker("printf '|db|\"postgres\"|0.0.0.0:3000->3000/tcp|\"\"\\n'");
    const std::vector<PublishedPort> db{{3000, context("db", "postgres"), ""}};
    DockerResolver resolver;
    if (!std::filesystem::exists("/var/run/docker.sock")) {
        environment_.set("DOCKER_HOST", std::nullopt);
        DockerListing listing;
        EXPECT_THAT(
            resolver.dockerContexts({element("/usr/bin/node", {"node"}, 3000, "/srv")}, listing),
            IsEmpty());
        EXPECT_THAT(resolver.publishedPorts(listing), IsEmpty());
        EXPECT_FALSE(listing.asked) << "no engine: a scan must not pay for asking";
    }

    // Without DOCKER_HOST the client follows its docker context; another one
    // than the default names its own endpoint, perhaps another machine's.
    environment_.set("DOCKER_HOST", std::nullopt);
    const struct {
        std::optional<std::string> variable;
        std::string config;
        bool defaultSocket;
    } contexts[] = {
        {"build-box", "", false},
        {std::nullopt, R"({"auths": {}, "currentContext" : "build-box"})", false},
        {"default", R"({"currentContext": "build-box"})", true},
        {std::nullopt, R"({"currentContext": "default"})", true},
        {std::nullopt, "", true},
    };
    for (const auto& c : contexts) {
        environment_.set("DOCKER_CONTEXT", c.variable);
        dir_.writeFile("config/config.json", c.config);
        EXPECT_EQ(dockerEngineSocket(), c.defaultSocket
                                            ? std::optional<std::string>("/var/run/docker.sock")
                                            : std::nullopt)
            << c.config;
    }
    environment_.set("DOCKER_CONTEXT", std::nullopt);

    // DOCKER_HOST wins: a loopback engine's ports are ours, another machine's
    // are not, even when a Docker process here had it asked.
    for (const char* host : {"tcp://127.0.0.1:1", "tcp://[::1]:2375"}) {
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

TEST_F(DockerToolTest, AFailingMissingOrHungEngineLeavesEmptyContexts) {
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

    // So is an engine socket that takes the connection and never answers;
    // the tool, which would not get an answer either, is not tried.
    const std::string socket = dir_.path() + "/silent.sock";
    const UniqueFd silent = testing::listeningUnixSocket(socket);
    environment_.set("DOCKER_HOST", "unix://" + socket);
    ran();
    DockerListing unanswered;
    EXPECT_EQ(DockerResolver(300ms).dockerContexts(kScanned, unanswered), empty);
    EXPECT_FALSE(ran());

    environment_.set("DOCKER_HOST", "tcp://127.0.0.1:1");
    std::filesystem::remove(bin_ + "/docker");
    setenv("PATH", bin_.c_str(), 1);  // env finds no docker at all
    DockerListing missing;
    EXPECT_EQ(DockerResolver().dockerContexts(kScanned, missing), empty);
    EXPECT_FALSE(dockerEnginePlausible()) << "no docker on PATH";
}

}  // namespace
}  // namespace halvo
