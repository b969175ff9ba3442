#include "appkit/launch_at_login.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(LaunchAtLoginTest, EntryPathFollowsXdgConfigHomeThenHome) {
    const std::string name = "/autostart/com.tavlabs.halvo.desktop";
    EXPECT_EQ(autostartEntryPath("/cfg", "/home/u"), "/cfg" + name);
    EXPECT_EQ(autostartEntryPath("relative/cfg", "/home/u"), "/home/u/.config" + name);
    EXPECT_EQ(autostartEntryPath("", nullptr), std::nullopt);
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

TEST(LaunchAtLoginTest, SwitchesOnAndOffCreatingTheFolder) {
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
}

TEST(LaunchAtLoginTest, ReadOnlyFolderReportsTheFailureAndKeepsTheEntry) {
    testing::TempDir dir;
    const std::string folder = dir.makeDir("autostart");
    const std::string path = folder + "/com.tavlabs.halvo.desktop";
    ASSERT_EQ(TAVLaunchAtLoginToggle(path, "/usr/bin/halvo").setEnabled(true), std::nullopt);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    // Root writes anywhere: the change is tried by a child without privileges.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                               setresuid(65534, 65534, 65534) != 0)) {
            _exit(2);
        }
        const auto error = TAVLaunchAtLoginToggle(path, "/usr/bin/halvo").setEnabled(false);
        _exit(error && error->detail == "Permission denied" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(fileText(path), autostartEntryText("/usr/bin/halvo", true));
    chmod(folder.c_str(), 0755);
}

}  // namespace
}  // namespace halvo
