// What the scan reads about processes: from a hand-made /proc, and from one
// real listener as every reader sees it; and the walks of a tree kill over a
// table the test writes: how far up a server's tree reaches, the order its
// processes end in, and which runners let it grow upwards.
#include "scan/process_resolver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <set>

#include "scan/listening_sockets.h"
#include "scan/lsof_port_discovery.h"
#include "scan/native_port_discovery.h"
#include "scan/proc_process_table.h"
#include "scan/process_tree.h"
#include "scan/supervisor_lookup.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using ::testing::UnorderedElementsAreArray;
using Strings = std::vector<std::string>;
using Directories = std::unordered_map<int32_t, std::string>;

// A PID no process can have: the kernel caps PIDs far below it.
constexpr int32_t kNoSuchPid = INT32_MAX;

// The start time and the tree's fields come after a name that may hold
// anything. The readers read links, not what they point to, so ordinary
// symlinks stand in for descriptors and working directories.
TEST(HandMadeProcTest, ReadersTakeWhatProcHoldsAndRepairIt) {
    EXPECT_EQ(parseStatStartTicks("42 (a) b (c)) S 1 2 3 0 -1 4194304 100 0 0 0 5 6 0 0 20 0 1 0 "
                                  "987654 1000 200 ...\n"),
              987654u);
    EXPECT_EQ(parseStatCpuTicks("42 (a) b (c)) S 1 2 3 0 -1 4194304 100 0 0 0 5 6 0 0"), 11u);
    EXPECT_EQ(parseStatResidentPages("42 (a) b (c)) S 1 2 3 0 -1 4194304 100 0 0 0 5 6 0 0 20 0 "
                                     "1 0 987654 1000 200 ...\n"),
              200u);
    EXPECT_EQ(parseStatTreeFields("4242 (my (odd) name) S 4000 4100 3900 0 -1"),
              (ProcessTreeEntry{0, 4000, 3900, 4100, 0, {}, "my (odd) name"}));
    testing::TempDir proc;
    // More descriptors than one directory read returns, and links that are no
    // socket's.
    Strings links(3000, "/dev/null");
    std::vector<uint64_t> inodes;
    for (size_t i = 0; i < links.size(); i += 100) {
        links[i] = "socket:[" + std::to_string(i + 1) + "]";
        inodes.push_back(i + 1);
    }
    links.insert(links.end(), {"socket:[9x]", "socket:[+5]", "socket:[18446744073709551616]"});
    const std::string fd = proc.makeDir("7/fd");
    for (size_t i = 0; i < links.size(); ++i) {
        std::filesystem::create_symlink(links[i], fd + "/" + std::to_string(i));
    }

    ProcFsProcessTable table(proc.path());
    EXPECT_THAT(table.socketInodes(7).value(), UnorderedElementsAreArray(inodes));
    EXPECT_EQ(table.socketInodes(43), std::nullopt);

    // A removed working directory loses its mark.
    ProcessResolver resolver(proc.path());
    std::filesystem::create_symlink("/home/ana/old (deleted)", proc.path() + "/7/cwd");
    EXPECT_EQ(resolver.readWorkingDirectories({7, 7}), (Directories{{7, "/home/ana/old"}}));
}

