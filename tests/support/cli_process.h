// Runs halvo-cli as a user would and keeps what it printed.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "scan/command_runner.h"

namespace halvo::testing {

struct CliRun {
    int status = -1;  // exit status; -1 when it did not end in time
    std::string out;
    std::string err;  // its start
};

// `environment` entries replace (or add to) the inherited environment.
inline CliRun runCli(const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment = {}) {
    std::vector<std::string> words;  // for env(1): the settings, then the command
    for (const auto& [name, value] : environment) {
        words.push_back(name + "=" + value);
    }
    words.push_back(HALVO_CLI);
    words.insert(words.end(), arguments.begin(), arguments.end());
    const CommandResult run = runCommand("/usr/bin/env", words, std::chrono::seconds(60));
    return {run.output ? run.status : -1, run.output.value_or(""), run.errors};
}

}  // namespace halvo::testing
