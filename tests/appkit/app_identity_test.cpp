#include "appkit/app_identity.h"

#include <gtest/gtest.h>

namespace halvo {
namespace {

using Kind = TAVAppKitError::Kind;

template <typename F>
std::optional<TAVAppKitError> errorOf(F f) {
    try {
        f();
    } catch (const TAVAppKitError& error) {
        return error;
    }
    return std::nullopt;
}

const TAVAppLinks kLinks("https://a.b", "https://a.b", {}, {}, {}, {}, {});

TEST(AppIdentityTest, SlugRulesInTheirOrder) {
    const std::string eighty(80, 'a');
    const std::string unsafe = "contains unsafe character";
    const std::pair<std::string, std::string> cases[] = {
        // the slug, and the normalised slug or the reason
        {"  My-App \n", "my-app"},
        {eighty, eighty},
        {eighty + "a", "exceeds 80 characters"},
        {"-a/b", unsafe},
        {"a.b", unsafe},  // a dot would split the settings key
        {"a_b", unsafe},
        {"a b", unsafe},
        {"caf\u00e9", unsafe},
        {"-ab", "leading hyphen"},
        {"ab-", "trailing hyphen"},
    };
    for (const auto& [slug, expected] : cases) {
        std::string result;
        if (auto error = errorOf([&] { result = TAVAppIdentityValidator::validateSlug(slug); })) {
            EXPECT_EQ(error->kind, Kind::invalidProductSlug) << slug;
            result = error->reason;
        }
        EXPECT_EQ(result, expected) << slug;
    }
    EXPECT_EQ(errorOf([] { TAVAppIdentityValidator::validateSlug(" \t\n "); }),
              (TAVAppKitError{Kind::emptyProductSlug, {}, {}}));
}

TEST(AppIdentityTest, LinksUseHttpsAndTheAddressIsPlausible) {
    const std::string ok = "https://x.example/";
    EXPECT_EQ(errorOf([&] { TAVAppLinks(ok, ok, {}, "http://x", "ftp://x", {}, {}); }),
              (TAVAppKitError{Kind::invalidURL, "privacyURL", "must use https"}));
    for (const char* address : {" \n", "a@bc", "@b.c", "a@b@c.d", "a b@c.d", "a\u2028b@c.d"}) {
        EXPECT_EQ(errorOf([&] { TAVAppLinks(ok, ok, {}, {}, {}, {}, address); }),
                  (TAVAppKitError{Kind::invalidContactEmail, {}, {}}))
            << address;
    }
}

}  // namespace
}  // namespace halvo
