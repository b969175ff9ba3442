#include "scan/project_root.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"
#include "base/user_account.h"

namespace halvo {
namespace {

// The commonest first: a folder that holds one is looked at no further.
constexpr std::array<const char*, 9> kManifestNames = {
    ".git",    "package.json", "go.mod",       "Cargo.toml",       "pyproject.toml",
    "Gemfile", "pom.xml",      "build.gradle", "build.gradle.kts",
};

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string parentFolder(const std::string& folder) {
    const size_t slash = folder.rfind('/');
    return slash == 0 || slash == std::string::npos
               ? "/"
               : withoutTrailingSlashes(folder.substr(0, slash));
}

bool isAtOrBelow(std::string_view folder, std::string_view top) {
    return folder.starts_with(top) &&
           (folder.size() == top.size() || top == "/" || folder[top.size()] == '/');
}

UniqueFd openFolder(const std::string& path) {
    // O_PATH: nothing is read through it, so no read permission is needed.
    return UniqueFd(open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Only the user's own entries count: another user's package.json in a shared
// folder such as /tmp must not make that folder every process's project.
bool holdsManifest(const std::string& folder, uid_t owner) {
    const UniqueFd fd = openFolder(folder);
    if (!fd.valid()) {
        return false;
    }
    struct stat entry {};
    for (const char* name : kManifestNames) {
        if (fstatat(fd.get(), name, &entry, AT_SYMLINK_NOFOLLOW) == 0 && entry.st_uid == owner) {
            return true;
        }
    }
    return false;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Reads the JSON string whose opening quote is before `i` and moves `i` past
// it, and past its colon when it is a key. The string when it is a key; none
// for a value, or for a string cut off (then `i` is at the end).
std::optional<std::string_view> readKey(std::string_view text, size_t& i) {
    const size_t start = i;
    while (i < text.size() && text[i] != '"') {
        i += text[i] == '\\' ? 2 : 1;
    }
    if (i >= text.size()) {
        i = text.size();
        return std::nullopt;
    }
    const std::string_view string = text.substr(start, i - start);
    size_t after = i + 1;
    while (after < text.size() && isSpace(text[after])) {
        ++after;
    }
    if (after >= text.size() || text[after] != ':') {
        i += 1;
        return std::nullopt;
    }
    i = after + 1;
    return string;
}

// The keys of the top-level "dependencies" and "devDependencies" objects,
// found by skipping strings whole, so that a name in a description or a
// script is no dependency. Text cut off anywhere yields the keys before it.
std::optional<FrameworkBadge> packageJsonBadge(std::string_view text) {
    bool next = false;
    bool vite = false;
    bool express = false;
    int depth = 0;
    std::string_view topLevelKey;
    bool inDependencies = false;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i++];
        if (c == '"') {
            const std::optional<std::string_view> key = readKey(text, i);
            if (key && depth == 1) {
                topLevelKey = *key;
            } else if (key && depth == 2 && inDependencies) {
                next = next || *key == "next";
                vite = vite || *key == "vite";
                express = express || *key == "express";
            }
        } else if (c == '{' || c == '[') {
            ++depth;
            if (depth == 2) {
                inDependencies =
                    c == '{' && (topLevelKey == "dependencies" || topLevelKey == "devDependencies");
            }
        } else if (c == '}' || c == ']') {
            if (depth == 2) {
                inDependencies = false;
            }
            --depth;
        }
    }
    if (next) {
        return FrameworkBadge::next;
    }
    if (vite) {
        return FrameworkBadge::vite;
    }
    if (express) {
        return FrameworkBadge::express;
    }
    return std::nullopt;
}

// A line `gem "rails"` or `gem('rails', ...)`; other gems and comments are not.
bool gemfileNamesRails(std::string_view text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
        if (!line.starts_with("gem") || line.size() < 4 ||
            (line[3] != ' ' && line[3] != '\t' && line[3] != '(')) {
            continue;
        }
        line.remove_prefix(3);
        line.remove_prefix(std::min(line.find_first_not_of(" \t("), line.size()));
        if (line.size() > 6 && (line[0] == '"' || line[0] == '\'') &&
            line.substr(1, 5) == "rails" && line[6] == line[0]) {
            return true;
        }
    }
    return false;
}

bool pomNamesSpringBoot(std::string_view text) {
    constexpr std::string_view kTag = "<artifactId>";
    for (size_t at = text.find(kTag); at != std::string_view::npos; at = text.find(kTag, at)) {
        at += kTag.size();
        while (at < text.size() && isSpace(text[at])) {
            ++at;
        }
        if (text.substr(at).starts_with("spring-boot")) {
            return true;
        }
    }
    return false;
}

bool gradleNamesSpringBoot(std::string_view text) {
    return text.find("org.springframework.boot") != std::string_view::npos ||
           text.find("spring-boot") != std::string_view::npos;
}

}  // namespace

std::optional<FrameworkBadge> manifestBadge(std::string_view name, std::string_view text) {
    const auto when = [](bool declared, FrameworkBadge badge) {
        return declared ? std::optional(badge) : std::nullopt;
    };
    if (name == "package.json") {
        return packageJsonBadge(text);
    }
    if (name == "Gemfile") {
        return when(gemfileNamesRails(text), FrameworkBadge::rails);
    }
    if (name == "pom.xml") {
        return when(pomNamesSpringBoot(text), FrameworkBadge::boot);
    }
    if (name == "build.gradle" || name == "build.gradle.kts") {
        return when(gradleNamesSpringBoot(text), FrameworkBadge::boot);
    }
    return std::nullopt;
}

std::string homeFolder() {
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable && variable[0] == '/') {
        home = variable;
    } else if (const std::optional<UserAccount> account = userAccount(getuid());
               account && account->home.starts_with('/')) {
        home = account->home;
    }
    // Working directories come resolved: /var/home/me, not the /home/me link to it.
    if (char* resolved = home.empty() ? nullptr : realpath(home.c_str(), nullptr)) {
        home = resolved;
        std::free(resolved);
    }
    return home;
}

