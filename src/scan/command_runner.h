// The one way Halvo runs a system tool: no shell, both pipes drained, and a
// bounded wait so that a hung tool can never hang a scan.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvo {

inline constexpr std::chrono::milliseconds kLsofBound{5000};
inline constexpr std::chrono::milliseconds kDockerBound{3000};
// The most standard output a run keeps; a tool that writes more is cut off.
inline constexpr size_t kOutputCap = size_t{8} << 20;
// The most standard error a run keeps: enough for the tool's reason.
inline constexpr size_t kErrorCap = 4096;
// How long the pipes are still read once the tool itself has exited: a
// descendant it left behind may hold them open.
inline constexpr std::chrono::milliseconds kAfterExitGrace{100};

struct CommandResult {
    int32_t status = 0;                 // exit status of the child
    std::optional<std::string> output;  // standard output; absent when not started
    std::string errors;                 // the start of standard error
};

// Runs `executable` (an absolute path, no search) with `arguments` (not counting
// argv[0], which is the executable). Environment and working directory are
// inherited; standard input is /dev/null. Of standard error, the first kErrorCap
// bytes are kept.
//
// Once the child has exited, its pipes are read for kAfterExitGrace at most;
// then its process group is killed and what it wrote counts. A child that
// cannot be started, has not exited by `bound`, or writes more than
// kOutputCap is reported as not started: status 0, no output; its process
// group is killed.
CommandResult runCommand(const std::string& executable, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds bound);

}  // namespace halvo
