// Maps ports published by Docker containers to their container and compose service.
#pragma once

#include <chrono>
#include <cstdint>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "scan/command_runner.h"
#include "scan/port_records.h"
#include "scan/process_resolver.h"

namespace halvo {

using PortMetadata = std::pair<ProcessMetadata, int64_t>;

class DockerResolving {
  public:
    virtual ~DockerResolving() = default;
    // An entry (possibly empty) for every port whose process looks like
    // Docker; none for other ports. Runs the tool at most once, and not at all
    // when nothing looks like Docker.
    virtual std::unordered_map<int64_t, DockerContext> dockerContexts(
        const std::vector<PortMetadata>& elements) = 0;
    // The contexts the tool reports for `ports`; empty when it fails.
    virtual std::unordered_map<int64_t, DockerContext> inspectDocker(
        const std::set<int64_t>& ports) = 0;
};

// The format string given to `docker ps --format`.
inline constexpr std::string_view kDockerPsFormat =
    "{{.Names}}|{{.Label \"com.docker.compose.service\"}}|{{.Ports}}";

class DockerResolver final : public DockerResolving {
  public:
    explicit DockerResolver(std::chrono::milliseconds bound = kDockerBound);
    std::unordered_map<int64_t, DockerContext> dockerContexts(
        const std::vector<PortMetadata>& elements) override;
    std::unordered_map<int64_t, DockerContext> inspectDocker(
        const std::set<int64_t>& ports) override;

  private:
    std::chrono::milliseconds bound_;
};

// Contexts from `docker ps` output lines (names|service|ports) for `ports`;
// a later line wins, and a line without exactly those three fields is dropped.
std::unordered_map<int64_t, DockerContext> parseDockerPs(std::string_view text,
                                                         const std::set<int64_t>& ports);

}  // namespace halvo
