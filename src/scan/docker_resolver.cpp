#include "scan/docker_resolver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "base/file_reading.h"
#include "base/text.h"
#include "scan/unix_http.h"

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

std::optional<std::string> nonEmpty(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    return std::string(text);
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
    return all.empty() ? std::nullopt : nonEmpty(all.front());
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
std::vector<int64_t> publishedTcpPorts(std::string_view portsText) {
    std::vector<int64_t> ports;
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
        if (!low || !high || *high < *low) {
            continue;
        }
        for (int64_t port = *low; port <= *high; ++port) {
            ports.push_back(port);
        }
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Docker prints the command, and we have it print the label, as a Go string
// literal: quoted, with \" \\ \n \xFF \u00e9 and the like. Anything else is
// kept as it stands.
std::string goUnquoted(std::string_view text) {
    text = trimWhiteSpace(text);
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
        return decodeUtf8Lossy(text);
    }
    const std::string_view inner = text.substr(1, text.size() - 2);
    std::string out;
    for (size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] != '\\' || i + 1 == inner.size()) {
            out += inner[i];
            continue;
        }
        const char kind = inner[++i];
        const size_t digits = kind == 'x' ? 2 : kind == 'u' ? 4 : kind == 'U' ? 8 : 0;
        if (digits > 0) {
            const auto value = parseHex32(inner.substr(i + 1, digits));
            if (!value || i + digits >= inner.size()) {
                return decodeUtf8Lossy(inner);
            }
            if (kind == 'x') {
                out += static_cast<char>(*value);
            } else {
                appendUtf8(out, *value > 0x10FFFF ? 0xFFFD : *value);
            }
            i += digits;
            continue;
        }
        constexpr std::string_view kFrom = "abfnrtv\\\"'";
        constexpr std::string_view kTo = "\a\b\f\n\r\t\v\\\"'";
        const size_t simple = kFrom.find(kind);
        if (simple == std::string_view::npos) {
            return decodeUtf8Lossy(inner);
        }
        out += kTo[simple];
    }
    // \x escapes and surrogate code points may spell invalid UTF-8.
    return decodeUtf8Lossy(out);
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

// The engine's socket when DOCKER_HOST is unset and the context the default one.
constexpr const char* kDefaultSocket = "/var/run/docker.sock";

// What Docker accepts as a container's name: [a-zA-Z0-9][a-zA-Z0-9_.-]*.
bool isContainerName(std::string_view name) {
    const auto allowed = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    return !name.empty() && allowed(name.front()) &&
           std::all_of(name.begin(), name.end(),
                       [&](char c) { return allowed(c) || c == '_' || c == '.' || c == '-'; });
}

bool exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool onPath(std::string_view name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
        return false;
    }
    for (std::string_view dir : splitNonEmpty(path, ':')) {
        const std::string candidate = std::string(dir) + "/" + std::string(name);
        if (access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

// DOCKER_HOST names an engine on another machine (tcp://build-box:2376,
// ssh://build-box): the ports its containers publish are not this machine's.
bool remoteEngine() {
    const char* variable = std::getenv("DOCKER_HOST");
    if (variable == nullptr || *variable == '\0') {
        return false;
    }
    std::string_view host = variable;
    if (host.starts_with("unix://")) {
        return false;
    }
    if (!host.starts_with("tcp://")) {
        return true;
    }
    host.remove_prefix(6);
    host = host.substr(0, host.find('/'));
    const size_t colon = host.starts_with('[') ? host.find(']') + 1 : host.rfind(':');
    host = host.substr(0, colon);
    return host != "localhost" && !host.starts_with("127.") && host != "[::1]";
}

// The docker context in use when DOCKER_HOST is unset, if it is not the
// default one: DOCKER_CONTEXT, else "currentContext" in the client's
// config.json. Such a context names its own endpoint, which may be another
// machine's; the local ones besides the default (rootless, Docker Desktop)
// publish through processes of the user's, which are rows already.
bool otherContext() {
    if (const char* name = std::getenv("DOCKER_CONTEXT"); name != nullptr && *name != '\0') {
        return std::string_view(name) != "default";
    }
    std::string config;
    if (const char* folder = std::getenv("DOCKER_CONFIG"); folder != nullptr && *folder != '\0') {
        config = std::string(folder) + "/config.json";
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        config = std::string(home) + "/.docker/config.json";
    } else {
        return false;
    }
    const std::optional<std::string> text =
        readAll(UniqueFd(open(config.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)));
    if (!text) {
        return false;
    }
    constexpr std::string_view kKey = "\"currentContext\"";
    const size_t key = text->find(kKey);
    if (key == std::string::npos) {
        return false;
    }
    const size_t value = text->find_first_not_of(" \t\r\n:", key + kKey.size());
    return value != std::string::npos && text->compare(value, 2, "\"\"") != 0 &&
           text->compare(value, 9, "\"default\"") != 0;
}

}  // namespace

bool dockerEnginePlausible() {
    // The cheap questions first: on a machine without an engine a scan pays
    // a stat call, not a walk of PATH and a read of the client's config.
    const char* host = std::getenv("DOCKER_HOST");
    if (host != nullptr && *host != '\0') {
        return !remoteEngine() && onPath("docker");
    }
    return exists(kDefaultSocket) && !otherContext() && onPath("docker");
}

std::optional<std::string> dockerEngineSocket() {
    const char* host = std::getenv("DOCKER_HOST");
    if (host != nullptr && *host != '\0') {
        const std::string_view value = host;
        if (!value.starts_with("unix://")) {
            return std::nullopt;
        }
        // The client reads "unix://" alone as the default socket.
        return value.size() > 7 ? std::string(value.substr(7)) : std::string(kDefaultSocket);
    }
    if (otherContext()) {
        return std::nullopt;
    }
    return std::string(kDefaultSocket);
}

DockerResolver::DockerResolver(std::chrono::milliseconds bound) : bound_(bound) {}

const std::vector<DockerContainer>& DockerResolver::containers(DockerListing& listing) const {
    if (!listing.asked) {
        listing.asked = true;
        // The socket answers in a millisecond; the Go client takes tens of
        // them to start, on every scan. An engine that answers but gives no
        // list (one that wants a client of its own version) is left to the
        // client; one that does not answer would not answer it either.
        // One bound for the socket and the client together.
        const auto deadline = std::chrono::steady_clock::now() + bound_;
        if (const std::optional<std::string> socket = dockerEngineSocket()) {
            const auto answer = httpGetOverUnixSocket(*socket, kContainerListTarget, bound_);
            if (!answer) {
                return listing.containers;
            }
            if (answer->status == 200) {
                if (auto containers = parseContainerList(answer->body)) {
                    listing.containers = std::move(*containers);
                    return listing.containers;
                }
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds::zero()) {
            return listing.containers;
        }
        const CommandResult result = runCommand(
            "/usr/bin/env",
            {"docker", "ps", "--no-trunc", "--format", std::string(kDockerPsFormat)}, left);
        if (result.output && result.status == 0) {
            listing.containers = parseDockerPs(decodeUtf8Lossy(*result.output));
        }
    }
    return listing.containers;
}

std::unordered_map<int64_t, DockerContext> DockerResolver::dockerContexts(
    const std::vector<PortMetadata>& elements, DockerListing& listing) {
    std::set<int64_t> selected;
    for (const auto& [metadata, port] : elements) {
        if (looksLikeDocker(metadata)) {
            selected.insert(port);
        }
    }
    if (selected.empty()) {
        return {};
    }
    auto contexts = contextsOfPorts(containers(listing), selected);
    for (int64_t port : selected) {
        contexts.try_emplace(port);
    }
    return contexts;
}

std::vector<PublishedPort> DockerResolver::publishedPorts(DockerListing& listing) {
    // A remote engine may have been asked for the contexts of a local
    // process that looks like Docker; its ports still are not ours.
    if (remoteEngine() || (!listing.asked && !dockerEnginePlausible())) {
        return {};
    }
    // By port; a later container wins, as for contexts.
    std::map<int64_t, const DockerContainer*> byPort;
    for (const DockerContainer& container : containers(listing)) {
        if (container.context.containerName) {
            for (int64_t port : container.tcpPorts) {
                byPort.insert_or_assign(port, &container);
            }
        }
    }
    std::vector<PublishedPort> published;
    published.reserve(byPort.size());
    for (const auto& [port, container] : byPort) {
        published.push_back({port, container->context, container->command});
    }
    return published;
}

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
             goUnquoted(line), publishedTcpPorts(*ports)});
    }
    return containers;
}

