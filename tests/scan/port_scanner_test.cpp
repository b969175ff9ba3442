#include "scan/port_scanner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <map>

#include "support/test_process.h"

namespace halvo {
namespace {

class FakeDiscovery final : public PortDiscovering {
  public:
    explicit FakeDiscovery(std::vector<LsofRow> rows) : rows_(std::move(rows)) {}
    std::vector<LsofRow> rows() override {
        ++calls;
        return rows_;
    }
    Discovery discover() override { return {rows(), listeners}; }
    int calls = 0;
    std::vector<SeenListener> listeners;

  private:
    std::vector<LsofRow> rows_;
};

class FakeResolver final : public ProcessResolving {
  public:
    std::unordered_map<int32_t, ProcessMetadata> metadata(
        const std::vector<int32_t>& pids) override {
        metadataAsked.insert(metadataAsked.end(), pids.begin(), pids.end());
        std::unordered_map<int32_t, ProcessMetadata> result;
        for (int32_t pid : pids) {
            if (auto it = metadataByPid.find(pid); it != metadataByPid.end()) {
                result[pid] = it->second;
            }
        }
        return result;
    }
    std::optional<ProcessIdentitySnapshot> identitySnapshot(int32_t pid) override {
        ++identityCalls[pid];
        if (auto it = owners.find(pid); it != owners.end()) {
            return ProcessIdentitySnapshot{it->second, {1700000000 + pid, pid}};
        }
        return std::nullopt;
    }

    // A process of ours with the given metadata.
    void add(int32_t pid, ProcessMetadata metadata = {"/usr/bin/node", {"node"}, std::nullopt}) {
        owners[pid] = getuid();
        metadataByPid[pid] = std::move(metadata);
    }

