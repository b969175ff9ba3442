#include "scan/native_port_discovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>

#include "scan/proc_process_table.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A process table written out by hand, which also notes whose names were read.
// Scans of many processes call it from several threads; the notes are locked.
class FakeProcessTable final : public ProcessTable {
  public:
    std::unordered_map<uint64_t, int64_t> listening;
    std::vector<int32_t> pids;
    std::map<int32_t, std::vector<uint64_t>> inodes;  // absent: cannot be listed
    std::map<int32_t, std::string> names;             // absent: cannot be read
    std::vector<int32_t> namesRead;
    std::vector<int32_t> inodesListed;

    std::unordered_map<uint64_t, int64_t> listeningTcpSockets() override { return listening; }
    std::vector<int32_t> processIds() override { return pids; }
    std::optional<std::vector<uint64_t>> socketInodes(int32_t pid) override {
        std::lock_guard lock(mutex_);
        inodesListed.push_back(pid);
        auto found = inodes.find(pid);
        if (found == inodes.end()) {
            return std::nullopt;
        }
        return found->second;
    }
    std::optional<std::string> processName(int32_t pid) override {
        std::lock_guard lock(mutex_);
        namesRead.push_back(pid);
        auto found = names.find(pid);
        if (found == names.end()) {
            return std::nullopt;
        }
        return found->second;
    }

  private:
    std::mutex mutex_;
};

std::vector<LsofRow> rowsOf(const std::shared_ptr<FakeProcessTable>& table) {
    return NativePortDiscovery(table).rows();
}

TEST(NativePortDiscoveryTest, RowsFollowTableOrderThenDescriptorOrder) {
    auto table = std::make_shared<FakeProcessTable>();
    table->listening = {{101, 5173}, {102, 3000}, {103, 3000}, {201, 8080}};
    table->pids = {70, 40};
    table->inodes = {{70, {103, 999, 101, 102}}, {40, {201}}};
    table->names = {{70, "node"}, {40, "ruby"}};

    // The dual-stack pair (102, 103) gives two equal rows; the scanner merges them.
    EXPECT_THAT(rowsOf(table), ElementsAre(LsofRow{70, "node", 3000}, LsofRow{70, "node", 5173},
                                           LsofRow{70, "node", 3000}, LsofRow{40, "ruby", 8080}));
}

TEST(NativePortDiscoveryTest, NamesAreReadOncePerProcessAndOnlyForListeners) {
    auto table = std::make_shared<FakeProcessTable>();
    table->listening = {{1, 3000}, {2, 3001}, {3, 0}};
    table->pids = {10, 11, 12, 13};
    table->inodes = {{10, {1, 2}}, {11, {}}, {12, {55, 56}}, {13, {3}}};
    table->names = {{10, "node"}, {11, "bash"}, {12, "chrome"}, {13, "zero"}};

    EXPECT_THAT(rowsOf(table), ElementsAre(LsofRow{10, "node", 3000}, LsofRow{10, "node", 3001}));
    // Process 13 holds only a port-0 listener, which is no listener worth naming.
    EXPECT_THAT(table->namesRead, ElementsAre(10));
}

TEST(NativePortDiscoveryTest, NonPositiveAndUnlistableProcessesGiveNothing) {
    auto table = std::make_shared<FakeProcessTable>();
    table->listening = {{1, 3000}, {2, 4000}};
    table->pids = {0, -1, 5, 6};
    table->inodes = {{0, {1}}, {-1, {1}}, {6, {2}}};  // 5 cannot be listed
    table->names = {{0, "kernel"}, {-1, "bogus"}, {5, "locked"}, {6, "vite"}};

    EXPECT_THAT(rowsOf(table), ElementsAre(LsofRow{6, "vite", 4000}));
    EXPECT_THAT(table->inodesListed, ::testing::UnorderedElementsAre(5, 6));
}

