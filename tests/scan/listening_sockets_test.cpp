#include "scan/listening_sockets.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "scan/proc_process_table.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using ::testing::Pair;

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
    ListeningSockets sockets;
    addListeningFromProcNetText(tcp, sockets);
    addListeningFromProcNetText(tcp6, sockets);
    // 4243 is established; a port-0 listener stays in, for the caller to drop.
    EXPECT_THAT(sockets, ::testing::UnorderedElementsAre(Pair(4242, 3000), Pair(4244, 0),
                                                         Pair(9001, 65535)));

    // Files come from the given root; a missing tcp6 (IPv6 disabled) adds nothing.
    testing::TempDir root;
    root.writeFile("net/tcp", tcp);
    EXPECT_EQ(listeningSocketsFromProcNet(root.path()),
              (ListeningSockets{{4242, 3000}, {4244, 0}}));
    EXPECT_EQ(listeningSocketsFromProcNet(root.path() + "/none"), ListeningSockets{});
}

TEST(ListeningSocketsTest, AMalformedLineCostsOnlyItself) {
    const std::string good = " 0: 0100007F:0050 00000000:0000 0A 0:0 00:0 0 0 0 ";
    const std::vector<std::string> bad = {
        good + "",                                                 // no inode
        good + "12x",                                              // inode not decimal
        " 0: 0100007F:0050 00000000:0000 0Z 0:0 00:0 0 0 0 777",   // state not hex
        " 0: 0100007F:0050 00000000:0000 A 0:0 00:0 0 0 0 777",    // state too short
        " 0: 0100007F0050 00000000:0000 0A 0:0 00:0 0 0 0 777",    // no port separator
        " 0: 0100007F:G050 00000000:0000 0A 0:0 00:0 0 0 0 777",   // port not hex
        " 0: 0100007F:00500 00000000:0000 0A 0:0 00:0 0 0 0 777",  // port too long
        " 0: 100007F:0050 00000000:0000 0A 0:0 00:0 0 0 0 777",    // address of neither family
        "\x01\xFF garbage",
        "",
    };
    // Good lines with inodes 1, 2, ... between the bad ones.
    std::string text;
    ListeningSockets expected;
    for (const std::string& line : bad) {
        const uint64_t inode = expected.size() + 1;
        text += good + std::to_string(inode) + "\n" + line + "\n";
        expected[inode] = 80;
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
    // The sorted ports the table gives the listener's sockets.
    const auto portsOf = [&](const ListeningSockets& sockets) {
        std::vector<int64_t> ports;
        for (uint64_t inode : *inodes) {
            if (auto found = sockets.find(inode); found != sockets.end()) {
                ports.push_back(found->second);
            }
        }
        std::sort(ports.begin(), ports.end());
        return ports;
    };

    EXPECT_EQ(portsOf(listeningSocketsFromProcNet()), expected);
    EXPECT_EQ(portsOf(listeningTcpSockets()), expected);
    const auto netlink = listeningSocketsFromNetlink();
    if (!netlink) {
        GTEST_SKIP() << "netlink sock_diag is refused here; only /proc/net was checked";
    }
    EXPECT_EQ(portsOf(*netlink), expected);
}

}  // namespace
}  // namespace halvo
