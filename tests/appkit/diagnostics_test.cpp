#include "appkit/diagnostics.h"

#include <gtest/gtest.h>

namespace halvo {
namespace {

TEST(DiagnosticsTest, ReportLinesAndOmissions) {
    TAVAppDiagnostics d{"halvo",  "Halvo", "com.tavlabs.halvo", std::nullopt, std::nullopt, "6.1.0",
                        "x86_64", "",      std::nullopt};
    const std::string head =
        "App: Halvo\nProduct Slug: halvo\nDesktop File ID: com.tavlabs.halvo\n";
    EXPECT_EQ(TAVDiagnosticInfoBuilder::build(d), head + "Linux: 6.1.0\nArchitecture: x86_64");
    d.appVersion = "1.2.0";
    d.buildNumber = "42";
    d.updateSummary = "Up to date";
    d.appcastURL = "https://tavlabs.com/downloads/halvo/appcast.xml";
    EXPECT_EQ(TAVDiagnosticInfoBuilder::build(d),
              head +
                  "Version: 1.2.0\nBuild: 42\nLinux: 6.1.0\nArchitecture: x86_64\n"
                  "Updates: Up to date\nAppcast: https://tavlabs.com/downloads/halvo/appcast.xml");
    EXPECT_EQ(aboutVersionLine("1.2.0", "42"), "Version 1.2.0 (Build 42)");
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
    EXPECT_NE(TAVAppDiagnostics::current(appIdentity(), {}, {}).linuxVersion, "0.0.0");
}

}  // namespace
}  // namespace halvo
