// The two things halvo-cli does, apart from argument parsing so that they can
// run against any scanner and kill engine.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "kill/kill_engine_protocol.h"
#include "scan/port_scanner.h"

namespace halvo {

// Like pkill's: scripts can tell "nothing there" from "could not end it".
enum class ExitStatus : int {
    ok = 0,
    nothingMatched = 1,
    usage = 2,
    notAllEnded = 3,  // some target was stale or refused
};

struct ListOptions {
    std::vector<std::string> query;  // words joined with spaces
    bool json = false;
};

struct KillOptions {
    std::vector<std::string> query;  // words joined with spaces; must not be blank
    bool force = false;
    bool dryRun = false;
};

ExitStatus runList(const ListOptions& options, PortScanning& scanner, std::ostream& out,
                   std::ostream& err);

ExitStatus runKill(const KillOptions& options, PortScanning& scanner, KillEngineProtocol& engine,
                   std::ostream& out, std::ostream& err);

}  // namespace halvo
