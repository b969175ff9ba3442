#include "scan/listening_sockets.h"

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

#include <algorithm>

#include "base/unique_fd.h"
#include "scan/proc_process_table.h"
#include "support/test_process.h"

namespace halvo {
namespace {

const std::string kHeader =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode\n";

TEST(ListeningSocketsTest, ProcNetTextKeepsListenersOfBothFamilies) {
    // One line as the kernel prints it; the rest cut down to the fields read.
    const std::string tcp = kHeader +
                            "   0: 0100007F:0BB8 00000000:0000 0A 00000000:00000000 00:00000000 "
                            "00000000  1000        0 4242 1 0000000000000000 100 0 0 10 0\n"
                            " 1: 0100007F:1F90 0100007F:C350 01 0:0 00:0 0 0 0 4243\n"
                            " 2: 00000000:0000 00000000:0000 0A 0:0 00:0 0 0 0 4244";
    const std::string tcp6 = kHeader +
                             " 0: 00000000000000000000000001000000:FFFF "
                             "00000000000000000000000000000000:0000 0a 0:0 00:0 0 0 0 9001\n";
    // 4243 is established; a port-0 listener stays in, for the caller to drop.
    // A missing tcp6 (IPv6 disabled) adds nothing.
    testing::TempDir root;
    root.writeFile("net/tcp", tcp);
    ListeningSockets expected{{4242, {3000, 1000}}, {4244, {0, 0}}};
    EXPECT_EQ(listeningSocketsFromProcNet(root.path()), expected);
    root.writeFile("net/tcp6", tcp6);
    expected[9001] = {65535, 0};
    EXPECT_EQ(listeningSocketsFromProcNet(root.path()), expected);
    EXPECT_EQ(listeningSocketsFromProcNet(root.path() + "/none"), ListeningSockets{});
}

TEST(ListeningSocketsTest, AMalformedLineCostsOnlyItself) {
    const std::string good = " 0: 0100007F:0050 00000000:0000 0A 0:0 00:0 0 7 0 ";
    const std::vector<std::string> bad = {
        good + "",                                                 // no inode
        good + "12x",                                              // inode not decimal
        " 0: 0100007F:0050 00000000:0000 0Z 0:0 00:0 0 0 0 777",   // state not hex
        " 0: 0100007F:0050 00000000:0000 A 0:0 00:0 0 0 0 777",    // state too short
        " 0: 0100007F0050 00000000:0000 0A 0:0 00:0 0 0 0 777",    // no port separator
        " 0: 0100007F:G050 00000000:0000 0A 0:0 00:0 0 0 0 777",   // port not hex
        " 0: 0100007F:00500 00000000:0000 0A 0:0 00:0 0 0 0 777",  // port too long
        " 0: 100007F:0050 00000000:0000 0A 0:0 00:0 0 0 0 777",    // address of neither family
        " 0: 0100007F:0050 00000000:0000 0A 0:0 00:0 0 -1 0 777",  // uid not decimal
        " 0: 0100007F:0050 00000000:0000 0A 0:0 00:0 0 4294967296 0 777",  // uid too large
        "\x01\xFF garbage",
        "",
    };
    // Good lines with inodes 1, 2, ... between the bad ones.
    std::string text;
    ListeningSockets expected;
    for (const std::string& line : bad) {
        const uint64_t inode = expected.size() + 1;
        text += good + std::to_string(inode) + "\n" + line + "\n";
        expected[inode] = {80, 7};
    }
    ListeningSockets sockets;
    addListeningFromProcNetText(text, sockets);
    EXPECT_EQ(sockets, expected);
}

TEST(ListeningSocketsTest, NetlinkAndProcNetAgreeOnARealListener) {
    testing::ListenerOptions options;
    options.listenerArgs = {"--v4", "1", "--v6only", "1", "--dual", "1", "--established"};
    auto listener = testing::ListenerProcess::start(options);
    const auto inodes = ProcFsProcessTable().socketInodes(listener->pid());
    ASSERT_TRUE(inodes.has_value());
    ASSERT_EQ(inodes->size(), 6u);  // four listeners and both ends of the connection

    std::vector<int64_t> expected = listener->ports();
    expected.push_back(listener->ports()[2]);  // the dual-stack port, twice
    std::sort(expected.begin(), expected.end());
    // The sorted ports the table gives the listener's sockets, each of them
    // owned by this test's user.
    const auto portsOf = [&](const ListeningSockets& sockets) {
        std::vector<int64_t> ports;
        for (uint64_t inode : *inodes) {
            if (auto found = sockets.find(inode); found != sockets.end()) {
                ports.push_back(found->second.port);
                EXPECT_EQ(found->second.uid, getuid()) << "port " << found->second.port;
            }
        }
        std::sort(ports.begin(), ports.end());
        return ports;
    };

    EXPECT_EQ(portsOf(listeningSocketsFromProcNet()), expected);
    EXPECT_EQ(portsOf(ProcFsProcessTable().listeningTcpSockets()), expected);
    const auto netlink = listeningSocketsFromNetlink();
    if (!netlink) {
        GTEST_SKIP() << "netlink sock_diag is refused here; only /proc/net was checked";
    }
    EXPECT_EQ(portsOf(*netlink), expected);
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
    forged.header.nlmsg_len = NLMSG_LENGTH(sizeof(inet_diag_msg));
    forged.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    forged.header.nlmsg_flags = NLM_F_MULTI;
    forged.header.nlmsg_seq = 1;
    forged.body.idiag_family = AF_INET;
    forged.body.idiag_state = TCP_LISTEN;
    forged.body.id.idiag_sport = htons(1);
    forged.body.idiag_inode = 0xF0F0F0F0;
    forged.done.nlmsg_len = NLMSG_LENGTH(sizeof(int));
    forged.done.nlmsg_type = NLMSG_DONE;
    forged.done.nlmsg_flags = NLM_F_MULTI;
    forged.done.nlmsg_seq = 1;
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
    EXPECT_EQ(listeningSocketsFromProcNet()[status.st_ino], ours->second);
}

}  // namespace
}  // namespace halvo
