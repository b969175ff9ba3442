// halvo-cli pick: the kill panel in a terminal. A full-screen list of the
// scanned rows, filtered as the user types, ended through the shared kill
// sequence and scanned again after each kill.
#pragma once

#include <ostream>

#include "cli/commands.h"

namespace halvo {

struct PickOptions {
    bool once = false;   // exit after the first kill, printing its feedback
    bool force = false;  // start in force mode
};

// ok when something was ended, nothingMatched when nothing was, usage when
// standard input or output is no terminal (said on `err`).
ExitStatus runPick(const PickOptions& options, PortScanning& scanner, ProcessKilling& engine,
                   ContainerStopping& containers, std::ostream& out, std::ostream& err,
                   KillHelpers helpers = {});

}  // namespace halvo
