// What Docker says about ports: the container and compose service behind a
// port, and the TCP ports running containers publish on the host. The engine
// is asked at most once per scan, through its socket (docker_container_list.h)
// or, failing that, `docker ps` (docker_ps_listing.h), and only where one may
// run (docker_engine_location.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "scan/command_runner.h"
#include "scan/docker_container.h"
#include "scan/port_records.h"
#include "scan/process_resolver.h"

namespace halvo {

using PortMetadata = std::pair<ProcessMetadata, int64_t>;

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

class DockerResolver final : public DockerResolving {
  public:
    // `bound` holds for the socket and the client together.
    explicit DockerResolver(std::chrono::milliseconds bound = kDockerBound);
    std::unordered_map<int64_t, DockerContext> dockerContexts(
        const std::vector<PortMetadata>& elements, DockerListing& listing) override;
    std::vector<PublishedPort> publishedPorts(DockerListing& listing) override;

  private:
    const std::vector<DockerContainer>& containers(DockerListing& listing) const;

    std::chrono::milliseconds bound_;
};

// The context of each of `ports` that a container publishes; a later
// container wins.
std::unordered_map<int64_t, DockerContext> contextsOfPorts(
    const std::vector<DockerContainer>& containers, const std::set<int64_t>& ports);

// Every port a named container publishes with the container behind it, by
// port; a later container wins. One entry per port, however many containers
// publish it: never more than the ports there are.
std::vector<PublishedPort> publishedPortsOf(const std::vector<DockerContainer>& containers);

}  // namespace halvo
