// Ending a container row: a port that a Docker container publishes and no
// process of the user holds is freed by stopping the container.
#pragma once

#include <chrono>
#include <string>

#include "kill/kill_engine_protocol.h"

namespace halvo {

// `docker stop` waits ten seconds for the container's own exit before it
// kills it; the bound leaves room for that.
inline constexpr std::chrono::milliseconds kDockerStopBound{20000};

class ContainerStopping {
  public:
    virtual ~ContainerStopping() = default;
    // Blocking and thread-safe. killed once the container has stopped; failed
    // with the reason otherwise. Never stale: a name has no start time.
    virtual KillOutcome stop(const std::string& containerName) = 0;
};

// `docker stop NAME` through the command runner, bounded.
class DockerContainerStopper final : public ContainerStopping {
  public:
    explicit DockerContainerStopper(std::chrono::milliseconds bound = kDockerStopBound);
    KillOutcome stop(const std::string& containerName) override;

  private:
    std::chrono::milliseconds bound_;
};

}  // namespace halvo
