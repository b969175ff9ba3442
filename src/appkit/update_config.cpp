#include "appkit/update_config.h"

#include "appkit/app_identity.h"
#include "base/text.h"

namespace halvo {
namespace {

std::string normalisedSlug(std::string_view slug) {
    try {
        return TAVAppIdentityValidator::validateSlug(slug);
    } catch (const TAVAppKitError&) {
        throw TAVUpdateError{TAVUpdateError::Kind::invalidProductSlug, {}};
    }
}

}  // namespace

std::string TAVUpdateError::description() const {
    switch (kind) {
        case Kind::updateCheckFailed:
            return "Update check failed: " + message;
        case Kind::updateDownloadFailed:
            return "Update download failed: " + message;
        case Kind::updateInstallFailed:
            return "Update installation failed: " + message;
        case Kind::unknown:
            return "Update failed: " + message;
        case Kind::invalidProductSlug:
            return "The update product slug is invalid.";
        case Kind::invalidProductDisplayName:
            return "The update product display name is invalid.";
        case Kind::invalidAppcastURL:
            return "The update feed URL is invalid.";
        case Kind::cancelled:
            return "The update was cancelled.";
    }
    return "Update failed.";
}

TAVUpdateProduct::TAVUpdateProduct(std::string_view slug, std::string_view displayName)
    : slug(normalisedSlug(slug)), displayName(trimWhiteSpace(displayName)) {
    if (this->displayName.empty()) {
        throw TAVUpdateError{TAVUpdateError::Kind::invalidProductDisplayName, {}};
    }
}

TAVAppcast::TAVAppcast(std::string baseURL, std::string_view productSlug, std::string channel)
    : baseURL(std::move(baseURL)),
      productSlug(normalisedSlug(productSlug)),
      channel(std::move(channel)) {
    // The feed decides what the user is told to install: only over TLS.
    const std::string_view url = this->baseURL;
    constexpr std::string_view kPrefix = "https://";
    if (toLower(url.substr(0, kPrefix.size())) != kPrefix || url.size() == kPrefix.size() ||
        url[kPrefix.size()] == '/') {
        throw TAVUpdateError{TAVUpdateError::Kind::invalidAppcastURL, {}};
    }
}

std::string TAVAppcast::appcastURL() const {
    const size_t pathEnd = baseURL.find_first_of("?#", std::string_view("https://").size());
    std::string path = baseURL.substr(0, pathEnd);
    if (path.back() != '/') {
        path += '/';
    }
    path += productSlug + "/appcast.xml";
    return pathEnd == std::string::npos ? path : path + baseURL.substr(pathEnd);
}

TAVUpdateConfig TAVUpdateConfig::tavLabs(std::string_view productSlug,
                                         std::string_view productDisplayName,
                                         std::string downloadsBaseURL, std::string channel,
                                         bool automaticallyChecksForUpdates,
                                         bool automaticallyDownloadsUpdates, double checkInterval,
                                         bool allowsPrereleaseUpdates) {
    TAVUpdateProduct product(productSlug, productDisplayName);
    const TAVAppcast appcast(std::move(downloadsBaseURL), product.slug, std::move(channel));
    return TAVUpdateConfig{
        .product = std::move(product),
        .appcastURL = appcast.appcastURL(),
        .automaticallyChecksForUpdates = automaticallyChecksForUpdates,
        .automaticallyDownloadsUpdates = automaticallyDownloadsUpdates,
        .checkInterval = checkInterval,
        .allowsPrereleaseUpdates = allowsPrereleaseUpdates,
        .updatePublicKey = {},
    };
}

std::set<std::string> TAVUpdateConfig::allowedChannels() const {
    if (allowsPrereleaseUpdates) {
        return {"stable", "beta", "prerelease"};
    }
    return {};
}

TAVUpdateConfig halvoUpdateConfig() {
    TAVUpdateConfig config = TAVUpdateConfig::tavLabs(
        "halvo", "Halvo", "https://tavlabs.com/downloads", "stable", true, false, 86400, false);
    config.updatePublicKey = HALVO_UPDATE_PUBLIC_KEY;
    return config;
}

std::string TAVUpdateState::statusLine() const {
    switch (kind) {
        case Kind::updateAvailable:
            return version ? "Update available (" + *version + ")" : "Update available";
        case Kind::failed:
            return error ? error->description() : "Update failed.";
        case Kind::idle:
            return "Idle";
        default:
            return badgeText();
    }
}

std::string TAVUpdateState::badgeText() const {
    switch (kind) {
        case Kind::updateAvailable:
            return "Update available";
        case Kind::downloading:
            return "Downloading…";
        case Kind::readyToInstall:
            return "Ready to install";
        case Kind::failed:
            return "Update failed";
        case Kind::idle:
            return "Updates";
        case Kind::checking:
            return "Checking…";
        case Kind::noUpdateAvailable:
            return "Up to date";
        case Kind::installing:
            return "Installing…";
    }
    return "Updates";
}

}  // namespace halvo
