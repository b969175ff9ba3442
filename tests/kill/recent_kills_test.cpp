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

TEST(RecentKillsTest, NewestFirstReplacingTheSamePortAndProcessAndKeepingFive) {
    InMemoryDefaultsStore store;
    EXPECT_THAT(loadRecentKills(store), IsEmpty());
    // A name that is not UTF-8 is repaired: JSON cannot hold it.
    recordRecentKill(3000, 10, "ru\xFF", store, at(0.25));
    EXPECT_EQ(
        nlohmann::json::parse(store.value(kRecentKillsKey).value()),
        nlohmann::json::parse(R"([{"port":3000,"pidName":"ru\uFFFD PID 10","killedAt":0.25}])"));

    recordRecentKill(3000, 11, "node", store, at(1));
    recordRecentKill(3000, 12, "node", store, at(2));  // same name, another PID
    recordRecentKill(5173, 900, "vite", store, at(3));
    recordRecentKill(3000, 11, "node", store, at(4));
    EXPECT_THAT(loadRecentKills(store),
                ElementsAre(HalvoRecentKill{3000, "node PID 11", at(4)},
                            HalvoRecentKill{5173, "vite PID 900", at(3)},
                            HalvoRecentKill{3000, "node PID 12", at(2)},
                            HalvoRecentKill{3000, "ru\uFFFD PID 10", at(0.25)}));

    recordRecentKill(8080, 7, "java", store, at(5));
    const auto before = std::chrono::system_clock::now();
    recordRecentKill(8081, 8, "java", store);
    const auto kills = loadRecentKills(store);
    EXPECT_THAT(ports(kills), ElementsAre(8081, 8080, 3000, 5173, 3000));
    EXPECT_EQ(kills.back().pidName, "node PID 12");
    // The time defaults to now; the stored double may round a little.
    EXPECT_GE(kills[0].killedAt, before - std::chrono::milliseconds(1));
    EXPECT_LE(kills[0].killedAt, std::chrono::system_clock::now() + std::chrono::milliseconds(1));
}

// Written by hand, or by another version: read in its order and length.
TEST(RecentKillsTest, HandWrittenValueReadsBackInItsOrderAndLength) {
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < 7; ++i) {
        // Dumped with sorted keys, another order than ours; whole-number times.
        list.push_back({{"port", 4000 + i},
                        {"pidName", "node PID " + std::to_string(i)},
                        {"killedAt", 600000000 + i}});
    }
    InMemoryDefaultsStore store;
    store.setValue(kRecentKillsKey, list.dump());
    const auto kills = loadRecentKills(store);
    EXPECT_THAT(ports(kills), ElementsAre(4000, 4001, 4002, 4003, 4004, 4005, 4006));
    EXPECT_EQ(kills[2], (HalvoRecentKill{4002, "node PID 2", at(600000002)}));
}

TEST(RecentKillsTest, UnreadableValuesReadAsEmptyUntilTheNextRecording) {
    const std::vector<std::string> unreadable{
        "not json",
        R"({"port":3000,"pidName":"node PID 1","killedAt":1})",  // not an array
        "[1]",
        R"([{"port":"3000","pidName":"node PID 1","killedAt":1}])",
        R"([{"port":3000,"pidName":"node PID 1","killedAt":1e999}])",
        // One bad entry spoils the list.
        R"([{"port":3000,"pidName":"node PID 1","killedAt":1},{"port":3001}])",
    };
    for (const std::string& value : unreadable) {
        SCOPED_TRACE(value);
        InMemoryDefaultsStore store;
        store.setValue(kRecentKillsKey, value);
        EXPECT_THAT(loadRecentKills(store), IsEmpty());
        EXPECT_EQ(store.value(kRecentKillsKey), value);

        recordRecentKill(3000, 4242, "node", store, at(1));
        EXPECT_THAT(loadRecentKills(store),
                    ElementsAre(HalvoRecentKill{3000, "node PID 4242", at(1)}));
    }
}

}  // namespace
}  // namespace halvo
