#include "scan/port_records.h"

#include <algorithm>
#include <charconv>

#include "base/text.h"

namespace halvo {
namespace {

void appendNumber(std::string& out, int64_t n) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, n);
    out.append(digits, end.ptr);
}

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

bool isFullContainerId(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string_view rawValue(Supervisor::Kind kind) {
    return kind == Supervisor::Kind::pm2 ? "pm2" : "systemd";
}

std::string containerLabel(const DockerContext& container) {
    return container.containerName.value_or("container");
}

std::string supervisorLabel(const Supervisor& supervisor) {
    return supervisor.kind == Supervisor::Kind::pm2 ? "pm2 app " + supervisor.name
                                                    : supervisor.name;
}

std::string supervisorStopTarget(const Supervisor& supervisor) {
    return supervisor.kind == Supervisor::Kind::pm2 ? supervisorLabel(supervisor)
                                                    : "unit " + supervisor.name;
}

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

std::string PortProcess::commandLine() const {
    if (arguments.empty()) {
        return executableName;
    }
    std::string line = arguments.front();
    for (size_t i = 1; i < arguments.size(); ++i) {
        line += ' ';
        line += arguments[i];
    }
    return line;
}

std::string PortProcess::searchText() const {
    std::string text;
    appendSearchText(text);
    return toLower(text);
}

void PortProcess::appendSearchText(std::string& out) const {
    appendNumber(out, port);
    out += ' ';
    appendNumber(out, pid);
    out += ' ';
    out += executableName;
    out += ' ';
    out += executablePath;
    out += ' ';
    if (arguments.empty()) {
        out += executableName;
    }
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += arguments[i];
    }
    out += ' ';
    if (workingDirectory) {
        out += *workingDirectory;
    }
    out += ' ';
    if (projectHint) {
        out += *projectHint;
    }
    out += ' ';
    if (frameworkBadge) {
        out += rawValue(*frameworkBadge);
    }
    out += ' ';
    if (dockerContext) {
        out += dockerLabel(*dockerContext);
    }
    // "kill web.service" finds the unit's rows.
    if (supervisor) {
        out += ' ';
        out += supervisor->name;
    }
}

}  // namespace halvo
