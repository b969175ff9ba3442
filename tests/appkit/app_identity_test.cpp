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

TEST(AppIdentityTest, SlugRulesInTheirOrder) {
    const std::string eighty(80, 'a');
    struct Case {
        std::string slug;
        std::string expected;  // the normalised slug, or the reason
    };
    const std::string unsafe = "contains unsafe character";
    const Case cases[] = {
        {"  My-App \n", "my-app"}, {"a1-b2", "a1-b2"},
        {eighty, eighty},          {eighty + "a", "exceeds 80 characters"},
        {"-a/b", unsafe},          {"a..b", unsafe},
        {"a.b", unsafe},  // a dot would split the settings key
        {"a_b", unsafe},           {"a b", unsafe},
        {"a?b", unsafe},           {"caf\u00e9", unsafe},
        {"-ab", "leading hyphen"}, {"ab-", "trailing hyphen"},
    };
    for (const Case& c : cases) {
        std::string result;
        if (auto error = errorOf([&] { result = TAVAppIdentityValidator::validateSlug(c.slug); })) {
            EXPECT_EQ(error->kind, Kind::invalidProductSlug) << c.slug;
            result = error->reason;
        }
        EXPECT_EQ(result, c.expected) << c.slug;
    }
    EXPECT_EQ(errorOf([] { TAVAppIdentityValidator::validateSlug(" \t\n "); })->kind,
              Kind::emptyProductSlug);
}

TEST(AppIdentityTest, LinksAreCheckedInOrderAndTheAddressIsTrimmed) {
    using Links = std::array<std::optional<std::string>, 6>;
    const std::string ok = "https://x.example/";
    struct Case {
        Links links;
        std::optional<TAVAppKitError> expected;
    };
    const Case cases[] = {
        {{"http://x.example", "nope", ok, ok, ok, ok},
         TAVAppKitError{Kind::invalidURL, "websiteURL", "must use https"}},
        {{ok, "x.example/support", ok, ok, ok, ok},
         TAVAppKitError{Kind::invalidURL, "supportURL", "missing scheme"}},
        {{"HTTPS://X.example", ok, std::nullopt, "ftp://x.example", "http://x", ok},
         TAVAppKitError{Kind::invalidURL, "privacyURL", "must use https"}},
        {{ok, ok, ok, ok, ok, "mailto:a@b.c"},
         TAVAppKitError{Kind::invalidURL, "releaseNotesURL", "must use https"}},
        {{ok, ok, std::nullopt, std::nullopt, std::nullopt, std::nullopt}, std::nullopt},
    };
    for (const Case& c : cases) {
        const Links& l = c.links;
        EXPECT_EQ(errorOf([&] { TAVAppLinks(*l[0], *l[1], l[2], l[3], l[4], l[5], "x@y.z"); }),
                  c.expected)
            << *l[0] << " " << *l[1];
    }
    const TAVAppLinks links(ok, ok, {}, {}, {}, {}, "  help@tavlabs.com\n");
    EXPECT_EQ(links.contactMailURL(), "mailto:help@tavlabs.com");
    EXPECT_EQ(TAVAppLinks(ok, ok, {}, {}, {}, {}, {}).contactMailURL(), std::nullopt);
    EXPECT_EQ(errorOf([&] { TAVAppLinks(ok, ok, {}, {}, {}, {}, " \n"); })->kind,
              Kind::invalidContactEmail);
}

TEST(AppIdentityTest, PlausibleAddresses) {
    const std::string domain = "@tavlabs.com";
    struct Case {
        std::string address;
        bool valid;
    };
    const Case cases[] = {
        {"a@b.c", true},
        {"a@bc", false},
        {"@b.c", false},
        {"a@", false},
        {"a@b@c.d", false},
        {"a b@c.d", false},
        {"a@b.c\u2028", false},
        {std::string("a\0@b.c", 6), false},
        {std::string(254 - domain.size(), 'a') + domain, true},
        {std::string(255 - domain.size(), 'a') + domain, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TAVAppIdentityValidator::isValidEmail(c.address), c.valid) << c.address;
    }
}

TEST(AppIdentityTest, IdentityChecksSlugThenNames) {
    const TAVAppLinks links("https://a.b", "https://a.b", {}, {}, {}, {}, {});
    EXPECT_EQ(errorOf([&] { TAVAppIdentity("a/b", " ", " ", links); })->reason,
              "contains unsafe character");
    EXPECT_EQ(errorOf([&] { TAVAppIdentity("ab", " ", " ", links); })->kind,
              Kind::emptyProductDisplayName);
    EXPECT_EQ(errorOf([&] { TAVAppIdentity("ab", "A", "\n", links); })->kind,
              Kind::emptyDesktopFileId);
    const TAVAppIdentity identity(" Halvo ", " Halvo ", " com.tavlabs.halvo ", links);
    EXPECT_EQ(identity.productSlug(), "halvo");
    EXPECT_EQ(identity.desktopFileId(), "com.tavlabs.halvo");
    EXPECT_EQ(identity.branding(), TAVAppBranding{});
}

TEST(AppIdentityTest, HalvoIdentityLinksStayOnOneHttpsHost) {
    const TAVAppIdentity& identity = appIdentity();
    const TAVAppLinks& links = identity.links();
    for (const std::string& url :
         {links.websiteURL(), links.supportURL(), *links.documentationURL(), *links.privacyURL(),
          *links.termsURL(), *links.releaseNotesURL()}) {
        EXPECT_EQ(url.rfind("https://tavlabs.com/", 0), 0u) << url;
    }
    EXPECT_EQ(identity.branding().companyDisplayName, "TAV Labs");
}

TEST(AppIdentityDeathTest, ABrokenConstantStopsTheProcess) {
    EXPECT_DEATH(identityOrStop([]() -> TAVAppIdentity {
                     return TAVAppIdentity(
                         "a/b", "A", "a.b",
                         TAVAppLinks("https://a.b", "https://a.b", {}, {}, {}, {}, {}));
                 }),
                 "AppIdentity invariant violated: invalid product slug: contains unsafe character");
}

}  // namespace
}  // namespace halvo
