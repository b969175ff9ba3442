#include "appkit/diagnostics.h"

#include <gtest/gtest.h>

namespace halvo {
namespace {

TEST(DiagnosticsTest, ReportLinesAndOmissions) {
    TAVAppDiagnostics d{"halvo",  "Halvo", "com.tavlabs.halvo", std::nullopt, std::nullopt, "6.1.0",
                        "x86_64", "",      std::nullopt};
    EXPECT_EQ(TAVDiagnosticInfoBuilder::build(d),
              "App: Halvo\nProduct Slug: halvo\nDesktop File ID: com.tavlabs.halvo\n"
              "Linux: 6.1.0\nArchitecture: x86_64");
    d.appVersion = "1.2.0";
    d.buildNumber = "42";
    d.updateSummary = "Up to date";
    d.appcastURL = "https://tavlabs.com/downloads/halvo/appcast.xml";
    EXPECT_EQ(
        TAVDiagnosticInfoBuilder::build(d),
        "App: Halvo\nProduct Slug: halvo\nDesktop File ID: com.tavlabs.halvo\nVersion: 1.2.0\n"
        "Build: 42\nLinux: 6.1.0\nArchitecture: x86_64\nUpdates: Up to date\n"
        "Appcast: https://tavlabs.com/downloads/halvo/appcast.xml");
}

TEST(DiagnosticsTest, KernelReleaseAsThreeNumbers) {
    const std::pair<const char*, const char*> cases[] = {
        {"6.1.0-18-amd64", "6.1.0"},
        {"5.15.153.1-microsoft-standard-WSL2", "5.15.153"},
        {"6.8-rc1", "6.8.0"},
        {"", "0.0.0"},
    };
    for (const auto& [release, expected] : cases) {
        EXPECT_EQ(kernelVersion(release), expected) << release;
    }
    const TAVAppDiagnostics current = TAVAppDiagnostics::current(appIdentity(), {}, {});
    EXPECT_EQ(current.appVersion, buildVersion());
    EXPECT_NE(current.linuxVersion, "0.0.0");
}

TEST(DiagnosticsTest, AboutVersionLine) {
    EXPECT_EQ(aboutVersionLine("1.2.0", "42"), "Version 1.2.0 (Build 42)");
    EXPECT_EQ(aboutVersionLine("1.2.0", {}), "Version 1.2.0");
    EXPECT_EQ(aboutVersionLine({}, "42"), "Build 42");
    EXPECT_EQ(aboutVersionLine({}, {}), std::nullopt);
}

TEST(DiagnosticsTest, SupportActionsKeepTheirOrderAndDropAbsentLinks) {
    auto titles = [](const TAVAppIdentity& identity) {
        std::vector<std::string> result;
        for (const TAVSupportAction& action : TAVSupportActions::forIdentity(identity)) {
            result.push_back(action.title);
        }
        return result;
    };
    EXPECT_EQ(
        titles(appIdentity()),
        (std::vector<std::string>{"Open Support", "Open Website", "Open Documentation", "Contact",
                                  "Copy Diagnostic Info", "Privacy Policy", "Terms"}));
    const TAVAppIdentity sparse(
        "a", "A", "a.b",
        TAVAppLinks("https://a.b", "https://a.b/s", "https://a.b/s", {}, {}, {}, {}));
    EXPECT_EQ(titles(sparse),
              (std::vector<std::string>{"Open Support", "Open Website", "Copy Diagnostic Info"}));
}

}  // namespace
}  // namespace halvo