std::optional<std::vector<DockerContainer>> parseContainerList(std::string_view json) {
    const nlohmann::json list = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (!list.is_array()) {
        return std::nullopt;
    }
    const auto text = [](const nlohmann::json& object, const char* key) -> std::string_view {
        const auto found = object.find(key);
        return found != object.end() && found->is_string()
                   ? std::string_view(found->get_ref<const std::string&>())
                   : std::string_view();
    };
    std::vector<DockerContainer> containers;
    for (const nlohmann::json& item : list) {
        if (!item.is_object()) {
            continue;
        }
        DockerContainer container;
        if (isFullContainerId(text(item, "Id"))) {
            container.context.containerId = std::string(text(item, "Id"));
        }
        // "/db"; a link alias reads "/other/alias".
        if (const auto names = item.find("Names"); names != item.end() && names->is_array()) {
            for (const nlohmann::json& name : *names) {
                std::string_view own = name.is_string()
                                           ? std::string_view(name.get_ref<const std::string&>())
                                           : std::string_view();
                if (own.starts_with('/')) {
                    own.remove_prefix(1);
                }
                if (isContainerName(own)) {
                    container.context.containerName = std::string(own);
                    break;
                }
            }
        }
        if (const auto labels = item.find("Labels"); labels != item.end() && labels->is_object()) {
            container.context.composeService =
                nonEmpty(text(*labels, "com.docker.compose.service"));
        }
        container.command = std::string(text(item, "Command"));
        if (const auto ports = item.find("Ports"); ports != item.end() && ports->is_array()) {
            for (const nlohmann::json& port : *ports) {
                // Without a host address the port is only exposed, as `docker
                // ps` shows it ("6379/tcp").
                if (!port.is_object() || text(port, "Type") != "tcp" || text(port, "IP").empty()) {
                    continue;
                }
                const auto number = port.find("PublicPort");
                if (number != port.end() && number->is_number_integer() &&
                    number->get<int64_t>() >= 1 && number->get<int64_t>() <= 65535) {
                    container.tcpPorts.push_back(number->get<int64_t>());
                }
            }
        }
        std::sort(container.tcpPorts.begin(), container.tcpPorts.end());
        container.tcpPorts.erase(std::unique(container.tcpPorts.begin(), container.tcpPorts.end()),
                                 container.tcpPorts.end());
        containers.push_back(std::move(container));
    }
    return containers;
}

std::unordered_map<int64_t, DockerContext> contextsOfPorts(
    const std::vector<DockerContainer>& containers, const std::set<int64_t>& ports) {
    std::unordered_map<int64_t, DockerContext> contexts;
    for (const DockerContainer& container : containers) {
        for (int64_t port : container.tcpPorts) {
            if (ports.contains(port)) {
                contexts.insert_or_assign(port, container.context);
            }
        }
    }
    return contexts;
}

}  // namespace halvo
