// The plain-text diagnostics report that the about and support windows show
// and copy for a support request, what it is made of, and the ordered support
// actions those windows offer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "appkit/app_identity.h"

namespace halvo {

// This build's version (the project's) and build number (absent unless the
// build sets one), and the processor architecture it was compiled for, named
// as `uname -m` names it ("x86_64", "aarch64").
std::optional<std::string> buildVersion();
std::optional<std::string> buildNumber();
std::string_view buildArchitecture();

// "6.1.0" of a kernel release such as "6.1.0-18-amd64"; missing numbers read
// as 0, so "6.8-rc1" gives "6.8.0".
std::string kernelVersion(std::string_view release);

struct TAVAppDiagnostics {
    std::string productSlug;
    std::string productDisplayName;
    std::string desktopFileId;
    std::optional<std::string> appVersion;
    std::optional<std::string> buildNumber;
    std::string linuxVersion;  // the running kernel, major.minor.patch
    std::string architecture;
    std::optional<std::string> updateSummary;
    std::optional<std::string> appcastURL;
    std::optional<std::string> hotkey;  // what holds the global shortcut, or how to bind one

    // From the identity, this build and the running kernel.
    static TAVAppDiagnostics current(const TAVAppIdentity& identity,
                                     std::optional<std::string> updateSummary,
                                     std::optional<std::string> appcastURL);
};

class TAVDiagnosticInfoBuilder final {
  public:
    TAVDiagnosticInfoBuilder() = delete;
    // "App: ", "Product Slug: ", "Desktop File ID: ", "Version: ", "Build: ", "Linux: ",
    // "Architecture: ", "Hotkey: ", "Updates: ", "Appcast: " lines, one per line feed, none
    // at the end; a line whose value is absent (or an empty summary) is left out.
    static std::string build(const TAVAppDiagnostics& diagnostics);
};

// "Version 1.2.0 (Build 42)", "Version 1.2.0", "Build 42", or none.
std::optional<std::string> aboutVersionLine(const std::optional<std::string>& version,
                                            const std::optional<std::string>& build);

struct TAVSupportAction {
    enum class Kind {
        openSupport,
        openWebsite,
        openDocumentation,
        contact,
        copyDiagnostics,
        privacyPolicy,
        terms,
    };
    Kind kind;
    std::string iconName;  // freedesktop icon name
    std::string title;
    std::optional<std::string> url;  // what it opens; none for the copy
};

class TAVSupportActions final {
  public:
    TAVSupportActions() = delete;
    // "Open Support", "Open Website", "Open Documentation", "Contact", "Copy
    // Diagnostic Info", "Privacy Policy", "Terms", in that order. A row whose
    // link (or contact address) is absent is left out, and so is the
    // documentation row when its link repeats the support or website link.
    static std::vector<TAVSupportAction> forIdentity(const TAVAppIdentity& identity);
};

}  // namespace halvo
