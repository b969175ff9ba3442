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
    recordRecentKill(8081, 8, "java", store, at(6));
    const auto kills = loadRecentKills(store);
    ASSERT_EQ(kills.size(), 5u);  // the oldest went
    EXPECT_EQ(kills.front(), (HalvoRecentKill{8081, "java PID 8", at(6)}));
    EXPECT_EQ(kills.back().pidName, "node PID 12");
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
