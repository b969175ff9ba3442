#include "scan/listening_sockets.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "scan/proc_process_table.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;
using ::testing::UnorderedElementsAre;

constexpr const char* kHeader =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode\n";

TEST(ListeningSocketsTest, ProcNetTextKeepsListenersOfBothFamilies) {
    const std::string tcp = std::string(kHeader) +
                            "   0: 0100007F:0BB8 00000000:0000 0A 00000000:00000000 00:00000000 "
                            "00000000  1000        0 4242 1 0000000000000000 100 0 0 10 0\n"
                            "   1: 0100007F:1F90 0100007F:C350 01 00000000:00000000 00:00000000 "
                            "00000000  1000        0 4243 1 0000000000000000 20 4 30 10 -1\n"
                            "   2: 00000000:0000 00000000:0000 0A 00000000:00000000 00:00000000 "
                            "00000000     0        0 4244 1 0000000000000000 100 0 0 10 0";
    const std::string tcp6 =
        std::string(kHeader) +
        "   0: 00000000000000000000000001000000:FFFF 00000000000000000000000000000000:0000 0a "
        "00000000:00000000 00:00000000 00000000  1000        0 9001 1 0000000000000000 100 0 0 "
        "10 0\n";

    ListeningSockets sockets;
    addListeningFromProcNetText(tcp, sockets);
    addListeningFromProcNetText(tcp6, sockets);
    // 4243 is established; a port-0 listener stays in, for the caller to drop.
    EXPECT_THAT(sockets, UnorderedElementsAre(Pair(4242, 3000), Pair(4244, 0), Pair(9001, 65535)));
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
    std::string text;
    uint64_t inode = 1;
    for (const std::string& line : bad) {
        text += good + std::to_string(inode++) + "\n" + line + "\n";
    }

    ListeningSockets sockets;
    addListeningFromProcNetText(text, sockets);
    EXPECT_EQ(sockets.size(), bad.size());
    for (uint64_t i = 1; i <= bad.size(); ++i) {
        EXPECT_EQ(sockets[i], 80) << "good line " << i;
    }
}

TEST(ListeningSocketsTest, ProcNetFilesAreReadFromTheGivenRoot) {
    testing::TempDir root;
    root.writeFile("net/tcp", std::string(kHeader) +
                                  " 0: 0100007F:0BB8 00000000:0000 0A 0:0 00:0 0 0 0 11 1\n");
    EXPECT_THAT(listeningSocketsFromProcNet(root.path()), ElementsAre(Pair(11, 3000)));

    // tcp6 is missing (IPv6 disabled); nothing at all under a wrong root.
    EXPECT_THAT(listeningSocketsFromProcNet(root.path() + "/none"), IsEmpty());
}

// Ports of the given sockets as a table reports them; unknown inodes give none.
std::vector<int64_t> portsOf(const ListeningSockets& sockets, const std::vector<uint64_t>& inodes) {
    std::vector<int64_t> ports;
    for (uint64_t inode : inodes) {
        if (auto found = sockets.find(inode); found != sockets.end()) {
            ports.push_back(found->second);
        }
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

TEST(ListeningSocketsTest, NetlinkAndProcNetAgreeOnARealListener) {
    testing::ListenerOptions options;
    options.listenerArgs = {"--v4", "1", "--v6only", "1", "--dual", "1", "--established"};
    auto listener = testing::ListenerProcess::start(options);
    std::optional<std::vector<uint64_t>> inodes =
        ProcFsProcessTable().socketInodes(listener->pid());
    ASSERT_TRUE(inodes.has_value());
    // Four listeners and the two ends of the established connection.
    ASSERT_EQ(inodes->size(), 6u);

    std::vector<int64_t> expected = listener->ports();
    expected.push_back(listener->ports()[2]);  // the dual-stack port, twice
    std::sort(expected.begin(), expected.end());

    EXPECT_EQ(portsOf(listeningSocketsFromProcNet(), *inodes), expected);
    EXPECT_EQ(portsOf(listeningTcpSockets(), *inodes), expected);
    std::optional<ListeningSockets> netlink = listeningSocketsFromNetlink();
    if (!netlink) {
        GTEST_SKIP() << "netlink sock_diag is refused here; only /proc/net was checked";
    }
    EXPECT_EQ(portsOf(*netlink, *inodes), expected);
}

}  // namespace
}  // namespace halvo
