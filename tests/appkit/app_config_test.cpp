// The kit's configuration: the product's slug and links, and where its
// updates are read.
#include <gtest/gtest.h>

#include "appkit/app_identity.h"
#include "appkit/update_config.h"

namespace halvo {
namespace {

using Kind = TAVAppKitError::Kind;

template <typename Error, typename F>
std::optional<Error> errorOf(F f) {
    try {
        f();
    } catch (const Error& error) {
        return error;
    }
    return std::nullopt;
}

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
        {"caf\u00e9", unsafe},
        {"-ab", "leading hyphen"},
        {"ab-", "trailing hyphen"},
    };
    for (const auto& [slug, expected] : cases) {
        std::string result;
        if (auto error = errorOf<TAVAppKitError>(
                [&] { result = TAVAppIdentityValidator::validateSlug(slug); })) {
            EXPECT_EQ(error->kind, Kind::invalidProductSlug) << slug;
            result = error->reason;
        }
        EXPECT_EQ(result, expected) << slug;
    }
    EXPECT_EQ(errorOf<TAVAppKitError>([] { TAVAppIdentityValidator::validateSlug(" \t\n "); }),
              (TAVAppKitError{Kind::emptyProductSlug, {}, {}}));
}

TEST(AppIdentityTest, LinksUseHttpsAndTheAddressIsPlausible) {
    const std::string ok = "https://x.example/";
    EXPECT_EQ(
        errorOf<TAVAppKitError>([&] { TAVAppLinks(ok, ok, {}, "http://x", "ftp://x", {}, {}); }),
        (TAVAppKitError{Kind::invalidURL, "privacyURL", "must use https"}));
    for (const char* address : {" \n", "a@bc", "@b.c", "a@b@c.d", "a b@c.d", "a\u2028b@c.d"}) {
        EXPECT_EQ(errorOf<TAVAppKitError>([&] { TAVAppLinks(ok, ok, {}, {}, {}, {}, address); }),
                  (TAVAppKitError{Kind::invalidContactEmail, {}, {}}))
            << address;
    }
}

TEST(UpdateConfigTest, FeedsAreReadOverHttpsOnly) {
    const auto kindOf = [](const char* base) -> std::optional<TAVUpdateError::Kind> {
        const auto error = errorOf<TAVUpdateError>([&] {
            TAVUpdateConfig::tavLabs(" Halvo\n", "Halvo", base, "", true, false, 60, false);
        });
        return error ? std::optional(error->kind) : std::nullopt;
    };
    EXPECT_EQ(kindOf("https://dl.example"), std::nullopt);
    // Plain http, or no host, cannot be where updates are announced.
    EXPECT_EQ(kindOf("http://dl.example"), TAVUpdateError::Kind::invalidAppcastURL);
    EXPECT_EQ(kindOf("https:///path"), TAVUpdateError::Kind::invalidAppcastURL);
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

}  // namespace
}  // namespace halvo