// One listener, started in a folder of its own: every back-end finds each of
// its TCP listening sockets (the dual-stack port twice) owned by this test's
// user, and no UDP, unix or connected socket; its metadata and identity are
// read whole, and what /proc refuses is asked of lsof.
TEST(RealListenerTest, EveryReaderSeesItAlike) {
    testing::TempDir dir;
    const std::string workDir = std::filesystem::canonical(dir.makeDir("Users/ana/shop"));
    const std::string big = std::string(100 * 1024, 'x') + "end";
    testing::ListenerOptions options;
    options.executable = testing::listenerNamed(dir, "node");
    options.listenerArgs = {"--v4",          "1",     "--v6only", "1", "--dual", "1",
                            "--established", "--udp", "--unix"};
    options.extraArgs = {"n\xC3", big};
    options.workingDirectory = workDir;
    auto listener = testing::ListenerProcess::start(options);
    const pid_t pid = listener->pid();
    ASSERT_EQ(listener->ports().size(), 3u);
    std::multiset<int64_t> expected(listener->ports().begin(), listener->ports().end());
    expected.insert(listener->ports()[2]);

    const std::vector<uint64_t> inodes = ProcFsProcessTable().socketInodes(pid).value();
    const auto portsOf = [&](const std::optional<ListeningSockets>& sockets) {
        std::multiset<int64_t> ports;
        for (uint64_t inode : inodes) {
            const auto found = sockets.value().find(inode);
            if (found != sockets->end() && found->second.uid == getuid()) {
                ports.insert(found->second.port);
            }
        }
        return ports;
    };
    const auto portsOfRows = [&](const std::vector<LsofRow>& rows) {
        std::multiset<int64_t> ports;
        for (const LsofRow& row : rows) {
            if (row.pid == pid && row.name == "node") {
                ports.insert(row.port);
            }
        }
        return ports;
    };
    EXPECT_EQ(portsOf(listeningSocketsFromProcNet()), expected);
    EXPECT_EQ(portsOfRows(NativePortDiscovery().rows()), expected);
    if (findExecutable(kLsofPaths)) {
        EXPECT_EQ(portsOfRows(LsofPortDiscovery().rows()), expected);
    }
    if (const auto netlink = listeningSocketsFromNetlink()) {
        EXPECT_EQ(portsOf(netlink), expected);
    }

    ProcessResolver resolver;
    const auto all = resolver.metadata({pid, kNoSuchPid, pid});
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all.at(pid).executablePath,
              std::filesystem::canonical(testing::listenerPath()).string());
    EXPECT_EQ(all.at(pid).arguments.back(), big) << "read past a page";
    EXPECT_EQ(all.at(pid).arguments.end()[-2], "n\uFFFD");
    EXPECT_EQ(all.at(pid).workingDirectory, workDir);
    EXPECT_EQ(all.at(kNoSuchPid), ProcessMetadata{});
    const auto snapshot = resolver.identitySnapshot(pid);
    ASSERT_TRUE(snapshot.has_value());
    EXPECT_EQ(snapshot->uid, getuid());
    // The scan's clock runs on the same time base: the listener started before now.
    EXPECT_LE(snapshot->startTime, processClockNow());
    // What a kill's identity check compares.
    const auto entry = ProcFsProcessTree().entry(pid);
    ASSERT_TRUE(entry);
    EXPECT_EQ(std::tie(entry->parentPid, entry->sessionId, entry->processGroup, entry->uid),
              std::tuple(getpid(), getsid(0), getpgrp(), getuid()));
    EXPECT_EQ(entry->startTime, snapshot->startTime);

    {
        // The listener's entry refuses us; every other PID has none, as if
        // gone. As root, this thread lacks the capabilities that read any
        // folder until the block ends; the programs it starts have them.
        testing::TempDir root;
        ASSERT_EQ(chmod(root.makeDir(std::to_string(pid)).c_str(), 0), 0);
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] = {};
        ASSERT_EQ(syscall(SYS_capget, &header, caps), 0);
        const auto saved = std::to_array(caps);
        caps[0].effective &= ~(1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH);
        syscall(SYS_capset, &header, caps);
        ProcessResolver refusing(root.path());
        EXPECT_EQ(refusing.metadata({pid}),
                  (std::unordered_map<int32_t, ProcessMetadata>{{pid, {"", {}, workDir}}}));
        // lsof fails its whole listing over one PID it cannot find: PIDs that
        // are gone or cannot exist must not reach it. Had it been asked about
        // a PID missing from /proc, the real process would have answered.
        EXPECT_EQ(refusing.readWorkingDirectories({-1, 0, kNoSuchPid, pid}),
                  (Directories{{pid, workDir}}));
        syscall(SYS_capset, &header, saved.data());
    }

    ASSERT_TRUE(listener->stop());
    EXPECT_EQ(resolver.identitySnapshot(pid), std::nullopt);
}

constexpr uint32_t kMe = 1000;

