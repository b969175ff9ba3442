#include "scan/listening_sockets.h"

#include <arpa/inet.h>
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

#include "base/unique_fd.h"
#include "support/test_process.h"

namespace halvo {
namespace {

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

}  // namespace
}  // namespace halvo