ProjectRootResolver::ProjectRootResolver(std::string home, uid_t owner)
    : home_(home.starts_with('/') ? withoutTrailingSlashes(std::move(home)) : std::string()),
      owner_(owner) {}

std::optional<std::string> ProjectRootResolver::projectRoot(const std::string& workingDirectory) {
    if (!workingDirectory.starts_with('/')) {
        return std::nullopt;
    }
    std::string folder = withoutTrailingSlashes(workingDirectory);
    const std::string last = !home_.empty() && isAtOrBelow(folder, home_) ? home_ : "/";
    std::vector<std::string> looked;
    std::optional<std::string> root;
    for (;;) {
        if (auto known = roots_.find(folder); known != roots_.end()) {
            root = known->second;
            break;
        }
        looked.push_back(folder);
        if (holdsManifest(folder, owner_)) {
            root = folder;
            break;
        }
        if (folder == last) {
            break;
        }
        folder = parentFolder(folder);
    }
    // Every folder passed on the way shares the answer.
    for (std::string& passed : looked) {
        roots_.emplace(std::move(passed), root);
    }
    return root;
}

std::optional<FrameworkBadge> ProjectRootResolver::declaredBadge(const std::string& root) {
    if (auto known = badges_.find(root); known != badges_.end()) {
        return known->second;
    }
    std::optional<FrameworkBadge> badge;
    if (const UniqueFd folder = openFolder(root); folder.valid()) {
        // In this order: a Next app's package.json wins over its Gemfile.
        for (const char* name :
             {"package.json", "Gemfile", "pom.xml", "build.gradle", "build.gradle.kts"}) {
            if (const std::optional<std::string> text = readManifest(folder.get(), name)) {
                if ((badge = manifestBadge(name, *text))) {
                    break;
                }
            }
        }
    }
    badges_.emplace(root, badge);
    return badge;
}

std::optional<std::string> ProjectRootResolver::readManifest(int folder, const char* name) const {
    // Looked at before it is opened, so that no link is followed and no FIFO
    // or device is ever opened; the opened file must be the one looked at.
    struct stat seen {};
    if (fstatat(folder, name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode) ||
        seen.st_uid != owner_) {
        return std::nullopt;
    }
    const UniqueFd fd(
        openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (!fd.valid() || fstat(fd.get(), &opened) != 0 || opened.st_dev != seen.st_dev ||
        opened.st_ino != seen.st_ino) {
        return std::nullopt;
    }
    std::string text(std::min(kManifestReadLimit, static_cast<size_t>(seen.st_size)), '\0');
    size_t used = 0;
    while (used < text.size()) {
        const ssize_t n = read(fd.get(), text.data() + used, text.size() - used);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        used += static_cast<size_t>(n);
    }
    text.resize(used);
    return text;
}

}  // namespace halvo
