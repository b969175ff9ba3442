#include "kill/container_stopper.h"

#include "kill/stop_command.h"

namespace halvo {

DockerContainerStopper::DockerContainerStopper(std::chrono::milliseconds bound) : bound_(bound) {}

KillOutcome DockerContainerStopper::stop(const DockerContext& container) {
    const std::string which =
        "container " + container.containerName.value_or(container.containerId.value_or(""));
    // Only a full ID names one container for certain (docker may read a name
    // as some other ID's prefix), and it can never pass for an option.
    if (!container.containerId || !isFullContainerId(*container.containerId)) {
        return KillOutcome::failed("Could not stop " + which + ": docker gave no container ID");
    }
    return stopOutcome(
        runCommand("/usr/bin/env", {"docker", "stop", *container.containerId}, bound_), which,
        "docker");
}

}  // namespace halvo
