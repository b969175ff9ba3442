// Which process holds which listening port: the socket tables, the native
// walk over a process table written out by hand, and lsof.
#include "scan/native_port_discovery.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "base/unique_fd.h"
#include "scan/listening_sockets.h"
#include "scan/lsof_port_discovery.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::SizeIs;
using Pids = std::vector<int32_t>;
using Rows = std::vector<LsofRow>;

// Lines as the kernel prints them, cut down to the fields read: a malformed
// or shifted line costs only itself. A missing tcp6 (IPv6 disabled) adds
// nothing; with neither file there is no table at all.
TEST(ListeningSocketsTest, ProcNetTextLinesStandAlone) {
    const std::string good = " 0: 0100007F:0050 00000000:0000 0A 0:0 00:0 0 7 0 ";
    testing::TempDir root;
    root.writeFile("net/tcp", good + "1\n" + good + "12x\n\x01\xFF" + good + "4\n" + good + "2");
    EXPECT_EQ(listeningSocketsFromProcNet(root.path()),
              (ListeningSockets{{1, {80, 7}}, {2, {80, 7}}}));
    EXPECT_EQ(listeningSocketsFromProcNet(root.path() + "/none"), std::nullopt);
}

TEST(ListeningSocketsTest, NetlinkRepliesFromOtherProcessesAreIgnored) {
    if (!listeningSocketsFromNetlink()) {
        GTEST_SKIP() << "netlink sock_diag is refused here";
    }
    // A listener of our own, found by the inode of its socket. Its owner is
    // the file-system uid it was created with: as root, one that is not 0,
    // so that an owner never read cannot pass for it.
    const uid_t owner = getuid() == 0 ? 4242 : getuid();
    setfsuid(owner);
    UniqueFd listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    setfsuid(getuid());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener.get(), 1), 0);
    ASSERT_EQ(getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    struct stat status {};
    ASSERT_EQ(fstat(listener.get(), &status), 0);

    UniqueFd diag(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    sockaddr_nl self{};
    self.nl_family = AF_NETLINK;
    length = sizeof(self);
    ASSERT_EQ(bind(diag.get(), reinterpret_cast<sockaddr*>(&self), sizeof(self)), 0);
    ASSERT_EQ(getsockname(diag.get(), reinterpret_cast<sockaddr*>(&self), &length), 0);

    // Another socket forges what would be the first reply: a listener and an
    // early end of the dump.
    struct {
        nlmsghdr header;
        inet_diag_msg body;
        nlmsghdr done;
        int error;
    } forged{};
    forged.header = {NLMSG_LENGTH(sizeof(inet_diag_msg)), SOCK_DIAG_BY_FAMILY, NLM_F_MULTI, 1, 0};
    forged.body.idiag_family = AF_INET;
    forged.body.idiag_state = TCP_LISTEN;
    forged.body.id.idiag_sport = htons(1);
    forged.body.idiag_inode = 0xF0F0F0F0;
    forged.done = {NLMSG_LENGTH(sizeof(int)), NLMSG_DONE, NLM_F_MULTI, 1, 0};
    UniqueFd forger(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    ASSERT_EQ(sendto(forger.get(), &forged, sizeof(forged), 0, reinterpret_cast<sockaddr*>(&self),
                     sizeof(self)),
              static_cast<ssize_t>(sizeof(forged)));

    const auto sockets = listeningSocketsFromNetlink(diag.get());
    ASSERT_TRUE(sockets.has_value());
    EXPECT_EQ(sockets->count(0xF0F0F0F0), 0u);
    const auto ours = sockets->find(status.st_ino);
    ASSERT_NE(ours, sockets->end());
    EXPECT_EQ(ours->second, (ListeningSocket{ntohs(address.sin_port), owner}));
    EXPECT_EQ(listeningSocketsFromProcNet().value()[status.st_ino], ours->second);
}

// A process table written out by hand; scans of many processes call it from
// several threads.
class FakeProcessTable final : public ProcessTableReading {
  public:
    std::optional<ListeningSockets> listening = ListeningSockets{};  // none: no socket table
    std::optional<Pids> pids = Pids{};                               // none: no process list
    std::map<int32_t, std::vector<uint64_t>> inodes;                 // absent: cannot be listed
    std::map<int32_t, std::string> names;                            // absent: cannot be read

    std::optional<ListeningSockets> listeningTcpSockets() override { return listening; }
    std::optional<Pids> processIds() override { return pids; }
    std::optional<std::vector<uint64_t>> socketInodes(int32_t pid) override {
        return inodes.contains(pid) ? std::optional(inodes.at(pid)) : std::nullopt;
    }
    std::optional<std::string> processName(int32_t pid) override {
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

    // Every socket with a port, held or not, with its owner and holders.
    EXPECT_THAT(NativePortDiscovery(table).discover().value().listeners,
                AllOf(SizeIs(7), Contains(SeenListener{3000, 1000, {70}}),
                      Contains(SeenListener{5432, 105, {}})));

    // No listeners: an answer. No socket table: none at all.
    table->listening->clear();
    EXPECT_THAT(NativePortDiscovery(table).discover(), ::testing::Optional(Discovery{}));
    table->listening = std::nullopt;
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
// line reuses the last name; a bad line (a port outside 1-65535 too), or a
// block with a bad PID, costs only itself; a name's control bytes forge nothing.
TEST(LsofParseTest, MalformedLinesCostOnlyThemselves) {
    EXPECT_EQ(
        parseRows("n*:1\np777\ncpy\x1b[2J\nn[fe80::1%eth0]:8001\nn127.0.0.1:8002 (LISTEN)\n"
                  "p12a\nn*:2\np9\nnlocalhost\nn*:80\r\n\x01n*:3\nn*:0\nn*:65536\nn*:-1\nn*:9"),
        (Rows{{777, "py\x1b[2J", 8001}, {777, "py\x1b[2J", 8002}, {9, "py\x1b[2J", 9}}));
}

}  // namespace
}  // namespace halvo
