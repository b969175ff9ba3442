#include "scan/docker_resolver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "scan/docker_container_list.h"
#include "scan/docker_engine_location.h"
#include "scan/docker_ps_listing.h"
#include "support/stand_in_engine.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using namespace std::chrono_literals;
using ::testing::IsEmpty;
using Contexts = std::unordered_map<int64_t, DockerContext>;
using Containers = std::vector<DockerContainer>;

// Full IDs as `docker ps --no-trunc` prints them.
const std::string kDb(64, 'd');
const std::string kWeb = "0123456789abcdef" + std::string(48, 'e');

// What `docker ps --no-trunc --format` prints with our format: service and
// command are Go string literals, and the command may hold "|".
const std::string kPsOutput = kDb +
                              "|db|\"postgres\"|0.0.0.0:5432->5432/tcp, :::5432->5432/tcp|"
                              "\"docker-entrypoint.sh postgres\"\n" +
                              kWeb +
                              "|proxy/web,web-1|\"web\"|0.0.0.0:8080->80/tcp, [::]:8080->80/tcp|"
                              "\"nginx -g \\\"a;\\\" | tee\"\n";

TEST(DockerListingTest, BothListingsReadWhatTheEngineListsAndNothingElse) {
    const std::pair<std::string, Containers> cases[] = {
        // Ranges on both stacks; UDP and ports that are no ports are not TCP
        // listeners. A short ID is no ID to stop by.
        {"db|r|\"\"|0.0.0.0:8000-8002->8000-8002/tcp, [::]:8001-8003->8001-8003/tcp, "
         "127.0.0.1:53->53/udp, 0.0.0.0:0->1/tcp, 0.0.0.0:+5->5/tcp, 5000->5000/tcp, "
         "0.0.0.0:7000->7000/tcp|\"\"",
         {{{"r", std::nullopt}, "", {{7000, 7000}, {8000, 8003}}}}},
        // Escapes decoded, invalid bytes repaired. A label holding a line break
        // and "|" stays one service: it forges no row and shifts no field. A
        // line with fewer fields cannot be read apart: dropped.
        {kDb + "|app|\"x\\n" + kWeb + "|forged|\\\"\\\"|0.0.0.0:22->22/tcp|\\\"sh\\\"\"|" +
             "0.0.0.0:7001->7001/tcp|\"\\xff\\u001b[2J\\n\"\n" + kDb + "|x|\"s\"|0.0.0.0:1->1/tcp",
         {{{"app", "x\n" + kWeb + "|forged|\"\"|0.0.0.0:22->22/tcp|\"sh\"", kDb},
           "\uFFFD\x1b[2J\n",
           {{7001, 7001}}}}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(parseDockerPs(text), expected) << text;
    }

    // The engine's list: the own name, the compose service and the command;
    // only TCP ports with a host address, full IDs. What is no list is none.
    EXPECT_EQ(parseContainerList(R"([{"Id": ")" + kWeb + R"(", "Command": "nginx",
              "Names": ["/proxy/web", "/web-1"], "Labels": {"com.docker.compose.service": "web"},
              "Ports": [{"IP": "::", "PublicPort": 53, "Type": "udp"},
                        {"IP": "", "PublicPort": 83, "Type": "tcp"},
                        {"IP": "0.0.0.0", "PublicPort": 8080, "Type": "tcp"}]}, {"Id": "db"}])"),
              (Containers{{{"web-1", "web", kWeb}, "nginx", {{8080, 8080}}}, {}}));
    EXPECT_EQ(parseContainerList("{\"message\": \"too old\"}"), std::nullopt);
}

// A listing may repeat the widest range; it must cost one range, not a port
// list per repetition (2,000 of them once took gigabytes and ended the scan).
TEST(DockerListingTest, RepeatedRangesStayOneRangeAndEachPortOneRow) {
    std::string ports = "0.0.0.0:1-65535->80/tcp";
    for (int i = 0; i < 11; ++i) {  // 2,048 of them
        ports += ", " + ports;
    }
    const Containers containers = parseDockerPs("|a|\"\"|" + ports + "|\"x\"\n|b|\"\"|" + ports +
                                                "|\"y\"\n|c|\"\"|0.0.0.0:9-10->9-10/tcp|\"\"");
    ASSERT_EQ(containers.size(), 3u);
    EXPECT_EQ(containers[0].tcpPorts.ranges(), (std::vector<PortRange>{{1, 65535}}));

    // A later container wins; each port is one entry.
    const auto published = publishedPortsOf(containers);
    ASSERT_EQ(published.size(), 65535u);
    EXPECT_EQ(published[8], (PublishedPort{9, {"c", std::nullopt}, ""}));
}

// Postgres published by the container runtime, a plain node server, and a
// non-Docker server that merely runs in a folder named for Docker.
const std::vector<PortMetadata> kScanned = {
    {{"/usr/bin/docker-proxy", {"docker-proxy", "-host-port", "5432"}, std::nullopt}, 5432},
    {{"/usr/bin/node", {"node", "server.js"}, "/home/ana/shop"}, 3000},
    {{"/usr/bin/node", {"node", "server.js"}, "/home/a/Docker-demo"}, 4000},
};

