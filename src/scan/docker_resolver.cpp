#include "scan/docker_resolver.h"

#include <string>

#include "base/text.h"

namespace halvo {
namespace {

bool looksLikeDocker(const ProcessMetadata& metadata) {
    std::string text = metadata.executablePath;
    text += ' ';
    text += metadata.workingDirectory.value_or("");
    for (const auto& argument : metadata.arguments) {
        text += ' ';
        text += argument;
    }
    return toLower(text).find("docker") != std::string::npos;
}

// Pieces between "|", empty ones kept.
std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const size_t bar = line.find('|');
        pieces.push_back(line.substr(0, bar));
        if (bar == std::string_view::npos) {
            return pieces;
        }
        line.remove_prefix(bar + 1);
    }
}

// The host side of a published mapping, as docker prints it for IPv4
// (0.0.0.0:5432->) and IPv6 (:::5432-> or [::]:5432->).
bool publishes(std::string_view portsText, int64_t port) {
    const std::string number = std::to_string(port);
    for (const std::string& pattern :
         {":" + number + "->", "." + number + "->", ":" + number + "/"}) {
        if (portsText.find(pattern) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> nonEmpty(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    return std::string(text);
}

}  // namespace

DockerResolver::DockerResolver(std::chrono::milliseconds bound) : bound_(bound) {}

std::unordered_map<int64_t, DockerContext> DockerResolver::dockerContexts(
    const std::vector<PortMetadata>& elements) {
    std::set<int64_t> selected;
    for (const auto& [metadata, port] : elements) {
        if (looksLikeDocker(metadata)) {
            selected.insert(port);
        }
    }
    if (selected.empty()) {
        return {};
    }
    auto found = inspectDocker(selected);
    std::unordered_map<int64_t, DockerContext> contexts;
    for (int64_t port : selected) {
        auto context = found.find(port);
        contexts.emplace(port,
                         context != found.end() ? std::move(context->second) : DockerContext{});
    }
    return contexts;
}

std::unordered_map<int64_t, DockerContext> DockerResolver::inspectDocker(
    const std::set<int64_t>& ports) {
    if (ports.empty()) {
        return {};
    }
    const CommandResult result = runCommand(
        "/usr/bin/env", {"docker", "ps", "--format", std::string(kDockerPsFormat)}, bound_);
    if (!result.output || result.status != 0) {
        return {};
    }
    return parseDockerPs(decodeUtf8Lossy(*result.output), ports);
}

std::unordered_map<int64_t, DockerContext> parseDockerPs(std::string_view text,
                                                         const std::set<int64_t>& ports) {
    std::unordered_map<int64_t, DockerContext> contexts;
    for (std::string_view line : splitNonEmpty(text, '\n')) {
        const auto pieces = fields(line);
        if (pieces.size() != 3) {
            continue;  // not a line of our format: its fields cannot be told apart
        }
        for (int64_t port : ports) {
            if (publishes(pieces[2], port)) {
                contexts.insert_or_assign(port,
                                          DockerContext{nonEmpty(pieces[0]), nonEmpty(pieces[1])});
            }
        }
    }
    return contexts;
}

}  // namespace halvo
