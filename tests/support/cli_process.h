// Runs halvo-cli as a user would and keeps what it printed.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace halvo::testing {

struct CliRun {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// `environment` entries replace (or add to) the inherited environment.
CliRun runCli(const std::vector<std::string>& arguments,
              const std::map<std::string, std::string>& environment = {});

}  // namespace halvo::testing
