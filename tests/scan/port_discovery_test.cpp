// Which process holds which listening port: the native walk over a process
// table written out by hand, and lsof.
#include "scan/native_port_discovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "scan/lsof_port_discovery.h"

namespace halvo {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::SizeIs;
using Pids = std::vector<int32_t>;
using Rows = std::vector<LsofRow>;

// A process table written out by hand; scans of many processes call it from
// several threads.
class FakeProcessTable final : public ProcessTableReading {
  public:
    std::optional<ListeningSockets> listening = ListeningSockets{};  // none: no socket table
    std::optional<Pids> pids = Pids{};                               // none: no process list
    std::map<int32_t, std::vector<uint64_t>> inodes;                 // absent: cannot be listed
    std::map<int32_t, std::string> names;                            // absent: cannot be read
    std::atomic<int> namesRead = 0;

    std::optional<ListeningSockets> listeningTcpSockets() override { return listening; }
    std::optional<Pids> processIds() override { return pids; }
    std::optional<std::vector<uint64_t>> socketInodes(int32_t pid) override {
        return inodes.contains(pid) ? std::optional(inodes.at(pid)) : std::nullopt;
    }
    std::optional<std::string> processName(int32_t pid) override {
        ++namesRead;
        return names.contains(pid) ? std::optional(names.at(pid)) : std::nullopt;
    }
};

TEST(NativePortDiscoveryTest, FiltersOrdersAndNamesRows) {
    auto table = std::make_shared<FakeProcessTable>();
    table->listening = {{101, {5173, 1000}}, {102, {3000, 1000}}, {103, {3000, 1000}},
                        {201, {8080, 1000}}, {301, {0, 1000}},    {401, {4000, 1000}},
                        {601, {4002, 0}},    {701, {5432, 105}}};
    // 70 holds a dual-stack pair (102, 103); 13 only a port-0 listener; 5
    // cannot be listed; 0 and -1 are no processes.
    table->pids = {70, 0, -1, 40, 13, 5, 4711, 9};
    table->inodes = {{70, {103, 999, 101, 102}},
                     {0, {201}},
                     {-1, {201}},
                     {40, {201}},
                     {13, {301}},
                     {4711, {401}},
                     {9, {601}}};
    table->names = {{70, "node"}, {0, "kernel"}, {-1, "bogus"},           {40, "ruby"},
                    {13, "zero"}, {5, "locked"}, {9, "n\xFFode\x1b[2J\n"}};

    // Table order, then descriptor order; an unreadable name becomes the PID.
    EXPECT_EQ(NativePortDiscovery(table).rows(), (Rows{{70, "node", 3000},
                                                       {70, "node", 5173},
                                                       {70, "node", 3000},
                                                       {40, "ruby", 8080},
                                                       {4711, "4711", 4000},
                                                       {9, "n\uFFFDode\x1b[2J\n", 4002}}));
    EXPECT_EQ(table->namesRead, 4) << "only listeners are named";

    // Every socket with a port, held or not, with its owner and holders.
    EXPECT_THAT(NativePortDiscovery(table).discover().value().listeners,
                AllOf(SizeIs(7), Contains(SeenListener{3000, 1000, {70}}),
                      Contains(SeenListener{5432, 105, {}})));

    // No listeners: an answer. No socket table or process list: none at all.
    table->listening->clear();
    EXPECT_THAT(NativePortDiscovery(table).discover(), ::testing::Optional(Discovery{}));
    table->listening = std::nullopt;
    EXPECT_EQ(NativePortDiscovery(table).discover(), std::nullopt);
    table->listening = {{{101, {5173, 1000}}}};
    table->pids = std::nullopt;
    EXPECT_EQ(NativePortDiscovery(table).discover(), std::nullopt);
}

// Enough processes that the walk is shared among threads: the rows still come
// in table order.
TEST(NativePortDiscoveryTest, ManyProcessesKeepTableOrder) {
    auto table = std::make_shared<FakeProcessTable>();
    Rows expected;
    for (int32_t pid = 2000; pid > 0; --pid) {  // descending: table order is not PID order
        const uint64_t inode = static_cast<uint64_t>(pid) * 2;
        table->pids->push_back(pid);
        table->names[pid] = "p";
        table->inodes[pid] = {inode, inode + 1};
        table->listening->insert({{inode, {pid * 2}}, {inode + 1, {pid * 2 + 1}}});
        expected.insert(expected.end(), {{pid, "p", pid * 2}, {pid, "p", pid * 2 + 1}});
    }
    EXPECT_EQ(NativePortDiscovery(table).rows(), expected);
}

// The port is the number after the last colon; a block without its own "c"
// line reuses the last name; a bad line, or a block with a bad PID, costs only
// itself; a name's control bytes forge nothing.
TEST(LsofParseTest, MalformedLinesCostOnlyThemselves) {
    EXPECT_EQ(parseRows("n*:1\np777\ncpy\x1b[2J\nn[fe80::1%eth0]:8001\nn127.0.0.1:8002 (LISTEN)\n"
                        "p12a\nn*:2\np9\nnlocalhost\nn*:80\r\n\x01n*:3\nn*:9"),
              (Rows{{777, "py\x1b[2J", 8001}, {777, "py\x1b[2J", 8002}, {9, "py\x1b[2J", 9}}));
}

}  // namespace
}  // namespace halvo
