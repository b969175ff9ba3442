#include "cli/leave_alone_commands.h"

#include <algorithm>

#include "cli/terminal_text.h"

namespace halvo {
namespace {

constexpr const char* kNoFolder =
    "halvo-cli: no configuration folder (neither XDG_CONFIG_HOME nor HOME is set)\n";

// The entries `words` name; nothing after a usage error, written to `err`.
std::optional<std::vector<LeaveAloneEntry>> entriesOf(const std::vector<std::string>& words,
                                                      const char* command, std::ostream& err) {
    std::vector<LeaveAloneEntry> entries;
    for (const std::string& word : words) {
        std::string why;
        std::optional<LeaveAloneEntry> entry = parseLeaveAloneEntry(word, &why);
        if (!entry) {
            err << "halvo-cli " << command << ": " << terminalSafe(why) << '\n';
            return std::nullopt;
        }
        entries.push_back(std::move(*entry));
    }
    return entries;
}

}  // namespace

LeaveAloneList loadReportingProblems(const std::optional<std::string>& path, std::ostream& err) {
    if (!path) {
        return {};
    }
    LeaveAloneList list = loadLeaveAloneList(*path);
    for (const std::string& problem : list.problems()) {
        err << "halvo-cli: leave-alone list " << terminalSafe(*path) << ": "
            << terminalSafe(problem) << "; skipped\n";
    }
    return list;
}

ExitStatus runIgnore(const std::vector<std::string>& words, const std::optional<std::string>& path,
                     std::ostream& out, std::ostream& err) {
    const auto entries = entriesOf(words, "ignore", err);
    if (!entries) {
        return ExitStatus::usage;
    }
    if (!path) {
        err << kNoFolder;
        return ExitStatus::notAllEnded;
    }
    if (const auto error = addToLeaveAloneList(*path, *entries)) {
        err << "halvo-cli ignore: " << terminalSafe(*error) << '\n';
        return ExitStatus::notAllEnded;
    }
    for (const LeaveAloneEntry& entry : *entries) {
        out << "Leaving " << terminalSafe(entry.text()) << " alone\n";
    }
    return ExitStatus::ok;
}

ExitStatus runUnignore(const std::vector<std::string>& words,
                       const std::optional<std::string>& path, std::ostream& out,
                       std::ostream& err) {
    const auto entries = entriesOf(words, "unignore", err);
    if (!entries) {
        return ExitStatus::usage;
    }
    if (!path) {
        err << kNoFolder;
        return ExitStatus::notAllEnded;
    }
    std::vector<LeaveAloneEntry> missing;
    if (const auto error = removeFromLeaveAloneList(*path, *entries, missing)) {
        err << "halvo-cli unignore: " << terminalSafe(*error) << '\n';
        return ExitStatus::notAllEnded;
    }
    for (const LeaveAloneEntry& entry : *entries) {
        const bool absent = std::find(missing.begin(), missing.end(), entry) != missing.end();
        (absent ? err : out) << terminalSafe(entry.text())
                             << (absent ? " is not on your leave-alone list (" +
                                              terminalSafe(*path) + ")\n"
                                        : " is no longer left alone\n");
    }
    return missing.empty() ? ExitStatus::ok : ExitStatus::nothingMatched;
}

ExitStatus runIgnoreList(const std::optional<std::string>& path, std::ostream& out,
                         std::ostream& err) {
    const LeaveAloneList list = loadReportingProblems(path, err);
    for (const LeaveAloneEntry& entry : list.entries()) {
        out << terminalSafe(entry.text()) << '\n';
    }
    if (list.entries().empty()) {
        err << "Your leave-alone list is empty"
            << (path ? " (" + terminalSafe(*path) + ")" : std::string()) << ".\n";
    }
    return ExitStatus::ok;
}

}  // namespace halvo
