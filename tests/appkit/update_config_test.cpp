#include "appkit/update_config.h"

#include <gtest/gtest.h>

namespace halvo {
namespace {

using Kind = TAVUpdateError::Kind;

std::optional<Kind> errorOf(std::string_view slug, std::string_view name,
                            std::string base = "https://dl.example") {
    try {
        TAVUpdateConfig::tavLabs(slug, name, std::move(base), "stable", true, false, 60, false);
    } catch (const TAVUpdateError& error) {
        return error.kind;
    }
    return std::nullopt;
}

TEST(UpdateConfigTest, ProductSlugRule) {
    const std::string eighty(80, 'a');
    struct Case {
        std::string slug;
        bool valid;
    };
    const Case cases[] = {
        {" Halvo\n", true},    {"a", true},    {"Z", true},    {"7", true},    {eighty, true},
        {eighty + "a", false}, {"-ab", false}, {"ab-", false}, {"a/b", false}, {"a..b", false},
        {"a.b", false},        {"a_b", false}, {"", false},    {"-", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(errorOf(c.slug, "Halvo"),
                  c.valid ? std::nullopt : std::optional(Kind::invalidProductSlug))
            << c.slug;
    }
    EXPECT_EQ(errorOf("halvo", " \n"), Kind::invalidProductDisplayName);
    // Plain http, or no host, cannot be where updates are announced.
    EXPECT_EQ(errorOf("halvo", "Halvo", "http://dl.example"), Kind::invalidAppcastURL);
    EXPECT_EQ(errorOf("halvo", "Halvo", "https:///path"), Kind::invalidAppcastURL);
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
    const TAVUpdateConfig halvo = halvoUpdateConfig();
    EXPECT_EQ(halvo.appcastURL, "https://tavlabs.com/downloads/halvo/appcast.xml");
    EXPECT_EQ(halvo.allowedChannels(), std::set<std::string>{});
}

TEST(UpdateConfigTest, FailedShowsItsDescription) {
    using State = TAVUpdateState::Kind;
    TAVUpdateState failed{
        State::failed, {}, {}, TAVUpdateError{Kind::updateCheckFailed, "timeout"}};
    EXPECT_EQ(failed.statusLine(), "Update check failed: timeout");
    failed.error.reset();
    EXPECT_EQ(failed.statusLine(), "Update failed.");
    EXPECT_EQ(TAVUpdateState({State::updateAvailable, "1.4.0", {}, {}}).statusLine(),
              "Update available (1.4.0)");
}

}  // namespace
}  // namespace halvo
