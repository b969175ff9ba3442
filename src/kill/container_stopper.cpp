#include "kill/container_stopper.h"

#include "base/text.h"
#include "scan/command_runner.h"

namespace halvo {

DockerContainerStopper::DockerContainerStopper(std::chrono::milliseconds bound) : bound_(bound) {}

KillOutcome DockerContainerStopper::stop(const std::string& containerName) {
    const std::string which = "container " + containerName;
    // Docker's names start with a letter or digit; anything else would be read as an option.
    if (containerName.empty() || containerName.front() == '-') {
        return KillOutcome::failed("Could not stop " + which + ": not a container name");
    }
    const CommandResult result =
        runCommand("/usr/bin/env", {"docker", "stop", containerName}, bound_);
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
