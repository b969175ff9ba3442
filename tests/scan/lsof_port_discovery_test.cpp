#include "scan/lsof_port_discovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_process.h"

namespace halvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::ListenerOptions;
using testing::ListenerProcess;
using testing::TempDir;
using ::testing::UnorderedElementsAreArray;

TEST(LsofParseTest, OneRowPerNameLineInOutputOrder) {
    EXPECT_THAT(parseRows("p501\ncnode\nf23\nPTCP\nn*:3000\n"),
                ElementsAre(LsofRow{501, "node", 3000}));
    // IPv4 and IPv6 on one port are two equal rows; merging is not the parser's job.
    EXPECT_THAT(parseRows("p777\ncpython3\nf5\nn127.0.0.1:8000\nf6\nn[::1]:8000\n"),
                ElementsAre(LsofRow{777, "python3", 8000}, LsofRow{777, "python3", 8000}));
    EXPECT_THAT(
        parseRows("p1\ncruby\nn*:3000\np2\ncnode\nn*:5173\nn*:24678"),
        ElementsAre(LsofRow{1, "ruby", 3000}, LsofRow{2, "node", 5173}, LsofRow{2, "node", 24678}));
    EXPECT_THAT(parseRows(""), IsEmpty());
    EXPECT_THAT(parseRows("\n\n"), IsEmpty());
}

TEST(LsofParseTest, CommandNameCarriesOverAndMayBeEmpty) {
    // A block without its own "c" line reuses the previous command name.
    EXPECT_THAT(parseRows("p1\ncnode\nn*:3000\np2\nn*:4000\n"),
                ElementsAre(LsofRow{1, "node", 3000}, LsofRow{2, "node", 4000}));
    EXPECT_THAT(parseRows("p1\nc\nn*:3000\n"), ElementsAre(LsofRow{1, "", 3000}));
    EXPECT_THAT(parseRows("p1\ncmy server\nn*:3000\n"), ElementsAre(LsofRow{1, "my server", 3000}));
}

TEST(LsofParseTest, MalformedLinesCostOnlyThemselves) {
    // An unparsable "p" line skips the name lines up to the next valid one.
    EXPECT_THAT(parseRows("p1\ncnode\nn*:1\np12a\nn*:2\nn*:3\np4\nn*:4\n"),
                ElementsAre(LsofRow{1, "node", 1}, LsofRow{4, "node", 4}));
    for (const char* badPid : {"p", "p-", "p 5", "p2147483648", "p5 "}) {
        const std::string text = std::string("p1\ncnode\n") + badPid + "\nn*:2\np3\nn*:3\n";
        EXPECT_THAT(parseRows(text), ElementsAre(LsofRow{3, "node", 3})) << badPid;
    }
    // A signed PID parses; judging it is for later stages.
    EXPECT_THAT(parseRows("p+7\ncx\nn*:1\n"), ElementsAre(LsofRow{7, "x", 1}));
    // Name lines before any process or any command name.
    EXPECT_THAT(parseRows("n*:1\np5\nn*:2\ncnode\nn*:3\n"), ElementsAre(LsofRow{5, "node", 3}));
    // Names without a port, and tags the parser does not use.
    EXPECT_THAT(parseRows("p5\ncnode\nnlocalhost\nn*:\nn*:http\nf7\nPTCP\ni123\nk1\nn*:9\n"),
                ElementsAre(LsofRow{5, "node", 9}));
    // Carriage returns and other junk stay inside their own line.
    EXPECT_THAT(parseRows("p5\ncnode\nn*:80\r\nn*:81\n\x01garbage\nn*:82"),
                ElementsAre(LsofRow{5, "node", 81}, LsofRow{5, "node", 82}));
}

TEST(LsofParseTest, PortIsTheNumberAfterTheLastColonOfTheAddress) {
    EXPECT_EQ(portFromName("*:3000"), 3000);
    EXPECT_EQ(portFromName("[::1]:5432"), 5432);
    EXPECT_EQ(portFromName("[fe80::1%eth0]:22"), 22);
    EXPECT_EQ(portFromName("127.0.0.1:8000 (LISTEN)"), 8000);
    EXPECT_EQ(portFromName("  127.0.0.1:8000  "), 8000);
    EXPECT_EQ(portFromName("*:+80"), 80);
    // No range check beyond a 64-bit integer.
    EXPECT_EQ(portFromName("*:-1"), -1);
    EXPECT_EQ(portFromName("*:99999999999"), 99999999999);
    for (const char* none : {"", "   ", "localhost", "*:", "[::1]:", "*:http", "*:80x",
                             "*:99999999999999999999", "host:80:", "(LISTEN) *:80"}) {
        EXPECT_EQ(portFromName(none), std::nullopt) << none;
    }
}

