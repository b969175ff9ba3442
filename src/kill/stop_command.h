// What a stop command (docker, systemctl, pm2) run through the command runner
// came to, as the user reads it.
#pragma once

#include <string>
#include <string_view>

#include "kill/process_killing.h"
#include "scan/command_runner.h"

namespace halvo {

// killed on status 0; otherwise failed with "Could not stop WHICH: " and the
// first line of the tool's errors (colour codes removed), its status, or that
// it hung or could not be started.
KillOutcome stopOutcome(const CommandResult& result, const std::string& which,
                        std::string_view tool);

}  // namespace halvo
