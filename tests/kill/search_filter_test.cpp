#include "kill/search_filter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace halvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

PortProcess row(int64_t port, int32_t pid, std::string path,
                std::optional<FrameworkBadge> badge = std::nullopt) {
    PortProcess p;
    p.port = port;
    p.pid = pid;
    p.executablePath = std::move(path);
    p.executableName = p.executablePath.substr(p.executablePath.rfind('/') + 1);
    p.arguments = {p.executableName};
    p.frameworkBadge = badge;
    return p;
}

// "PID-PORT" of each row, in order, which is what the tests compare.
std::vector<std::string> ids(const std::vector<PortProcess>& rows) {
    std::vector<std::string> out;
    for (const PortProcess& p : rows) {
        out.push_back(p.id());
    }
    return out;
}

class SearchFilterTest : public ::testing::Test {
  protected:
    // Deliberately out of port order, with a PID and a path that look like ports.
    std::vector<PortProcess> rows{
        row(5173, 900, "/usr/bin/vite", FrameworkBadge::vite),
        row(3000, 812, "/srv/app3000/node", FrameworkBadge::next),
        row(5433, 3000, "/usr/lib/postgresql/bin/postgres", FrameworkBadge::postgres),
        row(3000, 77, "/usr/bin/node", FrameworkBadge::express),
        row(5432, 70000, "/usr/lib/postgresql/bin/postgres", FrameworkBadge::postgres),
        row(8080, 42, "/home/ana/next-shop/server"),
        row(5434, 43, "/usr/bin/redis-server", FrameworkBadge::redis),
    };

    std::vector<std::string> filter(std::string_view query) const {
        return ids(filterProcesses(rows, query));
    }
};

TEST_F(SearchFilterTest, BlankQueriesReturnTheListUnchanged) {
    for (std::string_view query : {"", "   ", " \t\n\r ", "\xC2\xA0\xE2\x80\xA8\xE3\x80\x80"}) {
        EXPECT_EQ(filterProcesses(rows, query), rows) << query;
    }
}

TEST_F(SearchFilterTest, APortSelectsByPortAloneSortedByPortThenPid) {
    EXPECT_THAT(filter("3000"), ElementsAre("77-3000", "812-3000"));
    EXPECT_THAT(filter(" 3000\n"), ElementsAre("77-3000", "812-3000"));
    EXPECT_THAT(filter("+3000"), ElementsAre("77-3000", "812-3000"));
    EXPECT_THAT(filter("03000"), ElementsAre("77-3000", "812-3000"));
    EXPECT_THAT(filter("9999"), IsEmpty());
}

TEST_F(SearchFilterTest, ListsTakeAnySeparators) {
    for (std::string_view query :
         {"3000,5173", "3000 5173", "3000; 5173", ",3000,,5173,", " ;3000 , 5173; ", "5173\t3000",
          "3000\xC2\xA0"
          "5173"}) {
        EXPECT_THAT(filter(query), ElementsAre("77-3000", "812-3000", "900-5173")) << query;
    }
}

TEST_F(SearchFilterTest, RangesTakeEitherSeparatorAndEitherOrder) {
    for (std::string_view query : {"5432-5434", "5434-5432", "5432..5434", "5434..5432"}) {
        EXPECT_THAT(filter(query), ElementsAre("70000-5432", "3000-5433", "43-5434")) << query;
    }
    EXPECT_THAT(filter("5433-5433"), ElementsAre("3000-5433"));
    EXPECT_THAT(filter("3000, 5432-5434"),
                ElementsAre("77-3000", "812-3000", "70000-5432", "3000-5433", "43-5434"));
    EXPECT_EQ(filter("1-65535"), filter("65535..1"));
    EXPECT_EQ(filter("1-65535").size(), rows.size());
}

TEST_F(SearchFilterTest, NonPortsFallBackToText) {
    // Out of range: searched as text, so the PID 70000 matches.
    EXPECT_THAT(filter("70000"), ElementsAre("70000-5432"));
    EXPECT_THAT(filter("0"), ElementsAre("900-5173", "812-3000", "3000-5433", "77-3000",
                                         "70000-5432", "42-8080"));
    EXPECT_THAT(filter("65536"), IsEmpty());
    // A port and a word is one text.
    EXPECT_THAT(filter("3000 next"), IsEmpty());
    // Two numbers are two ports, never a port and a PID.
    EXPECT_THAT(filter("3000 812"), ElementsAre("77-3000", "812-3000"));
    // Malformed ranges are text too; "-server" shows that they really are searched.
    for (std::string_view query : {"1-2-3", "3000-", "-3000", "3000...3005", "3000-3005..3010",
                                   "3000....3005", "0-10", "1-65536", ",;"}) {
        EXPECT_THAT(filter(query), IsEmpty()) << query;
    }
    EXPECT_THAT(filter("-server"), ElementsAre("43-5434"));
    EXPECT_THAT(filter("app3000"), ElementsAre("812-3000"));
}

