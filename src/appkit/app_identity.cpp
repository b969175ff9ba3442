#include "appkit/app_identity.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "base/text.h"

namespace halvo {
namespace {

// Code points, which is what a user counts for the texts these rules accept.
size_t characterCount(std::string_view text) {
    size_t count = 0;
    for (unsigned char c : text) {
        count += (c & 0xC0) != 0x80;
    }
    return count;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The scheme before the first ":", when the text starts with one
// (a letter, then letters, digits, "+", "-" or ".").
std::optional<std::string_view> urlScheme(std::string_view url) {
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    const std::string_view scheme = url.substr(0, colon);
    auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!alpha(scheme.front())) {
        return std::nullopt;
    }
    for (char c : scheme) {
        if (!alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
            return std::nullopt;
        }
    }
    return scheme;
}

bool isSlugCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

TAVAppKitError slugError(std::string reason) {
    return {TAVAppKitError::Kind::invalidProductSlug, {}, std::move(reason)};
}

void validateOptionalURL(const std::optional<std::string>& url, std::string_view field) {
    if (url) {
        TAVAppIdentityValidator::validateURL(*url, field);
    }
}

TAVAppIdentity buildAppIdentity() {
    const std::string site = "https://tavlabs.com";
    TAVAppLinks links(site + "/products/halvo", site + "/support", site + "/products/halvo/docs",
                      site + "/privacy", site + "/terms", site + "/changelog/halvo",
                      "support@tavlabs.com");
    return TAVAppIdentity("halvo", "Halvo", "com.tavlabs.halvo", std::move(links));
}

}  // namespace

std::string TAVAppKitError::description() const {
    switch (kind) {
        case Kind::invalidProductSlug:
            return "invalid product slug: " + reason;
        case Kind::invalidURL:
            return "invalid URL " + field + ": " + reason;
        case Kind::emptyProductSlug:
            return "empty product slug";
        case Kind::emptyProductDisplayName:
            return "empty product display name";
        case Kind::emptyDesktopFileId:
            return "empty desktop file id";
        case Kind::invalidContactEmail:
            return "invalid contact email";
    }
    return "invalid identity";
}

std::string TAVAppIdentityValidator::validateSlug(std::string_view slug) {
    const std::string_view trimmed = trimWhiteSpace(slug);
    if (trimmed.empty()) {
        throw TAVAppKitError{TAVAppKitError::Kind::emptyProductSlug, {}, {}};
    }
    std::string lower = toLower(trimmed);
    if (lower.size() > 80) {
        throw slugError("exceeds 80 characters");
    }
    if (!std::all_of(lower.begin(), lower.end(), isSlugCharacter)) {
        throw slugError("contains unsafe character");
    }
    if (lower.front() == '-') {
        throw slugError("leading hyphen");
    }
    if (lower.back() == '-') {
        throw slugError("trailing hyphen");
    }
    return lower;
}

std::string TAVAppIdentityValidator::validateNonEmpty(std::string_view text, Field field) {
    const std::string_view trimmed = trimWhiteSpace(text);
    if (trimmed.empty()) {
        throw TAVAppKitError{field == Field::productDisplayName
                                 ? TAVAppKitError::Kind::emptyProductDisplayName
                                 : TAVAppKitError::Kind::emptyDesktopFileId,
                             {},
                             {}};
    }
    return std::string(trimmed);
}

void TAVAppIdentityValidator::validateURL(std::string_view url, std::string_view field) {
    const std::optional<std::string_view> scheme = urlScheme(url);
    if (!scheme) {
        throw TAVAppKitError{TAVAppKitError::Kind::invalidURL, std::string(field),
                             "missing scheme"};
    }
    if (toLower(*scheme) != "https") {
        throw TAVAppKitError{TAVAppKitError::Kind::invalidURL, std::string(field),
                             "must use https"};
    }
}

bool TAVAppIdentityValidator::isValidEmail(std::string_view email) {
    if (email.empty() || characterCount(email) >= 255) {
        return false;
    }
    for (std::string_view forbidden :
         {std::string_view("\n"), std::string_view("\v"), std::string_view("\f"),
          std::string_view("\r"), std::string_view("\0", 1), std::string_view("\u0085"),
          std::string_view("\u2028"), std::string_view("\u2029"), std::string_view(" ")}) {
        if (contains(email, forbidden)) {
            return false;
        }
    }
    const size_t at = email.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == email.size() ||
        email.find('@', at + 1) != std::string_view::npos) {
        return false;
    }
    return contains(email.substr(at + 1), ".");
}

TAVAppLinks::TAVAppLinks(std::string websiteURL, std::string supportURL,
                         std::optional<std::string> documentationURL,
                         std::optional<std::string> privacyURL, std::optional<std::string> termsURL,
                         std::optional<std::string> releaseNotesURL,
                         std::optional<std::string> contactEmail)
    : websiteURL_(std::move(websiteURL)),
      supportURL_(std::move(supportURL)),
      documentationURL_(std::move(documentationURL)),
      privacyURL_(std::move(privacyURL)),
      termsURL_(std::move(termsURL)),
      releaseNotesURL_(std::move(releaseNotesURL)) {
    TAVAppIdentityValidator::validateURL(websiteURL_, "websiteURL");
    TAVAppIdentityValidator::validateURL(supportURL_, "supportURL");
    validateOptionalURL(documentationURL_, "documentationURL");
    validateOptionalURL(privacyURL_, "privacyURL");
    validateOptionalURL(termsURL_, "termsURL");
    validateOptionalURL(releaseNotesURL_, "releaseNotesURL");
    if (contactEmail) {
        const std::string_view trimmed = trimWhiteSpace(*contactEmail);
        if (trimmed.empty() || !TAVAppIdentityValidator::isValidEmail(trimmed)) {
            throw TAVAppKitError{TAVAppKitError::Kind::invalidContactEmail, {}, {}};
        }
        contactEmail_ = std::string(trimmed);
    }
}

std::optional<std::string> TAVAppLinks::contactMailURL() const {
    if (!contactEmail_) {
        return std::nullopt;
    }
    return "mailto:" + *contactEmail_;
}

TAVAppIdentity::TAVAppIdentity(std::string_view productSlug, std::string_view productDisplayName,
                               std::string_view desktopFileId, TAVAppLinks links,
                               TAVAppBranding branding)
    : productSlug_(TAVAppIdentityValidator::validateSlug(productSlug)),
      productDisplayName_(TAVAppIdentityValidator::validateNonEmpty(
          productDisplayName, TAVAppIdentityValidator::Field::productDisplayName)),
      desktopFileId_(TAVAppIdentityValidator::validateNonEmpty(
          desktopFileId, TAVAppIdentityValidator::Field::desktopFileId)),
      links_(std::move(links)),
      branding_(std::move(branding)) {}

TAVAppIdentity identityOrStop(TAVAppIdentity (*build)()) {
    try {
        return build();
    } catch (const TAVAppKitError& error) {
        std::fprintf(stderr, "AppIdentity invariant violated: %s\n", error.description().c_str());
        std::abort();
    }
}

const TAVAppIdentity& appIdentity() {
    static const TAVAppIdentity identity = identityOrStop(buildAppIdentity);
    return identity;
}

}  // namespace halvo
