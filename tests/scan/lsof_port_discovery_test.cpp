#include "scan/lsof_port_discovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_process.h"

namespace halvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::TempDir;
using Rows = std::vector<LsofRow>;

TEST(LsofParseTest, OneRowPerNameLineAndMalformedLinesCostOnlyThemselves) {
    const std::vector<std::pair<std::string, Rows>> cases = {
        // IPv4 and IPv6 on one port are two equal rows; merging is not the
        // parser's job. The port is the number after the last colon.
        {"p777\ncpython3\nf5\nn127.0.0.1:8000\nf6\nn[::1]:8000\nn[fe80::1%eth0]:8001\n"
         "n127.0.0.1:8002 (LISTEN)\n",
         {{777, "python3", 8000},
          {777, "python3", 8000},
          {777, "python3", 8001},
          {777, "python3", 8002}}},
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