TEST_F(SearchFilterTest, TextIgnoresCaseAndKeepsInputOrder) {
    const auto expected = ElementsAre("812-3000", "42-8080");
    EXPECT_THAT(filter("next"), expected);
    EXPECT_THAT(filter("NEXT"), expected);
    EXPECT_THAT(filter("  Next\n"), expected);
    EXPECT_THAT(filter("postgresql/bin"), ElementsAre("3000-5433", "70000-5432"));
    // Matches run across the fields of the search text.
    EXPECT_THAT(filter("/usr/bin/node node"), ElementsAre("77-3000"));
}

// Each row's whole search text, as the records define it, finds that row:
// absent fields keep their places and letters are lower-cased wherever they are.
TEST(SearchFilterTextTest, MatchesTheRecordsOwnSearchText) {
    PortProcess bare = row(3000, 77, "/usr/local/bin/Node");
    bare.arguments.clear();
    PortProcess full = row(5432, 3001, "/opt/ABC@XYZ[1]/`Postgres{}", FrameworkBadge::postgres);
    full.arguments = {"POSTGRES", "-D", "/VAR/lib/DATA"};
    full.workingDirectory = "/Users/Ana/Shop";
    full.projectHint = "Shop";
    full.dockerContext = DockerContext{"WEB-1", std::nullopt};
    PortProcess unnamed = row(8080, 5, "/srv/Server", FrameworkBadge::boot);
    unnamed.dockerContext = DockerContext{};
    PortProcess accented = row(3002, 6, "/home/\xC3\x89LISE/Serveur");
    const std::vector<PortProcess> rows{bare, full, unnamed, accented};

    for (const PortProcess& p : rows) {
        EXPECT_THAT(ids(filterProcesses(rows, p.searchText())), ElementsAre(p.id()))
            << p.searchText();
    }
    EXPECT_THAT(ids(filterProcesses(rows, "abc@xyz[1]/`postgres{} postgres -d")),
                ElementsAre("3001-5432"));
    EXPECT_THAT(ids(filterProcesses(rows, "shop spring")), IsEmpty());
    EXPECT_THAT(ids(filterProcesses(rows, "shop postgres web-1")), ElementsAre("3001-5432"));
    EXPECT_THAT(ids(filterProcesses(rows, "server   spring docker")), ElementsAre("5-8080"));
}

TEST(SearchFilterUnicodeTest, CanonicallyEquivalentFormsMatch) {
    const std::string precomposed = "caf\xC3\xA9";  // café, é as one code point
    const std::string decomposed = "cafe\xCC\x81";  // café, e and a combining acute
    std::vector<PortProcess> rows{row(3000, 1, "/home/ana/" + precomposed + "/node"),
                                  row(3001, 2, "/home/ana/" + decomposed + "/node"),
                                  row(3002, 3, "/home/ana/cafe/node")};
    for (const std::string& query : {precomposed, decomposed}) {
        EXPECT_THAT(ids(filterProcesses(rows, query)), ElementsAre("1-3000", "2-3001")) << query;
    }
    EXPECT_THAT(ids(filterProcesses(rows, "cafe/")), ElementsAre("3-3002"));
}

TEST(SearchFilterUnicodeTest, QueriesLowerCaseBeyondAscii) {
    std::vector<PortProcess> rows{row(3000, 1, "/home/\xC3\xA5sa/node"),  // åsa
                                  row(3001, 2, "/home/\xC3\x85SA/node"),  // ÅSA
                                  row(3002, 3, "/home/asa/node")};
    EXPECT_THAT(ids(filterProcesses(rows, "\xC3\x85SA")), ElementsAre("1-3000", "2-3001"));
    EXPECT_THAT(ids(filterProcesses(rows, "\xC3\xA5sa")), ElementsAre("1-3000", "2-3001"));
    // An invalid byte in a query is repaired, never read past.
    EXPECT_THAT(ids(filterProcesses(rows, "\xC3")), IsEmpty());
}

TEST(ParsePortQueryTest, BuildsTheWholeSetOrNothing) {
    const std::optional<PortSet> all = parsePortQuery("1-65535");
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(all->count(), 65535u);
    EXPECT_FALSE(all->test(0));

    const std::optional<PortSet> mixed = parsePortQuery("80 5434..5432,65535");
    ASSERT_TRUE(mixed.has_value());
    EXPECT_EQ(mixed->count(), 5u);
    for (size_t port : {80, 5432, 5433, 5434, 65535}) {
        EXPECT_TRUE(mixed->test(port)) << port;
    }

    for (std::string_view query : {"", " , ", "80 x", "80 0", "80,-1", "3000-5a"}) {
        EXPECT_EQ(parsePortQuery(query), std::nullopt) << query;
    }
}

}  // namespace
}  // namespace halvo
