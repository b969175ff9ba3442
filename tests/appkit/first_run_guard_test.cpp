#include "appkit/first_run_guard.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

namespace halvo {
namespace {

class MemoryDefaults final : public TAVDefaults {
  public:
    std::optional<std::string> value(std::string_view key) const override {
        auto it = values.find(std::string(key));
        return it == values.end() ? std::nullopt : std::optional(it->second);
    }
    void setValue(std::string_view key, const std::string& value) override {
        values[std::string(key)] = value;
    }
    void removeValue(std::string_view key) override { values.erase(std::string(key)); }

    std::map<std::string, std::string> values;
};

TEST(FirstRunGuardTest, KeysOfAProduct) {
    EXPECT_EQ(TAVFirstRunGuard::storageKey("halvo"), "tavlabs.halvo.firstRunCompleted");
    EXPECT_EQ(TAVFirstRunGuard::windowId("halvo"), "tavlabs.halvo.first-run");
}

TEST(FirstRunGuardTest, OnlyAStoredTrueSuppressesTheWindow) {
    const struct {
        std::optional<std::string> stored;
        bool shown;
    } cases[] = {{std::nullopt, true}, {"true", false}, {"1", false},
                 {"false", true},      {"", true},      {"yes please", true}};
    for (const auto& c : cases) {
        MemoryDefaults defaults;
        if (c.stored) {
            defaults.setValue("tavlabs.halvo.firstRunCompleted", *c.stored);
        }
        EXPECT_EQ(TAVFirstRunGuard::shouldShow("halvo", defaults), c.shown)
            << c.stored.value_or("(absent)");
    }
}

TEST(FirstRunGuardTest, CompletedThenResetPerProduct) {
    MemoryDefaults defaults;
    TAVFirstRunGuard::markCompleted("halvo", defaults);
    EXPECT_FALSE(TAVFirstRunGuard::shouldShow("halvo", defaults));
    EXPECT_TRUE(TAVFirstRunGuard::shouldShow("other", defaults));
    TAVFirstRunGuard::reset("halvo", defaults);
    EXPECT_TRUE(defaults.values.empty());
    EXPECT_TRUE(TAVFirstRunGuard::shouldShow("halvo", defaults));
}

}  // namespace
}  // namespace halvo
