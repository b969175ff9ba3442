// Labels for a development port: a framework badge and a project hint, both
// pure functions of what was read about the process.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/port_records.h"

namespace halvo {

std::optional<FrameworkBadge> frameworkBadge(std::string_view executableName,
                                             std::string_view executablePath,
                                             const std::vector<std::string>& arguments);

// The folder a process most likely belongs to: the one after "Documents", or
// the first one in a home directory under "Users". Relative candidates resolve
// against the root, never against this tool's own directory.
std::optional<std::string> projectHint(const std::vector<std::string>& arguments,
                                       const std::optional<std::string>& workingDirectory,
                                       std::string_view executablePath);

}  // namespace halvo