    std::map<int32_t, uint32_t> owners;
    std::map<int32_t, ProcessMetadata> metadataByPid;
    std::map<int32_t, int> identityCalls;
    std::vector<int32_t> metadataAsked;
};

class FakeDocker final : public DockerResolving {
  public:
    std::unordered_map<int64_t, DockerContext> dockerContexts(
        const std::vector<PortMetadata>& elements, DockerListing& listing) override {
        calls.push_back(elements);
        listings.push_back(&listing);
        return contexts;
    }
    std::vector<PublishedPort> publishedPorts(DockerListing& listing) override {
        listings.push_back(&listing);
        return published;
    }
    std::unordered_map<int64_t, DockerContext> contexts;
    std::vector<PublishedPort> published;
    std::vector<std::vector<PortMetadata>> calls;
    std::vector<const DockerListing*> listings;  // of every call, in call order
};

ProcessMetadata meta(std::string path, std::vector<std::string> args,
                     std::optional<std::string> cwd = std::nullopt) {
    return ProcessMetadata{std::move(path), std::move(args), std::move(cwd)};
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

struct Harness {
    std::shared_ptr<FakeResolver> resolver = std::make_shared<FakeResolver>();
    std::shared_ptr<FakeDocker> docker = std::make_shared<FakeDocker>();
    std::shared_ptr<FakeDiscovery> native;
    std::shared_ptr<FakeDiscovery> fallback;

    Harness(std::vector<LsofRow> nativeRows, std::vector<LsofRow> fallbackRows = {})
        : native(std::make_shared<FakeDiscovery>(std::move(nativeRows))),
          fallback(std::make_shared<FakeDiscovery>(std::move(fallbackRows))) {}

    PortScanner scanner(PortScannerOptions options = {}) {
        return PortScanner(resolver, docker, native, fallback, options);
    }
};

TEST(PortScannerTest, FallbackIsAskedOnlyWhenNativeFindsNothing) {
    Harness found({{10, "node", 3000}}, {{11, "node", 4000}});
    found.resolver->add(10);
    EXPECT_EQ(ids(found.scanner().scan()), Ids{"10-3000"});
    EXPECT_EQ(found.fallback->calls, 0);

    // The fallback's rows come with no sockets: nothing can be called foreign.
    Harness fallbackOnly({}, {{11, "node", 4000}});
    fallbackOnly.resolver->add(11);
    fallbackOnly.native->listeners = {{5432, getuid() + 1, {}}};
    const PortScan scan = fallbackOnly.scanner().scanAll();
    EXPECT_EQ(ids(scan.processes), Ids{"11-4000"});
    EXPECT_EQ(scan.foreign, std::vector<ForeignListener>{});
    EXPECT_EQ(fallbackOnly.fallback->calls, 1);
}

// Merged by PID and port, sorted by port then PID, each identity read once.
TEST(PortScannerTest, MergesSortsAndReadsEachIdentityOnce) {
    Harness h(
        {{900, "node", 5173}, {1200, "node", 3000}, {800, "node", 3000}, {800, "node", 3000}});
    for (int32_t pid : {900, 1200, 800}) {
        h.resolver->add(pid);
    }
    const std::vector<PortProcess> rows = h.scanner().scan();
    EXPECT_EQ(ids(rows), (Ids{"800-3000", "1200-3000", "900-5173"}));
    for (const auto& p : rows) {
        EXPECT_EQ(p.startTime, (ProcessStartTime{1700000000 + p.pid, p.pid}));
    }
    EXPECT_EQ(h.resolver->identityCalls[800], 1);
}

TEST(PortScannerTest, DevelopmentFilterByNameMarkersAndExclusions) {
    Harness h({{1, "Python", 8000},
               {2, "kdeconnectd", 8001},
               {3, "myapp", 8002},
               {4, "Spotify", 8003},
               {5, "Xwayland", 8004}});
    h.resolver->add(1, meta("/usr/bin/Python", {"Python", "app.py"}));
    h.resolver->add(2, meta("/usr/lib/kdeconnectd", {"kdeconnectd", "--server"}));
    h.resolver->add(3, meta("/Users/ana/dev/myapp/myapp", {"./myapp"}));
    h.resolver->add(4, meta("/Applications/Spotify.app/Spotify", {"Spotify"}));
    h.resolver->add(5, meta("/usr/bin/Xwayland", {"Xwayland", "-listen", "dev", "server"}));
    const PortScan scan = h.scanner().scanAll();
    EXPECT_EQ(ids(scan.processes), (Ids{"1-8000", "3-8002"}));
    // What the filter hid still holds its port.
    EXPECT_EQ(scan.notDevelopment,
              (std::vector<LsofRow>{
                  {2, "kdeconnectd", 8001}, {4, "Spotify", 8003}, {5, "Xwayland", 8004}}));
    EXPECT_EQ(ids(h.scanner({.developmentOnly = false}).scan()),
              (Ids{"1-8000", "2-8001", "3-8002", "4-8003", "5-8004"}));
}

TEST(PortScannerTest, UnreadableMetadataFallsBackToTheDiscoveredName) {
    Harness h({{7, "node", 3000}, {8, "mystery", 3001}});
    h.resolver->owners[7] = getuid();
    h.resolver->owners[8] = getuid();
    auto result = h.scanner().scan();
    ASSERT_EQ(result.size(), 1u);  // "mystery" has no name match and no readable command text
    EXPECT_EQ(result[0].executablePath, "node");
    EXPECT_EQ(result[0].executableName, "node");
    EXPECT_EQ(result[0].arguments, (std::vector<std::string>{"node"}));
    EXPECT_EQ(result[0].workingDirectory, std::nullopt);
}

TEST(PortScannerTest, DockerContextsAreLookedUpByPortAndWinTheBadge) {
    Harness h({{20, "com.docker.backend", 5432}, {21, "node", 3000}});
    h.resolver->add(20, meta("/usr/bin/com.docker.backend", {}));
    h.resolver->add(21, meta("/usr/bin/node", {"node", "/home/a/Documents/shop/vite.js"},
                             "/home/a/Documents/shop"));
    h.docker->contexts[5432] = DockerContext{"db", "postgres"};
    auto result = h.scanner().scan();
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].port, 3000);
    EXPECT_EQ(result[0].frameworkBadge, FrameworkBadge::vite);
    EXPECT_EQ(result[0].projectHint, "shop");
    EXPECT_EQ(result[0].dockerContext, std::nullopt);
    EXPECT_EQ(result[1].frameworkBadge, FrameworkBadge::docker);
    EXPECT_EQ(result[1].dockerContext, (DockerContext{"db", "postgres"}));
    EXPECT_EQ(result[1].projectLabel(), "postgres");
    // The docker resolver sees the raw metadata, not the fallbacks.
    ASSERT_EQ(h.docker->calls.size(), 1u);
    EXPECT_TRUE(h.docker->calls[0][0].first.arguments.empty());
}

TEST(PortScannerTest, TheManifestNamesTheBadgeOnlyWhenTheRulesAndDockerDoNot) {
    testing::TempDir tmp;
    tmp.writeFile("shop/package.json", R"({"dependencies": {"express": "4"}})");
    const std::string shop = tmp.makeDir("shop/src");
    Harness h({{1, "node", 3000}, {2, "node", 3001}, {3, "node", 3002}});
    h.resolver->add(1, meta("/usr/bin/node", {"node", "server.js"}, shop));
    h.resolver->add(2, meta("/usr/bin/node", {"node", "vite.js"}, shop));
    h.resolver->add(3, meta("/usr/bin/node", {"node", "server.js"}, shop));
    h.docker->contexts[3002] = DockerContext{"web", std::nullopt};
    std::vector<std::optional<FrameworkBadge>> badges;
    for (const PortProcess& p : h.scanner({.home = tmp.path()}).scan()) {
        EXPECT_EQ(p.projectRoot, tmp.path() + "/shop");
        badges.push_back(p.frameworkBadge);
    }
    EXPECT_EQ(badges, (std::vector<std::optional<FrameworkBadge>>{
                          FrameworkBadge::express, FrameworkBadge::vite, FrameworkBadge::docker}));
}

// Published ports get a row unless an own process (rootlesskit, for the
// rootless engine) holds them; the development filter leaves them alone.
TEST(PortScannerTest, ContainerRowsOnlyForPortsNoOwnRowHolds) {
    Harness h({{21, "node", 3000}, {30, "rootlesskit", 8080}});
    h.resolver->add(21);
    h.resolver->add(30, meta("/usr/bin/rootlesskit", {"rootlesskit", "dockerd-rootless.sh"}));
    h.docker->contexts[8080] = DockerContext{"web-1", "web"};
    h.docker->published = {{1, {"db", "postgres"}, "docker-entrypoint.sh postgres"},
                           {5432, {"db", "postgres"}, "docker-entrypoint.sh postgres"},
                           {8080, {"web-1", "web"}, "nginx -g daemon off;"},
                           {9000, {"quiet", std::nullopt}, ""}};

    const std::vector<PortProcess> rows = h.scanner().scan();
    ASSERT_EQ(ids(rows), (Ids{"0-1", "21-3000", "0-5432", "30-8080", "0-9000"}));
    const PortProcess& db = rows[2];
    EXPECT_TRUE(db.isContainer());
    EXPECT_EQ(db.executableName, "docker");
    EXPECT_EQ(db.commandLine(), "docker-entrypoint.sh postgres");
    EXPECT_EQ(db.frameworkBadge, FrameworkBadge::docker);
    EXPECT_EQ(db.dockerContext, (DockerContext{"db", "postgres"}));
    EXPECT_EQ(db.startTime, ProcessStartTime{});
    EXPECT_EQ(rows[4].commandLine(), "docker") << "no command: the executable name";
    EXPECT_FALSE(rows[3].isContainer()) << "rootless: shown once, as the own process";
    // Both questions of the scan share one listing, so docker runs once.
    ASSERT_EQ(h.docker->listings.size(), 2u);
    EXPECT_EQ(h.docker->listings[0], h.docker->listings[1]);
}

// Rows and sockets alike count only readable processes of the user that were
// there when the scan began. A socket is foreign unless such a process held
// it; one entry per port and owner, by port then owner.
TEST(PortScannerTest, OwnRowsAndForeignListeners) {
    const uint32_t me = getuid();
    const uint32_t other = 3999999999;  // no account: named by its number
    Harness h({{1, "spotify", 4000},
               {2, "postgres", 5432},
               {3, "node", 3000},
               {4, "node", 6379},
               {5, "node", 7000}});
    h.resolver->add(1, meta("/usr/bin/spotify", {"spotify"}));  // hidden by the filter
    h.resolver->owners[2] = other;                              // seen when running as root
    h.resolver->add(3);
    h.resolver->add(5);
    // PID 4 is gone before its identity is read; PID 5 is a newcomer on a recycled PID.
    h.native->listeners = {
        {5432, other, {2}}, {4000, me, {1}},       {5432, other, {2}},
        {3000, me, {3}},    {3000, other, {}},     {8080, me, {}},
        {6379, me, {4}},    {9000, other, {2, 3}}, {7000, other, {5}},
    };
    // A published port's docker-proxy gives way to the container's row.
    h.docker->published = {{6379, {"cache", std::nullopt}, "redis-server"}};
    auto scanner = h.scanner({.now = [] { return ProcessStartTime{1700000004, 999999}; }});
    const PortScan scan = scanner.scanAll();

    passwd* mine = getpwuid(me);
    const std::string myName = mine != nullptr ? mine->pw_name : std::to_string(me);
    EXPECT_EQ(scan.foreign, (std::vector<ForeignListener>{{3000, other, "3999999999"},
                                                          {5432, other, "3999999999"},
                                                          {7000, other, "3999999999"},
                                                          {8080, me, myName}}));
    ASSERT_EQ(ids(scan.processes), (Ids{"3-3000", "0-6379"}));
    EXPECT_TRUE(scan.processes[1].isContainer());
    // Another user's command line is never read.
    EXPECT_THAT(h.resolver->metadataAsked, ::testing::IsSubsetOf({1, 3, 5}));
    // Rows and sockets share one identity read per process.
    EXPECT_EQ(h.resolver->identityCalls,
              (std::map<int32_t, int>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}));
}

}  // namespace
}  // namespace halvo