// Puts a stand-in `docker` first on PATH for the length of a test, with a
// loopback TCP engine, which the client is asked about; the tool notes that
// it ran, then runs a body.
class DockerToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        environment_.prependPath(bin_);
        environment_.set("DOCKER_HOST", "tcp://127.0.0.1:1");
        environment_.set("DOCKER_CONTEXT", std::nullopt);
        environment_.set("DOCKER_CONFIG", dir_.makeDir("config"));
    }
    void installDocker(const std::string& body) {
        dir_.writeFile("bin/docker", "#!/bin/sh\n: > '" + ranFile_ + "'\n" + body + "\n", 0755);
    }
    bool ran() {
        const bool found = std::filesystem::exists(ranFile_);
        std::filesystem::remove(ranFile_);
        return found;
    }

    testing::TempDir dir_;
    const std::string bin_ = dir_.makeDir("bin");
    const std::string ranFile_ = dir_.path() + "/ran";
    testing::ScopedEnvironment environment_;
};

// An engine behind a socket is asked through it; one that refuses us is left
// to the client, which agrees on a version with it. An answer longer than the
// cap is none. Once asked, the scan's answer stands.
TEST_F(DockerToolTest, TheSocketIsAskedAndTheToolWhenItGivesNoList) {
    installDocker("cat <<'EOF'\n" + kPsOutput + std::string(64, 'c') +
                  "|n\xFFo|\"\"|0.0.0.0:5432->5432/tcp|\"pg\"\nEOF");
    const std::string socket = dir_.path() + "/engine.sock";
    environment_.set("DOCKER_HOST", "unix://" + socket);
    const std::string list = R"([{"Id": ")" + kDb + R"(", "Names": ["/db"], "Ports": [
        {"IP": "::", "PublicPort": 5432, "Type": "tcp"},
        {"IP": "::", "PublicPort": 8080, "Type": "tcp"}]}])";
    for (const auto& [answer, name] :
         std::vector<std::pair<std::string, std::optional<std::string>>>{
             {testing::engineAnswer(list), "db"},
             {"HTTP/1.1 400 Bad Request\r\n\r\n{}", "n\uFFFDo"},
             {testing::engineAnswer(list + std::string(kOutputCap, ' ')), std::nullopt}}) {
        testing::StandInEngine engine(socket, answer);
        DockerListing listing;
        EXPECT_EQ(DockerResolver().dockerContexts(kScanned, listing).at(5432).containerName, name);
        EXPECT_EQ(DockerResolver().publishedPorts(listing).size(), name ? 2u : 0u);
        EXPECT_EQ(engine.requests(), std::vector<std::string>{"GET /containers/json HTTP/1.0"});
        EXPECT_EQ(ran(), answer.starts_with("HTTP/1.1 400"));
        std::filesystem::remove(socket);
    }
}

// Another machine's ports are never ours, a machine without an engine never
// pays for asking, and no engine holds a scan past the bound.
TEST_F(DockerToolTest, OnlyALocalEngineIsAskedAndNeverPastTheBound) {
    installDocker("printf '|db|\"postgres\"|0.0.0.0:3000->3000/tcp|\"\"\\n'");
    DockerResolver resolver;
    // Without DOCKER_HOST the client follows its docker context; another one
    // than the default names its own endpoint, perhaps another machine's.
    environment_.set("DOCKER_HOST", std::nullopt);
    dir_.writeFile("config/config.json", R"({"auths": {}, "currentContext" : "build-box"})");
    EXPECT_FALSE(dockerEngineSocket());
    environment_.set("DOCKER_CONTEXT", "default");
    EXPECT_TRUE(dockerEngineSocket()) << "the variable wins over the file";
    // DOCKER_HOST wins: a loopback engine's ports are ours, another machine's
    // are not, even when a Docker process here had it asked.
    for (const auto& [host, local] : std::vector<std::pair<std::string, bool>>{
             {"tcp://[::1]:2375", true}, {"ssh://me@build-box", false}}) {
        environment_.set("DOCKER_HOST", host);
        DockerListing listing;
        EXPECT_EQ(resolver.dockerContexts(kScanned, listing).size(), 2u);
        EXPECT_TRUE(ran()) << "a Docker process here has the engine asked";
        EXPECT_EQ(resolver.publishedPorts(listing).size(), local ? 1u : 0u) << host;
    }

    // A hung tool is cut at the bound and does not outlive it; unbounded, it
    // would outlast the test's own time limit.
    environment_.set("DOCKER_HOST", "tcp://127.0.0.1:1");
    const Contexts empty{{5432, {}}, {4000, {}}};
    const std::string pidFile = dir_.path() + "/pid";
    installDocker("echo $$ > '" + pidFile + "'\nexec sleep 600");
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

    environment_.set("PATH", dir_.makeDir("empty"));
    DockerListing none;
    EXPECT_THAT(resolver.publishedPorts(none), IsEmpty());
    EXPECT_FALSE(none.asked) << "no docker on PATH: a scan must not pay for asking";
}

}  // namespace
}  // namespace halvo
