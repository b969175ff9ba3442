// The update configuration (which product, which feed, how often), the update
// states the menu and windows show, and their texts. Constructions throw
// TAVUpdateError for a value they refuse.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace halvo {

struct TAVUpdateError {
    enum class Kind {
        updateCheckFailed,
        updateDownloadFailed,
        updateInstallFailed,
        unknown,
        invalidProductSlug,
        invalidProductDisplayName,
        invalidAppcastURL,
        cancelled,
    };
    Kind kind;
    std::string message;  // for the first four kinds

    // "Update check failed: " + message, "The update feed URL is invalid.", ...
    std::string description() const;
    bool operator==(const TAVUpdateError&) const = default;
};

struct TAVUpdateProduct {
    // Trims and lower-cases the slug; throws invalidProductSlug (the rule of
    // TAVAppIdentityValidator::validateSlug) or invalidProductDisplayName.
    TAVUpdateProduct(std::string_view slug, std::string_view displayName);
    std::string slug;
    std::string displayName;
};

struct TAVAppcast {
    // Throws invalidProductSlug; invalidAppcastURL unless `baseURL` is https
    // with a host.
    TAVAppcast(std::string baseURL, std::string_view productSlug, std::string channel);
    std::string baseURL;
    std::string productSlug;
    std::string channel;  // as given

    // baseURL + "/" + slug + "/appcast.xml", in the path (before a query or fragment).
    std::string appcastURL() const;
};

struct TAVUpdateConfig {
    TAVUpdateProduct product;
    std::string appcastURL;
    bool automaticallyChecksForUpdates = true;
    bool automaticallyDownloadsUpdates = false;
    double checkInterval = 86400;  // seconds
    bool allowsPrereleaseUpdates = false;
    // The maker's Ed25519 public key (base64) that every downloaded update
    // must be signed with; empty in a build given none, which then only
    // points to the release notes.
    std::string updatePublicKey;

    static TAVUpdateConfig tavLabs(std::string_view productSlug,
                                   std::string_view productDisplayName,
                                   std::string downloadsBaseURL, std::string channel,
                                   bool automaticallyChecksForUpdates,
                                   bool automaticallyDownloadsUpdates, double checkInterval,
                                   bool allowsPrereleaseUpdates);

    // Feed channels besides the default one: "stable", "beta" and "prerelease"
    // with prereleases on, none otherwise.
    std::set<std::string> allowedChannels() const;
};

// Halvo's configuration: daily automatic checks of the "stable" feed at the
// maker's downloads endpoint, prereleases off, and the key compiled in.
TAVUpdateConfig halvoUpdateConfig();

// Where updating stands: one kind and the payload that kind carries.
struct TAVUpdateState {
    enum class Kind {
        updateAvailable,
        downloading,
        readyToInstall,
        failed,
        idle,
        checking,
        noUpdateAvailable,
        installing,
    };
    Kind kind = Kind::idle;
    // updateAvailable, downloading, readyToInstall, installing
    std::optional<std::string> version;
    std::optional<double> progress;       // downloading
    std::optional<TAVUpdateError> error;  // failed
    bool operator==(const TAVUpdateState&) const = default;

    // "Update available (1.2.0)", "Up to date", "Idle", the error's
    // description, ...
    std::string statusLine() const;
    // "Update available", "Up to date", "Updates", ...
    std::string badgeText() const;
};

}  // namespace halvo
