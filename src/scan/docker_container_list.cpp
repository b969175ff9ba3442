#include "scan/docker_container_list.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace halvo {
namespace {

using Json = nlohmann::json;

// The value at `key` of `object`; null when there is none or `object` is no object.
const Json& member(const Json& object, const char* key) {
    static const Json kNone;
    const auto found = object.find(key);
    return found != object.end() ? *found : kNone;
}

// The string `value` is; empty when it is none.
std::string_view text(const Json& value) {
    return value.is_string() ? std::string_view(value.get_ref<const std::string&>())
                             : std::string_view();
}

std::string_view text(const Json& object, const char* key) {
    return text(member(object, key));
}

// What Docker accepts as a container's name: [a-zA-Z0-9][a-zA-Z0-9_.-]*.
bool isContainerName(std::string_view name) {
    const auto allowed = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    return !name.empty() && allowed(name.front()) &&
           std::all_of(name.begin(), name.end(),
                       [&](char c) { return allowed(c) || c == '_' || c == '.' || c == '-'; });
}

// The first of "Names" that is a container's own: "/db"; a link alias reads
// "/other/alias".
std::optional<std::string> ownName(const Json& names) {
    if (!names.is_array()) {
        return std::nullopt;
    }
    for (const Json& name : names) {
        std::string_view own = text(name);
        if (own.starts_with('/')) {
            own.remove_prefix(1);
        }
        if (isContainerName(own)) {
            return std::string(own);
        }
    }
    return std::nullopt;
}

// The host ports of "Ports". Without a host address a port is only exposed,
// as `docker ps` shows it ("6379/tcp").
PortRangeSet publishedTcpPorts(const Json& ports) {
    PortRangeSet published;
    if (!ports.is_array()) {
        return published;
    }
    for (const Json& port : ports) {
        if (!port.is_object() || text(port, "Type") != "tcp" || text(port, "IP").empty()) {
            continue;
        }
        if (const Json& number = member(port, "PublicPort"); number.is_number_integer()) {
            published.add({number.get<int64_t>(), number.get<int64_t>()});
        }
    }
    return published;
}

DockerContainer container(const Json& item) {
    DockerContainer container;
    if (isFullContainerId(text(item, "Id"))) {
        container.context.containerId = std::string(text(item, "Id"));
    }
    container.context.containerName = ownName(member(item, "Names"));
    if (const std::string_view service = text(member(item, "Labels"), "com.docker.compose.service");
        !service.empty()) {
        container.context.composeService = std::string(service);
    }
    container.command = containerCommand(text(item, "Command"));
    container.tcpPorts = publishedTcpPorts(member(item, "Ports"));
    return container;
}

}  // namespace

std::optional<std::vector<DockerContainer>> parseContainerList(std::string_view json) {
    const Json list = Json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (!list.is_array()) {
        return std::nullopt;
    }
    std::vector<DockerContainer> containers;
    for (const Json& item : list) {
        if (item.is_object()) {
            containers.push_back(container(item));
        }
    }
    return containers;
}

}  // namespace halvo