TEST(LsofFindExecutableTest, FirstAbsoluteExecutableFileWins) {
    TempDir dir;
    const std::string plain = dir.writeFile("plain", "", 0644);
    const std::string folder = dir.makeDir("folder");
    const std::string first = dir.writeFile("first", "#!/bin/sh\n", 0755);
    const std::string second = dir.writeFile("second", "#!/bin/sh\n", 0755);
    EXPECT_EQ(findExecutable({dir.path() + "/missing", plain, folder, "first", first, second}),
              first);
    EXPECT_EQ(findExecutable({dir.path() + "/missing", plain}), std::nullopt);
    EXPECT_EQ(findExecutable({}), std::nullopt);
}

// A stand-in lsof that answers only the expected invocation.
std::string fakeLsof(const TempDir& dir, const std::string& output, int status) {
    return dir.writeFile("lsof",
                         "#!/bin/sh\n"
                         "[ \"$*\" = '-nP -iTCP -sTCP:LISTEN -F cnPi' ] || exit 9\n"
                         "printf '" +
                             output + "'\nexit " + std::to_string(status) + "\n",
                         0755);
}

TEST(LsofPortDiscoveryTest, RowsNeedOutputAndStatusZero) {
    TempDir dir;
    const std::string missing = dir.path() + "/missing";
    EXPECT_THAT(LsofPortDiscovery({fakeLsof(dir, "p42\\ncnode\\nn*:3000\\n", 0)}).rows(),
                ElementsAre(LsofRow{42, "node", 3000}));
    // The first candidate that exists is the one that runs.
    EXPECT_THAT(LsofPortDiscovery({missing, fakeLsof(dir, "p42\\ncnode\\nn*:3001\\n", 0)}).rows(),
                ElementsAre(LsofRow{42, "node", 3001}));
    // Output with a failure status is not trusted; status 1 is also "nothing matched".
    EXPECT_THAT(LsofPortDiscovery({fakeLsof(dir, "p42\\ncnode\\nn*:3000\\n", 1)}).rows(),
                IsEmpty());
    EXPECT_THAT(LsofPortDiscovery({"/nonexistent/lsof"}).rows(), IsEmpty());
    EXPECT_THAT(LsofPortDiscovery(std::vector<std::string>{}).rows(), IsEmpty());
}

TEST(LsofPortDiscoveryTest, InvalidUtf8InACommandNameBecomesReplacementCharacters) {
    TempDir dir;
    EXPECT_THAT(LsofPortDiscovery({fakeLsof(dir, "p42\\ncno\\377de\\nn*:3000\\n", 0)}).rows(),
                ElementsAre(LsofRow{42,
                                    "no\xEF\xBF\xBD"
                                    "de",
                                    3000}));
}

TEST(LsofPortDiscoveryTest, RealLsofReportsExactlyTheListeningSockets) {
    auto lsof = findExecutable(kLsofPaths);
    if (!lsof) {
        GTEST_SKIP() << "lsof is not installed";
    }
    TempDir dir;
    ListenerOptions options;
    options.executable = testing::listenerNamed(dir, "node");
    options.listenerArgs = {"--v4",          "1",     "--v6only", "1", "--dual", "1",
                            "--established", "--udp", "--unix"};
    auto listener = ListenerProcess::start(options);
    ASSERT_EQ(listener->ports().size(), 3u);

    std::vector<LsofRow> expected;
    for (int64_t port : listener->ports()) {
        expected.push_back(LsofRow{listener->pid(), "node", port});
    }
    expected.push_back(expected.back());  // the dual-stack port: IPv4 and IPv6

    std::vector<LsofRow> ours;
    for (const auto& row : LsofPortDiscovery().rows()) {
        if (row.pid == listener->pid()) {
            ours.push_back(row);
        }
    }
    EXPECT_THAT(ours, UnorderedElementsAreArray(expected));
}

}  // namespace
}  // namespace halvo
