#include "appkit/launch_at_login.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/test_process.h"

namespace halvo {
namespace {

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

TEST(LaunchAtLoginTest, ExecQuotesThePathAsDesktopEntriesRequire) {
    const std::pair<const char*, const char*> cases[] = {
        {R"(/o/a"b$c`d)", R"(Exec="/o/a\\"b\\$c\\`d")"},
        {R"(/o/back\slash)", R"(Exec="/o/back\\\\slash")"},
        {"/o/100%/halvo", R"(Exec="/o/100%%/halvo")"},
        {"/o/new\nline", R"(Exec="/o/new\nline")"},
    };
    for (const auto& [path, exec] : cases) {
        const std::string entry = autostartEntryText(path, true);
        EXPECT_NE(entry.find(std::string(exec) + "\n"), std::string::npos) << path << "\n" << entry;
    }
}

TEST(LaunchAtLoginTest, EnabledUnlessAbsentHiddenOrOffForGnome) {
    const std::pair<const char*, bool> cases[] = {
        {nullptr, false},  // no file
        {"[Desktop Entry]\nExec=halvo\nHidden=false\n", true},
        {"[Desktop Entry]\nHidden = true\r\n", false},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=halvo\n[Desktop Action x]\nHidden=true\n", true},
    };
    testing::TempDir dir;
    const std::string path = dir.path() + "/entry.desktop";
    for (const auto& [text, enabled] : cases) {
        std::filesystem::remove(path);
        if (text != nullptr) {
            dir.writeFile("entry.desktop", text);
        }
        EXPECT_EQ(TAVLaunchAtLoginToggle(path, "/bin/halvo").isEnabled(), enabled)
            << (text ? text : "(absent)");
    }
}

// The entry goes under XDG_CONFIG_HOME when it is absolute, else HOME's .config.
TEST(LaunchAtLoginTest, SwitchesOnAndOffCreatingTheFolder) {
    EXPECT_EQ(autostartEntryPath("relative/cfg", "/home/u"),
              "/home/u/.config/autostart/com.tavlabs.halvo.desktop");
    EXPECT_EQ(autostartEntryPath("", nullptr), std::nullopt);
    testing::TempDir dir;
    const std::string path = *autostartEntryPath((dir.path() + "/cfg").c_str(), nullptr);
    TAVLaunchAtLoginToggle toggle(path, "/usr/bin/halvo");
    for (bool enabled : {true, false, true}) {
        EXPECT_EQ(toggle.setEnabled(enabled), std::nullopt);
        EXPECT_EQ(toggle.isEnabled(), enabled);
        EXPECT_EQ(fileText(path), autostartEntryText("/usr/bin/halvo", enabled));
    }
    // No temporary file left beside the entry.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() + "/cfg/autostart"),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_EQ(TAVLaunchAtLoginToggle("", "/usr/bin/halvo").setEnabled(true).value().kind,
              LaunchAtLoginError::Kind::noAutostartFolder);
    // Where no file can be made, by root either, the failure is told.
    const auto error =
        TAVLaunchAtLoginToggle("/proc/halvo.desktop", "/usr/bin/halvo").setEnabled(true);
    EXPECT_EQ(error.value_or(LaunchAtLoginError{}).detail, "No such file or directory");
}

}  // namespace
}  // namespace halvo
