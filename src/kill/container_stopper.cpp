#include "kill/container_stopper.h"

#include "base/text.h"
#include "scan/command_runner.h"

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
    const CommandResult result =
        runCommand("/usr/bin/env", {"docker", "stop", *container.containerId}, bound_);
    if (!result.output) {
        return KillOutcome::failed("Could not stop " + which +
                                   ": docker did not answer in time or could not be started");
    }
    if (result.status != 0) {
        std::string_view reason = trimWhiteSpace(result.errors);
        reason = trimWhiteSpace(reason.substr(0, reason.find('\n')));
        return KillOutcome::failed(
            "Could not stop " + which + ": " +
            (reason.empty() ? "docker exited with status " + std::to_string(result.status)
                            : decodeUtf8Lossy(reason)));
    }
    return KillOutcome::killed();
}

}  // namespace halvo
