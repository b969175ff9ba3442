#include "appkit/first_run_guard.h"

#include <gtest/gtest.h>

#include <map>

namespace halvo {
namespace {

struct MemoryDefaults final : TAVDefaults {
    std::optional<std::string> value(std::string_view key) const override {
        auto it = values.find(std::string(key));
        return it == values.end() ? std::nullopt : std::optional(it->second);
    }
    void setValue(std::string_view key, const std::string& v) override {
        values[std::string(key)] = v;
    }
    void removeValue(std::string_view key) override { values.erase(std::string(key)); }
    std::map<std::string, std::string> values;
};

TEST(FirstRunGuardTest, OnlyAStoredTrueSuppressesTheWindow) {
    EXPECT_EQ(TAVFirstRunGuard::windowId("halvo"), "tavlabs.halvo.first-run");
    for (const char* stored : {"true", "1", "false", "", "yes please", "(absent)"}) {
        MemoryDefaults defaults;
        if (std::string_view(stored) != "(absent)") {
            defaults.setValue("tavlabs.halvo.firstRunCompleted", stored);
        }
        const bool completed =
            std::string_view(stored) == "true" || std::string_view(stored) == "1";
        EXPECT_EQ(TAVFirstRunGuard::shouldShow("halvo", defaults), !completed) << stored;
    }
}

TEST(FirstRunGuardTest, CompletedThenResetPerProduct) {
    MemoryDefaults defaults;
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
