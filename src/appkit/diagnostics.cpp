#include "appkit/diagnostics.h"

#include <sys/utsname.h>

#include "base/text.h"

namespace halvo {

std::optional<std::string> buildVersion() {
    return std::string(HALVO_VERSION);
}

std::optional<std::string> buildNumber() {
    constexpr std::string_view kBuild = HALVO_BUILD_NUMBER;
    return kBuild.empty() ? std::nullopt : std::optional<std::string>(kBuild);
}

std::string_view buildArchitecture() {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__aarch64__)
    return "aarch64";
#elif defined(__i386__)
    return "i686";
#elif defined(__arm__)
    return "armv7l";
#elif defined(__riscv) && __riscv_xlen == 64
    return "riscv64";
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return "ppc64le";
#elif defined(__s390x__)
    return "s390x";
#else
    return "unknown";
#endif
}

std::string kernelVersion(std::string_view release) {
    std::string version;
    for (int part = 0; part < 3; ++part) {
        size_t digits = 0;
        while (digits < release.size() && release[digits] >= '0' && release[digits] <= '9') {
            ++digits;
        }
        const std::optional<uint64_t> number = parseUint64(release.substr(0, digits));
        version += (part > 0 ? "." : "") + std::to_string(number.value_or(0));
        release.remove_prefix(digits);
        if (!number || release.empty() || release.front() != '.') {
            release = {};
        } else {
            release.remove_prefix(1);
        }
    }
    return version;
}

TAVAppDiagnostics TAVAppDiagnostics::current(const TAVAppIdentity& identity,
                                             std::optional<std::string> updateSummary,
                                             std::optional<std::string> appcastURL) {
    utsname system{};
    const bool named = uname(&system) == 0;
    return TAVAppDiagnostics{
        .productSlug = identity.productSlug(),
        .productDisplayName = identity.productDisplayName(),
        .desktopFileId = identity.desktopFileId(),
        .appVersion = buildVersion(),
        .buildNumber = halvo::buildNumber(),
        .linuxVersion = kernelVersion(named ? system.release : ""),
        .architecture = std::string(buildArchitecture()),
        .updateSummary = std::move(updateSummary),
        .appcastURL = std::move(appcastURL),
        .hotkey = std::nullopt,  // the application knows it
    };
}

std::string TAVDiagnosticInfoBuilder::build(const TAVAppDiagnostics& d) {
    std::string report = "App: " + d.productDisplayName;
    auto line = [&report](std::string_view label, std::string_view value) {
        report.append("\n").append(label).append(value);
    };
    line("Product Slug: ", d.productSlug);
    line("Desktop File ID: ", d.desktopFileId);
    if (d.appVersion) {
        line("Version: ", *d.appVersion);
    }
    if (d.buildNumber) {
        line("Build: ", *d.buildNumber);
    }
    line("Linux: ", d.linuxVersion);
    line("Architecture: ", d.architecture);
    if (d.hotkey) {
        line("Hotkey: ", *d.hotkey);
    }
    if (d.updateSummary && !d.updateSummary->empty()) {
        line("Updates: ", *d.updateSummary);
    }
    if (d.appcastURL) {
        line("Appcast: ", *d.appcastURL);
    }
    return report;
}

std::optional<std::string> aboutVersionLine(const std::optional<std::string>& version,
                                            const std::optional<std::string>& build) {
    if (version) {
        return "Version " + *version + (build ? " (Build " + *build + ")" : "");
    }
    if (build) {
        return "Build " + *build;
    }
    return std::nullopt;
}

std::vector<TAVSupportAction> TAVSupportActions::forIdentity(const TAVAppIdentity& identity) {
    using Kind = TAVSupportAction::Kind;
    const TAVAppLinks& links = identity.links();
    std::optional<std::string> documentation = links.documentationURL();
    if (documentation == links.supportURL() || documentation == links.websiteURL()) {
        documentation.reset();
    }
    const std::vector<TAVSupportAction> all = {
        {Kind::openSupport, "help-faq", "Open Support", links.supportURL()},
        {Kind::openWebsite, "applications-internet", "Open Website", links.websiteURL()},
        {Kind::openDocumentation, "help-contents", "Open Documentation", documentation},
        {Kind::contact, "mail-message-new", "Contact", links.contactMailURL()},
        {Kind::copyDiagnostics, "edit-copy", "Copy Diagnostic Info", std::nullopt},
        {Kind::privacyPolicy, "security-high", "Privacy Policy", links.privacyURL()},
        {Kind::terms, "text-x-generic", "Terms", links.termsURL()},
    };
    std::vector<TAVSupportAction> shown;
    for (const TAVSupportAction& action : all) {
        if (action.url || action.kind == Kind::copyDiagnostics) {
            shown.push_back(action);
        }
    }
    return shown;
}

}  // namespace halvo
