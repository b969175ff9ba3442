// The running containers as the engine lists them over its socket
// (GET /containers/json): the fast way to ask it, a millisecond where the
// `docker` client takes tens of them to start.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "scan/docker_container.h"

namespace halvo {

// What the engine's socket is asked for: the running containers, in the
// engine's own API version (engines refuse versions they consider too old).
inline constexpr std::string_view kContainerListTarget = "/containers/json";

// Containers from the engine's JSON list of them, read as parseDockerPs reads
// lines: an ID that is not a full one, a name that is no container name and an
// empty service are absent; of the names, the container's own is kept; a port
// is published when it has a host address. None when `json` is no JSON array.
std::optional<std::vector<DockerContainer>> parseContainerList(std::string_view json);

}  // namespace halvo
