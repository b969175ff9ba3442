#include "appkit/launch_at_login.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/file_writing.h"
#include "base/text.h"

namespace halvo {
namespace {

constexpr std::string_view kEntryName = "com.tavlabs.halvo.desktop";
constexpr std::string_view kDeletedSuffix = " (deleted)";

// One Exec argument in double quotes: inside them ", `, $ and \ take a backslash,
// and % doubles everywhere since it starts a field code.
std::string quotedExecArgument(std::string_view argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        } else if (c == '%') {
            quoted += '%';
        }
        quoted += c;
    }
    return quoted + '"';
}

// A key file's string escapes, applied after the Exec quoting.
std::string escapedValue(std::string_view value) {
    std::string escaped;
    for (char c : value) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string runningExecutable() {
    std::error_code error;
    std::string path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (path.ends_with(kDeletedSuffix)) {
        path.resize(path.size() - kDeletedSuffix.size());
    }
    return path;
}

LaunchAtLoginError underlying(std::string detail) {
    return {LaunchAtLoginError::Kind::underlying, std::move(detail)};
}

}  // namespace

std::optional<std::string> autostartEntryPath(const char* xdgConfigHome, const char* home) {
    std::string configHome;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        configHome = xdgConfigHome;
    } else if (home != nullptr && home[0] == '/') {
        configHome = std::string(home) + "/.config";
    } else {
        return std::nullopt;
    }
    return configHome + "/autostart/" + std::string(kEntryName);
}

std::string autostartEntryText(std::string_view executablePath, bool enabled) {
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Halvo\n"
        "Comment=Find and end the processes listening on your development ports\n"
        "Exec=" +
        escapedValue(quotedExecArgument(executablePath)) +
        "\n"
        "Icon=com.tavlabs.halvo\n"
        "Terminal=false\n";
    if (!enabled) {
        text += "Hidden=true\n";
    }
    return text;
}

TAVLaunchAtLoginToggle TAVLaunchAtLoginToggle::forCurrentUser() {
    return TAVLaunchAtLoginToggle(
        autostartEntryPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")).value_or(""),
        runningExecutable());
}

TAVLaunchAtLoginToggle::TAVLaunchAtLoginToggle(std::string entryPath, std::string executablePath)
    : entryPath_(std::move(entryPath)), executablePath_(std::move(executablePath)) {}

bool TAVLaunchAtLoginToggle::isEnabled() const {
    std::ifstream file(entryPath_);
    bool inMainGroup = false;
    bool sawMainGroup = false;
    for (std::string line; std::getline(file, line);) {
        const std::string_view text = trimmed(line);
        if (text.starts_with('[')) {
            inMainGroup = text == "[Desktop Entry]";
            sawMainGroup = sawMainGroup || inMainGroup;
            continue;
        }
        const size_t equals = text.find('=');
        if (!inMainGroup || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trimmed(text.substr(0, equals));
        const std::string_view value = trimmed(text.substr(equals + 1));
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return sawMainGroup;
}

std::optional<LaunchAtLoginError> TAVLaunchAtLoginToggle::setEnabled(bool enabled) {
    if (entryPath_.empty()) {
        return LaunchAtLoginError{LaunchAtLoginError::Kind::noAutostartFolder,
                                  "neither XDG_CONFIG_HOME nor HOME is set"};
    }
    if (enabled && executablePath_.empty()) {
        return underlying("the running program's path cannot be read");
    }
    // The temporary's name does not end in ".desktop", so a leftover is never started.
    if (auto why =
            replaceFileAtomically(entryPath_, autostartEntryText(executablePath_, enabled))) {
        return underlying(std::move(*why));
    }
    return std::nullopt;
}

}  // namespace halvo