// Each case's processes share a job: the process group of their hundred.
ProcessTreeEntry process(int32_t pid, int32_t parent, const char* name, int32_t session = 100,
                         uint32_t uid = kMe, int32_t group = -1) {
    return {pid, parent, session, group < 0 ? pid / 100 * 100 : group, uid, {1'700'000'000, pid},
            name};
}

// A terminal's shell (the session leader) runs `npm run dev`, whose script
// shell runs the server with two workers; beside it, the other ways a walk
// up must stop, each at a listener whose parent does not qualify.
TEST(ProcessTreeTest, WalksUpAndDownStopWhereTheServerEnds) {
    const ProcessTree tree({
        process(1, 0, "systemd", 1, 0),
        process(50, 1, "gnome-terminal-", 50),
        process(100, 50, "bash"),
        process(200, 100, "npm run dev"),
        process(201, 200, "sh"),
        process(202, 201, "node"),
        process(203, 202, "node"),
        process(205, 203, "node"),
        process(208, 202, "bash", 208),  // a terminal the server opened, its own session
        process(209, 208, "vim", 208),
        process(211, 202, "node", 100, kMe, 211),  // a job of its own under the server
        process(400, 100, "node", 100, 0),         // another user's
        process(401, 400, "node"),
        process(500, 100, "make"),  // not a development process
        process(501, 500, "node"),
        process(600, 100, "bash"),  // a nested interactive shell
        process(601, 600, "node"),
    });
    const auto notMake = [](const ProcessTreeEntry& entry) { return entry.name != "make"; };
    EXPECT_EQ(tree.topDevelopmentAncestor(202, notMake), 200)
        << "crosses npm's script shell, stops below the terminal's shell";
    for (int32_t listener : {401, 501, 601, 999}) {
        EXPECT_EQ(tree.topDevelopmentAncestor(listener, notMake), listener);
    }
    // Deepest first.
    std::vector<int32_t> pids;
    for (const ProcessTreeEntry& entry : tree.subtree(200)) {
        pids.push_back(entry.pid);
    }
    // 208 leads a session of its own and 211 is another job:
    // what they started is out of reach with them.
    EXPECT_EQ(pids, (std::vector<int32_t>{205, 203, 202, 201, 200}));
}

// The unit from a cgroup line, never where the user works; the pm2 app from
// its environment, which wins, read no further than the bound.
TEST(HandMadeProcTest, SupervisorsFromCgroupAndEnvironment) {
    const std::string user = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    const Supervisor web{Supervisor::Kind::systemd, "web.service", {}, {}, 1000};
    const struct {
        std::string cgroup;
        std::optional<Supervisor> unit;
    } units[] = {
        {user + "web.service\n", web},
        {user + "dev.slice/web.service/worker\n", web},
        {"1:name=systemd:/" + user.substr(4) + "web.service\n0::/\n", web},
        {user + "run-r1.scope\n",
         Supervisor{Supervisor::Kind::systemd, "run-r1.scope", {}, {}, 1000}},
        {user + "vte-spawn-5e1f.scope\n", std::nullopt},
        {user + "gnome-terminal-server.service\n", std::nullopt},
        {"0::/system.slice/nginx.service\n", std::nullopt},
    };
    for (const auto& c : units) {
        EXPECT_EQ(unitFromCgroup(c.cgroup), c.unit) << c.cgroup;
    }
    using namespace std::string_literals;
    const Supervisor api{Supervisor::Kind::pm2, "api", "3", "/p"};
    EXPECT_EQ(pm2AppFromEnvironment("name=api\0PATH=/bin\0PM2_HOME=/p\0pm_id=3"s), api);
    EXPECT_EQ(pm2AppFromEnvironment("name=api\0PM2_HOME=/p\0"s), std::nullopt);
    testing::TempDir proc;
    proc.writeFile("8/cgroup", user + "web.service\n");
    proc.writeFile("8/environ",
                   std::string(kEnvironmentCap, 'x') + "\0name=api\0PM2_HOME=/p\0pm_id=3"s);
    EXPECT_EQ(readSupervisor(8, proc.path()), web);
}

// Only a known runner lets a tree grow upwards: being wrong ends the process
// the user works in.
TEST(ProcessTreeTest, ServerRunnersAreKnownByName) {
    const struct {
        const char* name;
        Strings arguments;
        bool runner;
    } cases[] = {
        {"npm run dev", {"npm run dev"}, true},  // npm's own title
        {"node", {"node", "/usr/lib/node_modules/nodemon/bin/nodemon.js"}, true},
        {"python3.11", {"python3.11", "manage.py", "runserver"}, true},
        {"node", {"node"}, false},                                       // a prompt
        {"ipython3", {"/usr/bin/python3", "/usr/bin/ipython3"}, false},  // named for its script
        {"python3", {"python3", "-m", "http.server"}, true},
        // Prompts that started a server hold the user's session state.
        {"python3", {"python3", "-i"}, false},
        {"node", {"node", "--inspect"}, false},
        {"python3", {"python3", "-m", "ipykernel_launcher", "-f", "k.json"}, false},
        {"python3", {"python3", "-c", "import subprocess"}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isServerRunner(c.name, c.arguments), c.runner) << c.name;
    }
}

}  // namespace
}  // namespace halvo
