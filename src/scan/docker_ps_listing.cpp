#include "scan/docker_ps_listing.h"

#include <cstdint>
#include <optional>
#include <string>

#include "base/text.h"
#include "scan/go_string_literal.h"

namespace halvo {
namespace {

std::optional<std::string> nonEmpty(std::string text) {
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

// The container's own name: with --no-trunc docker also lists the aliases
// other containers link it by ("other/alias"), which `docker stop` refuses.
std::optional<std::string> ownName(std::string_view names) {
    const std::vector<std::string_view> all = splitNonEmpty(names, ',');
    for (std::string_view name : all) {
        if (name.find('/') == std::string_view::npos) {
            return std::string(name);
        }
    }
    return all.empty() ? std::nullopt : std::optional<std::string>(all.front());
}

std::optional<int64_t> hostPort(std::string_view text) {
    const std::optional<int64_t> port = parseInt64(text);
    if (!port || *port < 1 || *port > 65535 || text.front() == '+' || text.front() == '-') {
        return std::nullopt;
    }
    return port;
}

// The host side of each TCP mapping: "0.0.0.0:5432->5432/tcp",
// "[::]:8080->80/tcp", ":::5432->5432/tcp", "0.0.0.0:8000-8001->8000-8001/tcp".
// Exposed-only ports ("6379/tcp") have no host side; UDP ones are not ours.
PortRangeSet publishedTcpPorts(std::string_view portsText) {
    PortRangeSet ports;
    for (std::string_view entry : splitNonEmpty(portsText, ',')) {
        entry = trimWhiteSpace(entry);
        const size_t arrow = entry.find("->");
        const size_t slash = entry.rfind('/');
        if (arrow == std::string_view::npos || slash == std::string_view::npos || slash < arrow ||
            entry.substr(slash + 1) != "tcp") {
            continue;
        }
        const std::string_view host = entry.substr(0, arrow);
        const size_t colon = host.rfind(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view range = host.substr(colon + 1);
        const size_t dash = range.find('-');
        const auto low = hostPort(range.substr(0, dash));
        const auto high = dash == std::string_view::npos ? low : hostPort(range.substr(dash + 1));
        if (low && high) {
            ports.add({*low, *high});
        }
    }
    return ports;
}

// Splits off the text before the first "|" of `line`, and the "|".
std::optional<std::string_view> takeField(std::string_view& line) {
    const size_t bar = line.find('|');
    if (bar == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view field = line.substr(0, bar);
    line.remove_prefix(bar + 1);
    return field;
}

// Splits off the Go string literal `line` starts with, and the "|" after it.
// %q escapes line breaks and quotes but not "|", so the literal ends at its
// closing quote, not at the first "|".
std::optional<std::string_view> takeQuotedField(std::string_view& line) {
    if (!line.starts_with('"')) {
        return std::nullopt;
    }
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '\\') {
            ++i;
        } else if (line[i] == '"') {
            if (i + 1 == line.size() || line[i + 1] != '|') {
                return std::nullopt;
            }
            const std::string_view field = line.substr(0, i + 1);
            line.remove_prefix(i + 2);
            return field;
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<DockerContainer> parseDockerPs(std::string_view text) {
    std::vector<DockerContainer> containers;
    for (std::string_view line : splitNonEmpty(text, '\n')) {
        const auto id = takeField(line);
        const auto names = takeField(line);
        const auto service = takeQuotedField(line);
        const auto ports = takeField(line);
        if (!id || !names || !service || !ports) {
            continue;  // not a line of our format: its fields cannot be told apart
        }
        std::optional<std::string> fullId;
        if (isFullContainerId(*id)) {
            fullId = std::string(*id);
        }
        containers.push_back(
            {DockerContext{ownName(*names), nonEmpty(goUnquoted(*service)), std::move(fullId)},
             containerCommand(goUnquoted(line)), publishedTcpPorts(*ports)});
    }
    return containers;
}

}  // namespace halvo
