// halvo-cli ignore, unignore and ignore --list: the leave-alone list edited
// and read from a terminal (see kill/leave_alone_list.h).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "kill/leave_alone_list.h"

namespace halvo {

// The list at `path` (none: no configuration folder), its problems written
// to `err` once, each with the file's path.
LeaveAloneList loadReportingProblems(const std::optional<std::string>& path, std::ostream& err);

// Adds the ports, ranges or names in `words`; a word that is none is a usage error.
ExitStatus runIgnore(const std::vector<std::string>& words, const std::optional<std::string>& path,
                     std::ostream& out, std::ostream& err);
// Removes them; nothingMatched when one was not on the list.
ExitStatus runUnignore(const std::vector<std::string>& words,
                       const std::optional<std::string>& path, std::ostream& out,
                       std::ostream& err);
// One entry a line, in file order.
ExitStatus runIgnoreList(const std::optional<std::string>& path, std::ostream& out,
                         std::ostream& err);

}  // namespace halvo
