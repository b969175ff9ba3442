// Finding a helper program by absolute path, never through PATH.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace halvo {

// Where lsof is looked for, in order: Debian installs it in /usr/bin.
inline const std::vector<std::string> kLsofPaths = {"/usr/sbin/lsof", "/usr/bin/lsof"};

// The first candidate that is an absolute path to an executable regular file.
std::optional<std::string> findExecutable(const std::vector<std::string>& candidates);

}  // namespace halvo
