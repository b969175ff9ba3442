#include "scan/native_port_discovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>

#include "scan/proc_process_table.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAreArray;
using Pids = std::vector<int32_t>;
using Rows = std::vector<LsofRow>;

// A process table written out by hand, which also notes which processes were
// listed and named. Scans of many processes call it from several threads.
class FakeProcessTable final : public ProcessTableReading {
  public:
    std::optional<ListeningSockets> listening = ListeningSockets{};  // none: no socket table
    std::optional<Pids> pids = Pids{};                               // none: no process list
    std::map<int32_t, std::vector<uint64_t>> inodes;                 // absent: cannot be listed
    std::map<int32_t, std::string> names;                            // absent: cannot be read
    Pids inodesListed;
    Pids namesRead;

    std::optional<ListeningSockets> listeningTcpSockets() override { return listening; }
    std::optional<Pids> processIds() override { return pids; }
    std::optional<std::vector<uint64_t>> socketInodes(int32_t pid) override {
        return lookup(inodes, inodesListed, pid);
    }
    std::optional<std::string> processName(int32_t pid) override {
        return lookup(names, namesRead, pid);
    }

  private:
    template <typename T>
    std::optional<T> lookup(const std::map<int32_t, T>& values, Pids& log, int32_t pid) {
        std::lock_guard lock(mutex_);
        log.push_back(pid);
        auto found = values.find(pid);
        return found == values.end() ? std::nullopt : std::optional<T>(found->second);
    }
    std::mutex mutex_;
};

TEST(NativePortDiscoveryTest, FiltersOrdersAndNamesRows) {
    auto table = std::make_shared<FakeProcessTable>();
    table->listening = {{101, {5173, 1000}}, {102, {3000, 1000}}, {103, {3000, 1000}},
                        {201, {8080, 1000}}, {301, {0, 1000}},    {401, {4000, 1000}},
                        {501, {4001, 1000}}, {601, {4002, 0}},    {701, {5432, 105}}};
    table->pids = {70, 0, -1, 40, 10, 13, 5, 4711, 4712, 9};
    // 70 holds a dual-stack pair (102, 103); 10 holds no listener; 13 only a
    // port-0 one; 5 cannot be listed; 0 and -1 are no processes.
    table->inodes = {{70, {103, 999, 101, 102}},
                     {0, {201}},
                     {-1, {201}},
                     {40, {201}},
                     {10, {55, 56}},
                     {13, {301}},
                     {4711, {401}},
                     {4712, {501}},
                     {9, {601}}};
    table->names = {{70, "node"}, {0, "kernel"}, {-1, "bogus"}, {40, "ruby"},       {10, "chrome"},
                    {13, "zero"}, {5, "locked"}, {4712, ""},    {9, "n\xFFode\xC3"}};

    // Table order, then descriptor order; an unreadable or empty name becomes the PID.
    EXPECT_EQ(NativePortDiscovery(table).rows(), (Rows{{70, "node", 3000},
                                                       {70, "node", 5173},
                                                       {70, "node", 3000},
                                                       {40, "ruby", 8080},
                                                       {4711, "4711", 4000},
                                                       {4712, "4712", 4001},
                                                       {9, "n\xEF\xBF\xBDode\xEF\xBF\xBD", 4002}}));
    EXPECT_THAT(table->inodesListed, UnorderedElementsAreArray({70, 40, 10, 13, 5, 4711, 4712, 9}));
    EXPECT_THAT(table->namesRead, UnorderedElementsAreArray({70, 40, 4711, 4712, 9}));

    // Every socket with a port, held or not, with its owner and holders.
    EXPECT_THAT(NativePortDiscovery(table).discover().value().listeners,
                UnorderedElementsAreArray<SeenListener>({{5173, 1000, {70}},
                                                         {3000, 1000, {70}},
                                                         {3000, 1000, {70}},
                                                         {8080, 1000, {40}},
                                                         {4000, 1000, {4711}},
                                                         {4001, 1000, {4712}},
                                                         {4002, 0, {9}},
                                                         {5432, 105, {}}}));

    // No listeners: an answer, and no walk over the processes. No socket
    // table or no process list: no answer at all.
    table->listening->clear();
    table->inodesListed.clear();
    EXPECT_THAT(NativePortDiscovery(table).discover(), ::testing::Optional(Discovery{}));
    EXPECT_EQ(table->inodesListed, Pids{});
    table->listening = std::nullopt;
    EXPECT_EQ(NativePortDiscovery(table).discover(), std::nullopt);
    table->listening = {{{101, {5173, 1000}}}};
    table->pids = std::nullopt;
    EXPECT_EQ(NativePortDiscovery(table).discover(), std::nullopt);
}

