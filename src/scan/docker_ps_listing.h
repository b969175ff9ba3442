// The running containers as `docker ps` lists them, one line each in a format
// of our own: how the engine is asked when its socket cannot be.
#pragma once

#include <string_view>
#include <vector>

#include "scan/docker_container.h"

namespace halvo {

// The format string given to `docker ps --no-trunc --format`. IDs, names and
// ports cannot hold "|" or a line break; a label can, so it comes as a Go
// string literal, read up to its closing quote. The command, also a literal,
// goes last: it may hold "|" too.
inline constexpr std::string_view kDockerPsFormat =
    "{{.ID}}|{{.Names}}|{{printf \"%q\" (.Label \"com.docker.compose.service\")}}|{{.Ports}}|"
    "{{.Command}}";

// Containers from `docker ps` output lines (id|names|"service"|ports|command,
// service and command as Go string literals). A line with fewer fields, or
// whose service is no closed literal, is dropped; an empty name or service,
// or an ID that is not a full one, is absent; of the names, the container's
// own (not a link alias "a/b") is kept. Ports are the host side of each TCP
// mapping ("0.0.0.0:8000-8002->8000-8002/tcp" gives three).
std::vector<DockerContainer> parseDockerPs(std::string_view text);

}  // namespace halvo
