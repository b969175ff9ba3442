// The product's identity as one validated value: a path-safe slug, its names,
// its https links and contact address, and the maker's names. Constructions
// throw TAVAppKitError for the first rule a value breaks, so every holder of
// an identity can rely on all of them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace halvo {

struct TAVAppKitError {
    enum class Kind {
        invalidProductSlug,  // `reason` says which slug rule failed
        invalidURL,          // `field` names the link, `reason` what is wrong with it
        emptyProductSlug,
        emptyProductDisplayName,
        emptyDesktopFileId,
        invalidContactEmail,
    };
    Kind kind;
    std::string field;
    std::string reason;

    // "invalid product slug: contains slash", "invalid URL websiteURL: must use https", ...
    std::string description() const;
    bool operator==(const TAVAppKitError&) const = default;
};

struct TAVAppBranding {
    std::string companyDisplayName = "TAV Labs";
    bool operator==(const TAVAppBranding&) const = default;
};

class TAVAppLinks {
  public:
    // Checks, in this order, website, support, documentation, privacy, terms and
    // release notes (https only; absent ones are skipped), then the contact
    // address, which is stored trimmed.
    TAVAppLinks(std::string websiteURL, std::string supportURL,
                std::optional<std::string> documentationURL, std::optional<std::string> privacyURL,
                std::optional<std::string> termsURL, std::optional<std::string> releaseNotesURL,
                std::optional<std::string> contactEmail);

    const std::string& websiteURL() const { return websiteURL_; }
    const std::string& supportURL() const { return supportURL_; }
    const std::optional<std::string>& documentationURL() const { return documentationURL_; }
    const std::optional<std::string>& privacyURL() const { return privacyURL_; }
    const std::optional<std::string>& termsURL() const { return termsURL_; }
    const std::optional<std::string>& releaseNotesURL() const { return releaseNotesURL_; }
    const std::optional<std::string>& contactEmail() const { return contactEmail_; }
    // "mailto:" + the contact address; none without one.
    std::optional<std::string> contactMailURL() const;

    bool operator==(const TAVAppLinks&) const = default;

  private:
    std::string websiteURL_;
    std::string supportURL_;
    std::optional<std::string> documentationURL_;
    std::optional<std::string> privacyURL_;
    std::optional<std::string> termsURL_;
    std::optional<std::string> releaseNotesURL_;
    std::optional<std::string> contactEmail_;
};

class TAVAppIdentity {
  public:
    // The slug is normalised (trimmed, lower-cased), the names trimmed.
    TAVAppIdentity(std::string_view productSlug, std::string_view productDisplayName,
                   std::string_view desktopFileId, TAVAppLinks links, TAVAppBranding branding = {});

    const std::string& productSlug() const { return productSlug_; }
    const std::string& productDisplayName() const { return productDisplayName_; }
    // The desktop entry's name without ".desktop" ("com.tavlabs.halvo"), which
    // is also the application's id on the session bus and to the compositor.
    const std::string& desktopFileId() const { return desktopFileId_; }
    const TAVAppLinks& links() const { return links_; }
    const TAVAppBranding& branding() const { return branding_; }

    bool operator==(const TAVAppIdentity&) const = default;

  private:
    std::string productSlug_;
    std::string productDisplayName_;
    std::string desktopFileId_;
    TAVAppLinks links_;
    TAVAppBranding branding_;
};

class TAVAppIdentityValidator final {
  public:
    TAVAppIdentityValidator() = delete;

    enum class Field { productDisplayName, desktopFileId };

    // The trimmed, lower-cased slug when it is 1 to 80 characters of a-z, 0-9
    // and "-", with no hyphen at either end: it names settings keys
    // ("tavlabs." + slug + ".…") and a folder of the update feed, so a dot,
    // a slash or anything else is refused. The first broken rule is thrown:
    // emptyProductSlug, then invalidProductSlug with "exceeds 80 characters",
    // "contains unsafe character", "leading hyphen" or "trailing hyphen".
    static std::string validateSlug(std::string_view slug);
    // The trimmed text, or throws the empty case of `field`.
    static std::string validateNonEmpty(std::string_view text, Field field);
    // Throws invalidURL for `field` unless the URL's scheme reads https.
    static void validateURL(std::string_view url, std::string_view field);
    // One "@" between a non-empty local part and a domain holding a dot; fewer
    // than 255 characters; no space, line break or NUL.
    static bool isValidEmail(std::string_view email);
};

// Halvo's identity, built on first use. A constant that breaks a rule is a
// programming error: the process stops with "AppIdentity invariant violated: "
// and the error.
const TAVAppIdentity& appIdentity();

// Returns what `build` returns, or stops the process as above when it throws.
TAVAppIdentity identityOrStop(TAVAppIdentity (*build)());

}  // namespace halvo