// Enough processes that the walk is shared among threads: the rows still come
// in table order, and every listener's name is read exactly once.
TEST(NativePortDiscoveryTest, ManyProcessesKeepTableOrder) {
    auto table = std::make_shared<FakeProcessTable>();
    Rows expected;
    Pids listenerPids;
    for (int32_t pid = 5000; pid > 0; pid -= 3) {  // descending: table order is not PID order
        const std::string name = "p" + std::to_string(pid);
        table->pids->push_back(pid);
        table->names[pid] = name;
        if (pid % 7 == 0) {
            continue;  // cannot be listed
        }
        const uint64_t inode = static_cast<uint64_t>(pid) * 10;
        table->inodes[pid] = {inode + 1, inode, inode + 2};
        if (pid % 5 == 0) {
            (*table->listening)[inode] = {pid};
            (*table->listening)[inode + 2] = {pid + 1};
            expected.insert(expected.end(), {{pid, name, pid}, {pid, name, pid + 1}});
            listenerPids.push_back(pid);
        }
    }
    EXPECT_EQ(NativePortDiscovery(table).rows(), expected);
    EXPECT_THAT(table->namesRead, UnorderedElementsAreArray(listenerPids));
}

// A hand-made /proc: the table reads links, not what they point to, so
// ordinary symlinks stand in for descriptors.
void addProcess(const testing::TempDir& proc, const std::string& pid,
                const std::vector<std::string>& links, std::optional<std::string> comm) {
    const std::string fd = proc.makeDir(pid + "/fd");
    for (size_t i = 0; i < links.size(); ++i) {
        std::filesystem::create_symlink(links[i], fd + "/" + std::to_string(i));
    }
    if (comm) {
        proc.writeFile(pid + "/comm", *comm);
    }
}

TEST(ProcFsProcessTableTest, ReadsNumericEntriesSocketLinksAndNames) {
    testing::TempDir proc;
    addProcess(proc, "42", {"/dev/null", "socket:[777]", "pipe:[5]", "socket:[12]"}, "node\n");
    addProcess(proc, "7",
               {"socket:[]", "socket:[9x]", "socket:[+5]", "socket:[18446744073709551616]",
                "socket:[18446744073709551615]"},
               {});
    // More descriptors than one directory read returns.
    std::vector<std::string> links(3000, "/dev/null");
    std::vector<uint64_t> inodes;
    for (size_t i = 0; i < links.size(); i += 100) {
        links[i] = "socket:[" + std::to_string(i + 1) + "]";
        inodes.push_back(i + 1);
    }
    addProcess(proc, "9", links, "busy\n");
    proc.makeDir("self");

    ProcFsProcessTable table(proc.path());
    Pids pids = table.processIds().value_or(Pids{});
    std::sort(pids.begin(), pids.end());
    EXPECT_THAT(pids, ElementsAre(7, 9, 42));
    // An ordinary folder lists in no particular order; /proc lists fds ascending.
    EXPECT_THAT(table.socketInodes(42).value_or(std::vector<uint64_t>{}),
                ::testing::UnorderedElementsAre(777, 12));
    EXPECT_EQ(table.socketInodes(7), (std::vector<uint64_t>{18446744073709551615ULL}));
    EXPECT_THAT(table.socketInodes(9).value_or(std::vector<uint64_t>{}),
                UnorderedElementsAreArray(inodes));
    EXPECT_EQ(table.socketInodes(43), std::nullopt);
    EXPECT_EQ(table.processName(42), "node");
    EXPECT_EQ(table.processName(7), std::nullopt);

    // No process table there: nothing to look at, which is not "no processes".
    testing::TempDir empty;
    for (const std::string& root : {std::string("/nonexistent-halvo-proc"), empty.path()}) {
        EXPECT_EQ(ProcFsProcessTable(root).processIds(), std::nullopt) << root;
        EXPECT_EQ(ProcFsProcessTable(root).socketInodes(1), std::nullopt) << root;
    }
}

}  // namespace
}  // namespace halvo
