// Opening the application at login through an XDG autostart entry: a desktop
// file in the user's autostart folder, started by the session when it begins.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace halvo {

// What the welcome window shows under the switch when a change fails.
inline constexpr std::string_view kLaunchAtLoginFailureMessage =
    "Couldn't change login setting — adjust it in your desktop's autostart settings "
    "(Startup Applications).";

struct LaunchAtLoginError {
    enum class Kind {
        underlying,         // the entry could not be written
        noAutostartFolder,  // neither XDG_CONFIG_HOME nor HOME says where entries go
    };
    Kind kind;
    std::string detail;  // the system's words, for the log
};

// "$XDG_CONFIG_HOME/autostart/com.tavlabs.halvo.desktop", with "$HOME/.config"
// standing in when XDG_CONFIG_HOME is unset or not absolute; nothing without either.
std::optional<std::string> autostartEntryPath(const char* xdgConfigHome, const char* home);

// The entry that starts `executablePath`, quoted as Exec requires. A disabled entry
// carries Hidden=true, which also hides a system-wide entry of the same name.
std::string autostartEntryText(std::string_view executablePath, bool enabled);

class TAVLaunchAtLoginToggle final {
  public:
    // The current user's entry, starting the binary that runs now.
    static TAVLaunchAtLoginToggle forCurrentUser();
    // An empty `entryPath` means there is no place for autostart entries.
    TAVLaunchAtLoginToggle(std::string entryPath, std::string executablePath);

    // True when the entry exists and has neither Hidden=true nor
    // X-GNOME-Autostart-enabled=false in its [Desktop Entry] group.
    bool isEnabled() const;
    // Writes the entry through a temporary file and a rename, so a failed change
    // leaves the previous entry exactly as it was.
    std::optional<LaunchAtLoginError> setEnabled(bool enabled);

  private:
    std::string entryPath_;
    std::string executablePath_;
};

}  // namespace halvo
