#include "appkit/first_run_guard.h"

#include <gtest/gtest.h>

#include <map>

namespace halvo {
namespace {

TEST(FirstRunGuardTest, OnlyAStoredTrueSuppressesTheWindow) {
    EXPECT_EQ(TAVFirstRunGuard::windowId("halvo"), "tavlabs.halvo.first-run");
    for (const char* stored : {"true", "1", "false", "", "yes please", "(absent)"}) {
        InMemoryDefaultsStore defaults;
        if (std::string_view(stored) != "(absent)") {
            defaults.setValue("tavlabs.halvo.firstRunCompleted", stored);
        }
        const bool completed =
            std::string_view(stored) == "true" || std::string_view(stored) == "1";
        EXPECT_EQ(TAVFirstRunGuard::shouldShow("halvo", defaults), !completed) << stored;
    }
}

TEST(FirstRunGuardTest, CompletedThenResetPerProduct) {
    InMemoryDefaultsStore defaults;
    TAVFirstRunGuard::markCompleted("halvo", defaults);
    EXPECT_EQ(defaults.values,
              (std::map<std::string, std::string>{{"tavlabs.halvo.firstRunCompleted", "true"}}));
    EXPECT_FALSE(TAVFirstRunGuard::shouldShow("halvo", defaults));
    EXPECT_TRUE(TAVFirstRunGuard::shouldShow("other", defaults));
    TAVFirstRunGuard::reset("halvo", defaults);
    EXPECT_TRUE(defaults.values.empty());
}

}  // namespace
}  // namespace halvo
