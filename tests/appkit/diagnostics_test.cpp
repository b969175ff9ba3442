#include "appkit/diagnostics.h"

#include <gtest/gtest.h>

namespace halvo {
namespace {

// A line for each thing known, in order; none for what is not.
TEST(DiagnosticsTest, ReportLinesAndOmissions) {
    const TAVAppDiagnostics d{
        "halvo",  "Halvo", "com.tavlabs.halvo",       "1.2.0", std::nullopt, "6.1.0",
        "x86_64", "",      "https://a.b/appcast.xml", "off"};
    EXPECT_EQ(TAVDiagnosticInfoBuilder::build(d),
              "App: Halvo\nProduct Slug: halvo\nDesktop File ID: com.tavlabs.halvo\nVersion: "
              "1.2.0\nLinux: 6.1.0\nArchitecture: x86_64\nHotkey: off\nAppcast: "
              "https://a.b/appcast.xml");
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
