#include "appkit/update_config.h"

#include <gtest/gtest.h>

namespace halvo {
namespace {

using Kind = TAVUpdateError::Kind;

TEST(UpdateConfigTest, FeedsAreReadOverHttpsOnly) {
    auto errorOf = [](std::string base) -> std::optional<Kind> {
        try {
            TAVUpdateConfig::tavLabs(" Halvo\n", "Halvo", std::move(base), "", true, false, 60,
                                     false);
        } catch (const TAVUpdateError& error) {
            return error.kind;
        }
        return std::nullopt;
    };
    EXPECT_EQ(errorOf("https://dl.example"), std::nullopt);
    // Plain http, or no host, cannot be where updates are announced.
    EXPECT_EQ(errorOf("http://dl.example"), Kind::invalidAppcastURL);
    EXPECT_EQ(errorOf("https:///path"), Kind::invalidAppcastURL);
}

TEST(UpdateConfigTest, AppcastURLAppendsSlugAndFile) {
    const std::pair<std::string, std::string> cases[] = {
        {"https://dl.example", "https://dl.example/halvo/appcast.xml"},
        {"https://dl.example/downloads/", "https://dl.example/downloads/halvo/appcast.xml"},
        {"https://dl.example/d?k=v", "https://dl.example/d/halvo/appcast.xml?k=v"},
    };
    for (const auto& [base, expected] : cases) {
        EXPECT_EQ(TAVAppcast(base, " HALVO ", "stable").appcastURL(), expected);
    }
}

TEST(UpdateConfigTest, FailedShowsItsDescription) {
    TAVUpdateState failed{
        TAVUpdateState::Kind::failed, {}, {}, TAVUpdateError{Kind::updateCheckFailed, "timeout"}};
    EXPECT_EQ(failed.statusLine(), "Update check failed: timeout");
    failed.error.reset();
    EXPECT_EQ(failed.statusLine(), "Update failed.");
}

}  // namespace
}  // namespace halvo
