#include "kill/recent_kills.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace halvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// 2001-01-01 00:00:00 UTC as seconds since the Unix epoch.
constexpr double kReferenceUnixSeconds = 978307200;

RecentKillTime at(double secondsSinceReference) {
    return RecentKillTime(
        std::chrono::duration<double>(kReferenceUnixSeconds + secondsSinceReference));
}

std::vector<int64_t> ports(const std::vector<HalvoRecentKill>& kills) {
    std::vector<int64_t> out;
    for (const HalvoRecentKill& kill : kills) {
        out.push_back(kill.port);
    }
    return out;
}

TEST(RecentKillsTest, FirstRecordingStoresOneEntry) {
    InMemoryDefaultsStore store;
    EXPECT_THAT(loadRecentKills(store), IsEmpty());
    recordRecentKill(3000, 4242, "node", store, at(700000000.25));
    EXPECT_THAT(loadRecentKills(store),
                ElementsAre(HalvoRecentKill{3000, "node PID 4242", at(700000000.25)}));
}

TEST(RecentKillsTest, SamePortAndProcessIsReplacedAndMovedToTheFront) {
    InMemoryDefaultsStore store;
    recordRecentKill(3000, 4242, "node", store, at(100));
    recordRecentKill(5173, 900, "vite", store, at(200));
    recordRecentKill(3000, 4242, "node", store, at(300));
    EXPECT_THAT(loadRecentKills(store),
                ElementsAre(HalvoRecentKill{3000, "node PID 4242", at(300)},
                            HalvoRecentKill{5173, "vite PID 900", at(200)}));
}

TEST(RecentKillsTest, SamePortWithAnotherProcessKeepsBoth) {
    InMemoryDefaultsStore store;
    recordRecentKill(3000, 10, "ruby", store, at(100));
    recordRecentKill(3000, 11, "node", store, at(200));
    recordRecentKill(3000, 12, "node", store, at(300));  // same name, another pid
    const auto kills = loadRecentKills(store);
    ASSERT_EQ(kills.size(), 3u);
    EXPECT_EQ(kills[0].pidName, "node PID 12");
    EXPECT_EQ(kills[1].pidName, "node PID 11");
    EXPECT_EQ(kills[2].pidName, "ruby PID 10");
}

TEST(RecentKillsTest, OnlyTheFiveNewestAreWritten) {
    InMemoryDefaultsStore store;
    for (int64_t port = 3001; port <= 3006; ++port) {
        recordRecentKill(port, 1, "node", store, at(static_cast<double>(port)));
    }
    EXPECT_THAT(ports(loadRecentKills(store)), ElementsAre(3006, 3005, 3004, 3003, 3002));
}

TEST(RecentKillsTest, StoredFormIsAnArrayOfThreeKeyObjects) {
    InMemoryDefaultsStore store;
    recordRecentKill(3000, 4242, "node", store, at(700000000.5));
    recordRecentKill(8080, 7, "java", store, at(700000001));
    const auto stored = nlohmann::json::parse(store.value(kRecentKillsKey).value());
    const auto expected = nlohmann::json::parse(
        R"([{"port":8080,"pidName":"java PID 7","killedAt":700000001},
            {"port":3000,"pidName":"node PID 4242","killedAt":700000000.5}])");
    EXPECT_EQ(stored, expected);
}

TEST(RecentKillsTest, HandWrittenValueReadsBackInItsOrderAndLength) {
    InMemoryDefaultsStore store;
    std::string value = "[";
    for (int i = 0; i < 7; ++i) {
        // Keys in another order than ours, and a whole-number timestamp.
        value += (i ? "," : "") + std::string(R"({"killedAt":)") + std::to_string(600000000 + i) +
                 R"(,"pidName":"node PID )" + std::to_string(i) + R"(","port":)" +
                 std::to_string(4000 + i) + "}";
    }
    value += "]";
    store.setValue(kRecentKillsKey, value);

    const auto kills = loadRecentKills(store);
    EXPECT_THAT(ports(kills), ElementsAre(4000, 4001, 4002, 4003, 4004, 4005, 4006));
    EXPECT_EQ(kills[2], (HalvoRecentKill{4002, "node PID 2", at(600000002)}));
    EXPECT_EQ(store.value(kRecentKillsKey), value);

    recordRecentKill(3000, 1, "node", store, at(700000000));
    EXPECT_THAT(ports(loadRecentKills(store)), ElementsAre(3000, 4000, 4001, 4002, 4003));
}

TEST(RecentKillsTest, UnreadableValuesReadAsEmptyUntilTheNextRecording) {
    const std::vector<std::string> unreadable{
        "not json",
        "",
        "{\"port\":3000,\"pidName\":\"node PID 1\",\"killedAt\":1}",  // not an array
        "[1]",
        "[{\"pidName\":\"node PID 1\",\"killedAt\":1}]",                    // no port
        "[{\"port\":\"3000\",\"pidName\":\"node PID 1\",\"killedAt\":1}]",  // port a string
        "[{\"port\":3000.5,\"pidName\":\"node PID 1\",\"killedAt\":1}]",
        "[{\"port\":3000,\"pidName\":7,\"killedAt\":1}]",
        "[{\"port\":3000,\"pidName\":\"node PID 1\",\"killedAt\":\"2024-01-01\"}]",
        "[{\"port\":3000,\"pidName\":\"node PID 1\",\"killedAt\":1e999}]",  // overflows
        "[{\"port\":18446744073709551615,\"pidName\":\"node PID 1\",\"killedAt\":1}]",
        // One bad entry spoils the list.
        "[{\"port\":3000,\"pidName\":\"node PID 1\",\"killedAt\":1},{\"port\":3001}]",
    };
    for (const std::string& value : unreadable) {
        InMemoryDefaultsStore store;
        store.setValue(kRecentKillsKey, value);
        EXPECT_THAT(loadRecentKills(store), IsEmpty()) << value;
        EXPECT_EQ(store.value(kRecentKillsKey), value);

        recordRecentKill(3000, 4242, "node", store, at(1));
        EXPECT_THAT(loadRecentKills(store),
                    ElementsAre(HalvoRecentKill{3000, "node PID 4242", at(1)}))
            << value;
    }
}

TEST(RecentKillsTest, NamesThatAreNotUtf8AreRepairedNotLost) {
    InMemoryDefaultsStore store;
    recordRecentKill(3000, 1,
                     "no\xFF"
                     "de",
                     store, at(1));
    EXPECT_THAT(loadRecentKills(store), ElementsAre(HalvoRecentKill{3000,
                                                                    "no\xEF\xBF\xBD"
                                                                    "de PID 1",
                                                                    at(1)}));
}

TEST(RecentKillsTest, DefaultTimeIsNow) {
    InMemoryDefaultsStore store;
    const auto before = std::chrono::system_clock::now();
    recordRecentKill(3000, 1, "node", store);
    const auto after = std::chrono::system_clock::now();
    const auto kills = loadRecentKills(store);
    ASSERT_EQ(kills.size(), 1u);
    // The stored double may round a little either way.
    EXPECT_GE(kills[0].killedAt, before - std::chrono::milliseconds(1));
    EXPECT_LE(kills[0].killedAt, after + std::chrono::milliseconds(1));
}

}  // namespace
}  // namespace halvo