TEST(NativePortDiscoveryTest, UnreadableOrEmptyNameBecomesTheDecimalPid) {
    auto table = std::make_shared<FakeProcessTable>();
    table->listening = {{1, 3000}, {2, 4000}};
    table->pids = {4711, 4712};
    table->inodes = {{4711, {1}}, {4712, {2}}};
    table->names = {{4712, ""}};

    EXPECT_THAT(rowsOf(table),
                ElementsAre(LsofRow{4711, "4711", 3000}, LsofRow{4712, "4712", 4000}));
}

TEST(NativePortDiscoveryTest, InvalidUtf8InANameIsReplaced) {
    auto table = std::make_shared<FakeProcessTable>();
    table->listening = {{1, 3000}};
    table->pids = {9};
    table->inodes = {{9, {1}}};
    table->names = {{9, "n\xFFode\xC3"}};

    EXPECT_THAT(rowsOf(table), ElementsAre(LsofRow{9, "n\xEF\xBF\xBDode\xEF\xBF\xBD", 3000}));
}

TEST(NativePortDiscoveryTest, NoListenersMeansNoWalkOverProcesses) {
    auto table = std::make_shared<FakeProcessTable>();
    table->pids = {1, 2};
    table->inodes = {{1, {10}}, {2, {20}}};

    EXPECT_THAT(rowsOf(table), IsEmpty());
    EXPECT_THAT(table->inodesListed, IsEmpty());
}

// Enough processes that the walk is shared among threads: the rows still come
// in table order, and every listener's name is read exactly once.
TEST(NativePortDiscoveryTest, ManyProcessesKeepTableOrder) {
    auto table = std::make_shared<FakeProcessTable>();
    std::vector<LsofRow> expected;
    std::vector<int32_t> listenerPids;
    for (int32_t pid = 5000; pid > 0; pid -= 3) {  // descending: table order is not PID order
        table->pids.push_back(pid);
        table->names[pid] = "p" + std::to_string(pid);
        if (pid % 7 == 0) {
            continue;  // cannot be listed
        }
        const uint64_t inode = static_cast<uint64_t>(pid) * 10;
        table->inodes[pid] = {inode + 1, inode, inode + 2};
        if (pid % 5 == 0) {
            table->listening[inode] = pid;
            table->listening[inode + 2] = pid + 1;
            expected.push_back(LsofRow{pid, "p" + std::to_string(pid), pid});
            expected.push_back(LsofRow{pid, "p" + std::to_string(pid), pid + 1});
            listenerPids.push_back(pid);
        }
    }

    EXPECT_EQ(rowsOf(table), expected);
    EXPECT_THAT(table->namesRead, ::testing::UnorderedElementsAreArray(listenerPids));
}

// A hand-made /proc: the table reads links, not what they point to, so
// ordinary symlinks stand in for descriptors.
class FakeProcTree {
  public:
    void addProcess(const std::string& pid, const std::vector<std::string>& links,
                    std::optional<std::string> comm) {
        const std::string fd = dir_.makeDir(pid + "/fd");
        for (size_t i = 0; i < links.size(); ++i) {
            std::filesystem::create_symlink(links[i], fd + "/" + std::to_string(i));
        }
        if (comm) {
            dir_.writeFile(pid + "/comm", *comm);
        }
    }
    void addEntry(const std::string& name) { dir_.makeDir(name); }
    const std::string& root() const { return dir_.path(); }

  private:
    testing::TempDir dir_;
};

