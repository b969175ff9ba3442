#include "scan/port_records.h"

#include "scan/text.h"

namespace halvo {
namespace {

constexpr std::array<FrameworkBadge, 10> kAllBadges = {
    FrameworkBadge::next,   FrameworkBadge::vite,     FrameworkBadge::rails,
    FrameworkBadge::go,     FrameworkBadge::express,  FrameworkBadge::boot,
    FrameworkBadge::docker, FrameworkBadge::postgres, FrameworkBadge::redis,
    FrameworkBadge::python,
};

std::string dockerLabel(const DockerContext& context) {
    if (context.composeService) {
        return *context.composeService;
    }
    if (context.containerName) {
        return *context.containerName;
    }
    return "docker";
}

}  // namespace

std::string_view rawValue(FrameworkBadge badge) {
    switch (badge) {
        case FrameworkBadge::next:
            return "NEXT";
        case FrameworkBadge::vite:
            return "VITE";
        case FrameworkBadge::rails:
            return "RAILS";
        case FrameworkBadge::go:
            return "GO";
        case FrameworkBadge::express:
            return "EXPRESS";
        case FrameworkBadge::boot:
            return "SPRING";
        case FrameworkBadge::docker:
            return "DOCKER";
        case FrameworkBadge::postgres:
            return "POSTGRES";
        case FrameworkBadge::redis:
            return "REDIS";
        case FrameworkBadge::python:
            return "PYTHON";
    }
    return "";
}

std::optional<FrameworkBadge> frameworkBadgeFromRaw(std::string_view raw) {
    for (FrameworkBadge badge : kAllBadges) {
        if (rawValue(badge) == raw) {
            return badge;
        }
    }
    return std::nullopt;
}

const std::array<FrameworkBadge, 10>& allFrameworkBadges() {
    return kAllBadges;
}

std::string PortProcess::id() const {
    return std::to_string(pid) + "-" + std::to_string(port);
}

std::string PortProcess::projectLabel() const {
    if (dockerContext) {
        return dockerLabel(*dockerContext);
    }
    if (projectHint) {
        return *projectHint;
    }
    if (workingDirectory) {
        return lastPathComponent(*workingDirectory);
    }
    // A bare name counts as a file in the root, never in this tool's own
    // directory: the label must not depend on where halvo runs.
    return lastPathComponent(parentDirectory(executablePath));
}

std::string PortProcess::searchText() const {
    std::string commandLine;
    if (arguments.empty()) {
        commandLine = executableName;
    } else {
        for (size_t i = 0; i < arguments.size(); ++i) {
            if (i > 0) {
                commandLine += ' ';
            }
            commandLine += arguments[i];
        }
    }
    std::string text;
    text.reserve(64 + executablePath.size() * 2 + commandLine.size());
    text += std::to_string(port);
    text += ' ';
    text += std::to_string(pid);
    text += ' ';
    text += executableName;
    text += ' ';
    text += executablePath;
    text += ' ';
    text += commandLine;
    text += ' ';
    text += workingDirectory.value_or("");
    text += ' ';
    text += projectHint.value_or("");
    text += ' ';
    if (frameworkBadge) {
        text += rawValue(*frameworkBadge);
    }
    text += ' ';
    if (dockerContext) {
        text += dockerLabel(*dockerContext);
    }
    return toLower(text);
}

}  // namespace halvo
