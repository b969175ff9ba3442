#include "scan/port_scanner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <map>

#include "support/test_process.h"

namespace halvo {
namespace {

// The scan's back-ends as a test writes them, noting what they were asked:
// discovery (with `looked` false, one that could not look), the owners and
// metadata of processes, and the containers behind ports.
class FakeSystem final : public PortDiscovering, public ProcessResolving, public DockerResolving {
  public:
    std::vector<LsofRow> rows() override { return ++discoveries, found; }
    std::optional<Discovery> discover() override {
        return looked ? std::optional(Discovery{rows(), listeners}) : std::nullopt;
    }
    std::unordered_map<int32_t, ProcessMetadata> metadata(
        const std::vector<int32_t>& pids) override {
        std::unordered_map<int32_t, ProcessMetadata> result;
        for (int32_t pid : pids) {
            metadataAsked.push_back(pid);
            if (metadataByPid.contains(pid)) {
                result[pid] = metadataByPid.at(pid);
            }
        }
        return result;
    }
    std::optional<ProcessIdentitySnapshot> identitySnapshot(int32_t pid) override {
        return owners.contains(pid)
                   ? std::optional(ProcessIdentitySnapshot{owners.at(pid), {1700000000 + pid, pid}})
                   : std::nullopt;
    }
    std::unordered_map<int64_t, DockerContext> dockerContexts(const std::vector<PortMetadata>&,
                                                              DockerListing&) override {
        return contexts;
    }
    std::vector<PublishedPort> publishedPorts(DockerListing&) override { return published; }
    // A process of ours with the given metadata.
    void add(int32_t pid, ProcessMetadata metadata = {"/usr/bin/node", {"node"}, std::nullopt}) {
        owners[pid] = getuid();
        metadataByPid[pid] = std::move(metadata);
    }