TEST(ProcFsProcessTableTest, ReadsNumericEntriesSocketLinksAndNames) {
    FakeProcTree tree;
    tree.addProcess("42", {"/dev/null", "socket:[777]", "pipe:[5]", "socket:[12]"}, "node\n");
    tree.addProcess("7", {"socket:[]", "socket:[9x]", "socket:[18446744073709551615]"},
                    std::nullopt);
    tree.addEntry("self");
    tree.addEntry("sys");
    tree.addEntry("12abc");
    tree.addEntry("99999999999");  // beyond a PID's range

    ProcFsProcessTable table(tree.root());
    std::vector<int32_t> pids = table.processIds();
    std::sort(pids.begin(), pids.end());
    EXPECT_THAT(pids, ElementsAre(7, 42));

    // An ordinary folder lists in no particular order; /proc lists fds ascending.
    EXPECT_THAT(table.socketInodes(42).value_or(std::vector<uint64_t>{}),
                ::testing::UnorderedElementsAre(777, 12));
    EXPECT_EQ(table.socketInodes(7), (std::vector<uint64_t>{18446744073709551615ULL}));
    EXPECT_EQ(table.socketInodes(43), std::nullopt);

    EXPECT_EQ(table.processName(42), "node");
    EXPECT_EQ(table.processName(7), std::nullopt);
}

TEST(ProcFsProcessTableTest, ListsDescriptorsBeyondOneDirectoryRead) {
    FakeProcTree tree;
    std::vector<std::string> links(3000, "/dev/null");
    std::vector<uint64_t> expected;
    for (size_t i = 0; i < links.size(); i += 100) {
        links[i] = "socket:[" + std::to_string(i + 1) + "]";
        expected.push_back(i + 1);
    }
    tree.addProcess("9", links, "busy\n");

    ProcFsProcessTable table(tree.root());
    EXPECT_THAT(table.socketInodes(9).value_or(std::vector<uint64_t>{}),
                ::testing::UnorderedElementsAreArray(expected));
}

TEST(ProcFsProcessTableTest, AMissingRootGivesNothing) {
    ProcFsProcessTable table("/nonexistent-halvo-proc");
    EXPECT_THAT(table.processIds(), IsEmpty());
    EXPECT_EQ(table.socketInodes(1), std::nullopt);
    EXPECT_EQ(table.processName(1), std::nullopt);
}

std::vector<int64_t> portsOfPid(const std::vector<LsofRow>& rows, pid_t pid,
                                const std::string& expectedName) {
    std::vector<int64_t> ports;
    for (const LsofRow& row : rows) {
        if (row.pid == pid) {
            EXPECT_EQ(row.name, expectedName);
            ports.push_back(row.port);
        }
    }
    return ports;
}

// The machine has listeners of its own: only the listener's rows are looked at.
TEST(NativePortDiscoveryRealTest, FindsExactlyTheListeningSocketsOfARealProcess) {
    testing::TempDir dir;
    testing::ListenerOptions options;
    options.executable = testing::listenerNamed(dir, "node");
    options.listenerArgs = {"--v4",          "1",     "--v6only", "1", "--dual", "1",
                            "--established", "--udp", "--unix"};
    auto listener = testing::ListenerProcess::start(options);
    const std::vector<int64_t>& ports = listener->ports();
    ASSERT_EQ(ports.size(), 3u);

    std::vector<LsofRow> rows = NativePortDiscovery().rows();
    // Opened in this order, so in descriptor order: v4, v6-only, dual v4, dual v6.
    // The established pair, the UDP and the Unix socket give nothing.
    EXPECT_THAT(portsOfPid(rows, listener->pid(), "node"),
                ElementsAre(ports[0], ports[1], ports[2], ports[2]));
}

TEST(NativePortDiscoveryRealTest, AProcessThatIsGoneGivesNothing) {
    testing::TempDir dir;
    testing::ListenerOptions options;
    options.executable = testing::listenerNamed(dir, "vite");
    options.listenerArgs = {"--v4", "2"};
    auto listener = testing::ListenerProcess::start(options);
    const pid_t pid = listener->pid();
    ASSERT_THAT(portsOfPid(NativePortDiscovery().rows(), pid, "vite"), ::testing::SizeIs(2));
    ASSERT_TRUE(listener->stop());

    ProcFsProcessTable table;
    EXPECT_EQ(table.socketInodes(pid), std::nullopt);
    EXPECT_EQ(table.processName(pid), std::nullopt);
}

}  // namespace
}  // namespace halvo
