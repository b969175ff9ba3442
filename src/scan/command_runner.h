// The one way Halvo runs a system tool: no shell, both pipes drained, and a
// bounded wait so that a hung tool can never hang a scan.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvo {

inline constexpr std::chrono::milliseconds kLsofBound{5000};
inline constexpr std::chrono::milliseconds kDockerBound{3000};

struct CommandResult {
    int32_t status = 0;                 // exit status of the child
    std::optional<std::string> output;  // standard output; absent when not started
};

// Runs `executable` (an absolute path, no search) with `arguments` (not counting
// argv[0], which is the executable). Environment, working directory and
// standard input are inherited. Standard error is read and dropped.
//
// A child that cannot be started, or that has not exited with both streams
// closed by `bound`, is reported as not started: status 0, no output. At the
// bound the child and its process group are killed.
CommandResult runCommand(const std::string& executable, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds bound);

}  // namespace halvo
