#include "scan/classification.h"

#include "base/text.h"

namespace halvo {
namespace {

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The components of `candidate` as an absolute path: "/" first, then every
// non-empty name. A relative candidate is read as if it began with "/", so the
// hint never depends on the directory this tool happens to run in.
std::vector<std::string_view> pathComponents(std::string_view candidate) {
    std::vector<std::string_view> components{"/"};
    for (std::string_view name : splitNonEmpty(candidate, '/')) {
        components.push_back(name);
    }
    return components;
}

std::optional<std::string> hintFrom(std::string_view candidate) {
    const auto components = pathComponents(candidate);
    if (components.size() < 3) {
        return std::nullopt;
    }
    for (size_t i = 0; i < components.size(); ++i) {
        if (components[i] == "Documents") {
            if (i + 1 < components.size()) {
                return std::string(components[i + 1]);
            }
            break;
        }
    }
    for (size_t i = 0; i < components.size(); ++i) {
        // "/Users/NAME" elsewhere, "/home/NAME" here: either way i + 2 is the
        // first folder in the home directory.
        if (components[i] == "Users" || components[i] == "home") {
            if (i + 2 < components.size()) {
                return std::string(components[i + 2]);
            }
            break;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<FrameworkBadge> frameworkBadge(std::string_view executableName,
                                             std::string_view executablePath,
                                             const std::vector<std::string>& arguments) {
    std::string joined(executableName);
    joined += ' ';
    joined += executablePath;
    for (const auto& argument : arguments) {
        joined += ' ';
        joined += argument;
    }
    const std::string text = toLower(joined);

    if (contains(text, "next")) {
        return FrameworkBadge::next;
    }
    if (contains(text, "vite")) {
        return FrameworkBadge::vite;
    }
    if (contains(text, "rails") || contains(text, "puma")) {
        return FrameworkBadge::rails;
    }
    if (executableName == "go" || contains(text, " go run ")) {
        return FrameworkBadge::go;
    }
    if (contains(text, "express")) {
        return FrameworkBadge::express;
    }
    if (contains(text, "spring") || contains(text, "bootrun")) {
        return FrameworkBadge::boot;
    }
    if (contains(text, "docker")) {
        return FrameworkBadge::docker;
    }
    // Servers are recognised by their own name only, exactly as spelled.
    if (contains(executableName, "postgres")) {
        return FrameworkBadge::postgres;
    }
    if (contains(executableName, "redis")) {
        return FrameworkBadge::redis;
    }
    if (contains(executableName, "python")) {
        return FrameworkBadge::python;
    }
    return std::nullopt;
}

std::optional<std::string> projectHint(const std::vector<std::string>& arguments,
                                       const std::optional<std::string>& workingDirectory,
                                       std::string_view executablePath) {
    for (const auto& argument : arguments) {
        if (auto hint = hintFrom(argument)) {
            return hint;
        }
    }
    if (workingDirectory) {
        if (auto hint = hintFrom(*workingDirectory)) {
            return hint;
        }
    }
    return hintFrom(executablePath);
}

}  // namespace halvo
