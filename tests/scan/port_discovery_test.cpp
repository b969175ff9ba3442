// Which process holds which listening port: the native walk over a process
// table written out by hand, and lsof.
#include "scan/native_port_discovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "scan/lsof_port_discovery.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::TempDir;
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
// in table order, and every listener's name is read once.
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
    EXPECT_EQ(table->namesRead.size(), 2000u);
}

TEST(LsofParseTest, OneRowPerNameLineAndMalformedLinesCostOnlyThemselves) {
    const std::vector<std::pair<std::string, Rows>> cases = {
        // The port is the number after the last colon.
        {"p777\ncpython3\nf6\nn[fe80::1%eth0]:8001\nn127.0.0.1:8002 (LISTEN)\n",
         {{777, "python3", 8001}, {777, "python3", 8002}}},
        // A block without its own "c" line reuses the previous command name.
        {"p1\ncmy server\nn*:3000\np2\nn*:4000\np3\nc\nn*:5000\n",
         {{1, "my server", 3000}, {2, "my server", 4000}, {3, "", 5000}}},
        // An unparsable "p" line skips the name lines up to the next valid one.
        {"p1\ncnode\nn*:1\np12a\nn*:2\np\nn*:3\np-\nn*:4\n"
         "p 5\nn*:5\np2147483648\nn*:6\np5 \nn*:7\np8\nn*:8\n",
         {{1, "node", 1}, {8, "node", 8}}},
        // Name lines before any process or any command name.
        {"n*:1\np5\nn*:2\ncnode\nn*:3\n", {{5, "node", 3}}},
        // Names without a port, and tags the parser does not use.
        {"p5\ncnode\nnlocalhost\nn*:\nn*:http\nn*:80x\nn*:99999999999999999999\nnhost:80:\n"
         "n(LISTEN) *:80\nf7\nPTCP\ni123\nk1\nn*:9\n",
         {{5, "node", 9}}},
        {"p5\ncnode\nn*:80\r\nn*:81\n\x01garbage\nn*:82", {{5, "node", 81}, {5, "node", 82}}},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseRows(text), expected);
    }
}

TEST(LsofPortDiscoveryTest, RowsNeedOutputAndStatusZero) {
    TempDir dir;
    // A stand-in lsof that answers only the expected invocation.
    const auto fakeLsof = [&](const std::string& output, int status) {
        return dir.writeFile("lsof",
                             "#!/bin/sh\n[ \"$*\" = '-nP -iTCP -sTCP:LISTEN -F cnPi' ] || exit 9\n"
                             "printf '" +
                                 output + "'\nexit " + std::to_string(status) + "\n",
                             0755);
    };
    // The first candidate that is an executable file is the one that runs.
    const std::string folder = dir.makeDir("folder");
    const std::string plain = dir.writeFile("plain", "", 0644);
    EXPECT_THAT(LsofPortDiscovery({dir.path() + "/missing", folder, plain, "lsof",
                                   fakeLsof("p42\\ncn\\377ode\\nn*:3000\\n", 0)})
                    .rows(),
                ElementsAre(LsofRow{42, "n\xEF\xBF\xBDode", 3000}));
    // Output with a failure status is not trusted; status 1 is also "nothing matched".
    EXPECT_THAT(LsofPortDiscovery({fakeLsof("p42\\ncnode\\nn*:3000\\n", 1)}).rows(), IsEmpty());
    EXPECT_THAT(LsofPortDiscovery(std::vector<std::string>{}).rows(), IsEmpty());
}

}  // namespace
}  // namespace halvo
