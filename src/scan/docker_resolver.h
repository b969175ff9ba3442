// What Docker says about ports: the container and compose service behind a
// port, and the TCP ports running containers publish on the host.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "scan/command_runner.h"
#include "scan/port_records.h"
#include "scan/process_resolver.h"

namespace halvo {

using PortMetadata = std::pair<ProcessMetadata, int64_t>;

// One running container as the engine lists it.
struct DockerContainer {
    DockerContext context;
    std::string command;            // the container's command, unquoted
    std::vector<int64_t> tcpPorts;  // host ports published over TCP, ascending, unique

    bool operator==(const DockerContainer&) const = default;
};

// A TCP port published on the host and the container behind it.
struct PublishedPort {
    int64_t port = 0;
    DockerContext context;  // always with a container name
    std::string command;

    bool operator==(const PublishedPort&) const = default;
};

// The engine's answer within one scan: it is asked at most once per scan
// (through its socket, or `docker ps`), for the first question that needs it,
// and every later question of the scan reads the same answer. Each scan owns a
// fresh one.
struct DockerListing {
    bool asked = false;                       // the engine was asked (or tried)
    std::vector<DockerContainer> containers;  // empty when it failed
};

class DockerResolving {
  public:
    virtual ~DockerResolving() = default;
    // An entry (possibly empty) for every port whose process looks like
    // Docker; none for other ports. Asks the engine only when something looks
    // like Docker.
    virtual std::unordered_map<int64_t, DockerContext> dockerContexts(
        const std::vector<PortMetadata>& elements, DockerListing& listing) = 0;
    // Every TCP port a running, named container publishes, by port (one
    // container per port). Asks the engine only when `listing` has not and a
    // Docker engine may be running here; nothing for an engine elsewhere.
    virtual std::vector<PublishedPort> publishedPorts(DockerListing& listing) = 0;
};

// The format string given to `docker ps --no-trunc --format`. IDs, names and
// ports cannot hold "|" or a line break; a label can, so it comes as a Go
// string literal, read up to its closing quote. The command, also a literal,
// goes last: it may hold "|" too.
inline constexpr std::string_view kDockerPsFormat =
    "{{.ID}}|{{.Names}}|{{printf \"%q\" (.Label \"com.docker.compose.service\")}}|{{.Ports}}|"
    "{{.Command}}";

class DockerResolver final : public DockerResolving {
  public:
    explicit DockerResolver(std::chrono::milliseconds bound = kDockerBound);
    std::unordered_map<int64_t, DockerContext> dockerContexts(
        const std::vector<PortMetadata>& elements, DockerListing& listing) override;
    std::vector<PublishedPort> publishedPorts(DockerListing& listing) override;

  private:
    const std::vector<DockerContainer>& containers(DockerListing& listing) const;

    std::chrono::milliseconds bound_;
};

// Whether asking Docker can find containers that publish ports here: `docker`
// is on PATH (it stops them) and a local engine is plausible (DOCKER_HOST
// names a unix socket or a loopback address, or, with no DOCKER_HOST and the
// default docker context, /var/run/docker.sock exists). A few stat calls, so
// that a machine without an engine never pays for asking.
bool dockerEnginePlausible();

// The unix socket to ask the engine through: DOCKER_HOST's unix:// path, or,
// with no DOCKER_HOST and the default docker context, /var/run/docker.sock.
// None for a TCP host or another docker context: `docker ps` is asked then.
std::optional<std::string> dockerEngineSocket();

// What the engine's socket is asked for: the running containers, in the
// engine's own API version (engines refuse versions they consider too old).
inline constexpr std::string_view kContainerListTarget = "/containers/json";

// Containers from the engine's JSON list of them, read as parseDockerPs reads
// lines: an ID that is not a full one, a name that is no container name and an
// empty service are absent; of the names, the container's own is kept; a port
// is published when it has a host address. None when `json` is no JSON array.
std::optional<std::vector<DockerContainer>> parseContainerList(std::string_view json);

// Containers from `docker ps` output lines (id|names|"service"|ports|command,
// service and command as Go string literals). A line with fewer fields, or
// whose service is no closed literal, is dropped; an empty name or service, or an ID that
// is not a full one, is absent; of the names, the container's own (not a link
// alias "a/b") is kept.
std::vector<DockerContainer> parseDockerPs(std::string_view text);

// The context of each of `ports` that a container publishes; a later
// container wins.
std::unordered_map<int64_t, DockerContext> contextsOfPorts(
    const std::vector<DockerContainer>& containers, const std::set<int64_t>& ports);

}  // namespace halvo