    std::vector<LsofRow> found;
    std::vector<SeenListener> listeners;
    bool looked = true;
    int discoveries = 0;
    std::map<int32_t, uint32_t> owners;
    std::map<int32_t, ProcessMetadata> metadataByPid;
    std::vector<int32_t> metadataAsked;
    std::unordered_map<int64_t, DockerContext> contexts;
    std::vector<PublishedPort> published;
};

// A scanner over `system`, and over `fallback` when it cannot look.
PortScanner scannerOf(const std::shared_ptr<FakeSystem>& system, PortScannerOptions options = {},
                      std::shared_ptr<FakeSystem> fallback = std::make_shared<FakeSystem>()) {
    return PortScanner(system, system, system, std::move(fallback), options);
}

using Ids = std::vector<std::string>;

// The rows' ids ("PID-PORT"), in scan order.
Ids ids(const std::vector<PortProcess>& rows) {
    Ids result;
    for (const PortProcess& p : rows) {
        result.push_back(p.id());
    }
    return result;
}

// lsof reads the /proc native discovery has just read: an empty answer is an
// answer, and lsof runs only when native discovery could not look.
TEST(PortScannerTest, TheFallbackRunsOnlyWhenNativeDiscoveryCouldNotLook) {
    for (const bool looked : {true, false}) {
        auto system = std::make_shared<FakeSystem>();
        auto fallback = std::make_shared<FakeSystem>();
        fallback->found = {{11, "node", 4000}};
        system->add(11);
        system->looked = looked;
        system->listeners = {{5432, getuid() + 1, {}}};
        const PortScan scan = scannerOf(system, {}, fallback).scanAll();
        EXPECT_EQ(ids(scan.processes), looked ? Ids{} : Ids{"11-4000"});
        EXPECT_EQ(fallback->discoveries, looked ? 0 : 1);
        // The fallback's rows come with no sockets: nothing can be called foreign.
        EXPECT_EQ(scan.foreign.size(), looked ? 1u : 0u);
    }
}

// Rows merged by PID and port, sorted by port then PID; the development
// filter goes by name, then markers in the command, and exclusions win. A
// container behind the port wins the badge, then the project's manifest.
// Published ports get a row unless an own process (rootlesskit, for the
// rootless engine) holds them.
TEST(PortScannerTest, MergedFilteredBadgedAndContainerRowsForPortsNoOwnRowHolds) {
    testing::TempDir tmp;
    tmp.writeFile("shop/package.json", R"({"dependencies": {"express": "4"}})");
    auto h = std::make_shared<FakeSystem>();
    h->found = {{6, "node", 8005},     {1, "Python", 8000},      {3, "myapp", 8002},
                {5, "Xwayland", 8004}, {6, "node", 8005},        {3, "myapp", 8005},
                {11, "node", 3000},    {30, "rootlesskit", 8080}};
    h->add(1, {"/usr/bin/Python", {"Python", "app.py"}, std::nullopt});
    h->add(3, {"/Users/ana/dev/myapp/myapp", {"./myapp"}, std::nullopt});
    h->add(5, {"/usr/bin/Xwayland", {"Xwayland", "-listen", "dev", "server"}, std::nullopt});
    h->owners[6] = getuid();  // unreadable metadata: the discovered name stands in
    h->add(11, {"/usr/bin/node", {"node", "server.js"}, tmp.makeDir("shop/src")});
    h->add(30, {"/usr/bin/rootlesskit", {"rootlesskit"}, "/home/ana/docker"});
    h->contexts[8080] = DockerContext{"web-1", "web"};
    h->published = {{5432, {"db", "postgres"}, "docker-entrypoint.sh postgres"},
                    {8080, {"web-1", "web"}, "nginx -g daemon off;"}};

    const PortScan scan = scannerOf(h, {.home = tmp.path()}).scanAll();
    const std::vector<PortProcess>& rows = scan.processes;
    ASSERT_EQ(ids(rows),
              (Ids{"11-3000", "0-5432", "1-8000", "3-8002", "3-8005", "6-8005", "30-8080"}));
    // What the filter hid still holds its port.
    EXPECT_EQ(scan.notDevelopment, (std::vector<LsofRow>{{5, "Xwayland", 8004}}));
    EXPECT_EQ(rows[0].projectRoot, tmp.path() + "/shop");
    EXPECT_EQ(rows[0].frameworkBadge, FrameworkBadge::express);
    EXPECT_FALSE(rows[6].isContainer()) << "rootless: shown once, as the own process";
    EXPECT_EQ(rows[6].frameworkBadge, FrameworkBadge::docker);
    EXPECT_EQ(rows[6].dockerContext, (DockerContext{"web-1", "web"}));
    EXPECT_EQ(scannerOf(h, {.developmentOnly = false}).scan().size(), 8u);
}

// Rows and sockets alike count only readable processes of the user that were
// there when the scan began. A socket is foreign unless such a process held
// it; one entry per port and owner, by port then owner.
TEST(PortScannerTest, OwnRowsAndForeignListeners) {
    const uint32_t me = getuid();
    const uint32_t other = 3999999999;  // no account: named by its number
    auto h = std::make_shared<FakeSystem>();
    h->found = {{1, "spotify", 4000},
                {2, "postgres", 5432},
                {3, "node", 3000},
                {4, "node", 6379},
                {5, "node", 7000}};
    h->add(1, {"/usr/bin/spotify", {"spotify"}, std::nullopt});  // hidden by the filter
    h->owners[2] = other;                                        // seen when running as root
    h->add(3);
    h->add(5);
    // PID 4 is gone before its identity is read; PID 5 is a newcomer on a recycled PID.
    h->listeners = {
        {5432, other, {2}}, {4000, me, {1}},       {5432, other, {2}},
        {3000, me, {3}},    {3000, other, {}},     {8080, me, {}},
        {6379, me, {4}},    {9000, other, {2, 3}}, {7000, other, {5}},
    };
    // A published port's docker-proxy gives way to the container's row.
    h->published = {{6379, {"cache", std::nullopt}, "redis-server"}};
    auto scanner = scannerOf(h, {.now = [] { return ProcessStartTime{1700000004, 999999}; }});
    const PortScan scan = scanner.scanAll();

    passwd* mine = getpwuid(me);
    const std::string myName = mine != nullptr ? mine->pw_name : std::to_string(me);
    EXPECT_EQ(scan.foreign, (std::vector<ForeignListener>{{3000, other, "3999999999"},
                                                          {5432, other, "3999999999"},
                                                          {7000, other, "3999999999"},
                                                          {8080, me, myName}}));
    ASSERT_EQ(ids(scan.processes), (Ids{"3-3000", "0-6379"}));
    // Another user's command line is never read.
    EXPECT_THAT(h->metadataAsked, ::testing::IsSubsetOf({1, 3, 5}));
}

}  // namespace
}  // namespace halvo
