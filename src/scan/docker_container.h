// One running container as the engine lists it: what both of its listings
// (`docker ps` lines and the engine's JSON) are read into.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "scan/port_range_set.h"
#include "scan/port_records.h"

namespace halvo {

struct DockerContainer {
    DockerContext context;
    std::string command;    // the container's command, unquoted, at most kContainerCommandLimit
    PortRangeSet tcpPorts;  // host ports published over TCP

    bool operator==(const DockerContainer&) const = default;
};

// The most of a container's command that is kept, in bytes: it is shown on
// the row of every port the container publishes, which may be all of them.
inline constexpr size_t kContainerCommandLimit = 512;

// `command` (valid UTF-8) cut to kContainerCommandLimit bytes at a character
// boundary, ending in "…" when it was longer.
std::string containerCommand(std::string_view command);

}  // namespace halvo
