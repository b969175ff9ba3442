// Ending a container row: a port that a Docker container publishes and no
// process of the user holds is freed by stopping the container.
#pragma once

#include <chrono>
#include <string>

#include "kill/process_killing.h"
#include "scan/port_records.h"

namespace halvo {

// `docker stop` waits ten seconds for the container's own exit before it
// kills it; the bound leaves room for that.
inline constexpr std::chrono::milliseconds kDockerStopBound{20000};

class ContainerStopping {
  public:
    virtual ~ContainerStopping() = default;
    // Blocking and thread-safe. killed once the container has stopped; failed
    // with the reason otherwise, also when it has no full ID to be stopped by.
    // Never stale: a container ID is never reused.
    virtual KillOutcome stop(const DockerContext& container) = 0;
};

// `docker stop ID` through the command runner, bounded. Never by name:
// docker would read a name that has gone as the prefix of another ID.
class DockerContainerStopper final : public ContainerStopping {
  public:
    explicit DockerContainerStopper(std::chrono::milliseconds bound = kDockerStopBound);
    KillOutcome stop(const DockerContext& container) override;

  private:
    std::chrono::milliseconds bound_;
};

}  // namespace halvo
