#include "cli/commands.h"

#include <algorithm>
#include <set>

#include "base/text.h"
#include "cli/port_output.h"
#include "cli/terminal_text.h"
#include "kill/feedback.h"
#include "kill/foreign_listeners.h"
#include "kill/kill_batch.h"
#include "kill/kill_sequence.h"
#include "kill/search_filter.h"
#include "kill/tree_kill.h"

namespace halvo {
namespace {

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        if (!text.empty()) {
            text += ' ';
        }
        text += word;
    }
    return text;
}

constexpr const char* kNothingListening = "Nothing listening right now.";
constexpr const char* kNoMatch = "No matching ports.";

// The listeners of others that any of `queries` names, each once, by port then owner.
std::vector<ForeignListener> foreignNamedByAny(const std::vector<ForeignListener>& foreign,
                                               const std::vector<std::string>& queries) {
    std::vector<ForeignListener> held;
    for (const std::string& query : queries) {
        const std::vector<ForeignListener> matching = foreignListenersMatching(foreign, query);
        held.insert(held.end(), matching.begin(), matching.end());
    }
    const auto key = [](const ForeignListener& l) { return std::pair(l.port, l.uid); };
    std::sort(held.begin(), held.end(),
              [&](const auto& a, const auto& b) { return key(a) < key(b); });
    held.erase(std::unique(held.begin(), held.end()), held.end());
    return held;
}

// After "No matching ports.": the user's own listeners on the ports `queries`
// name that the development filter hid, so that a taken port is not taken
// for a free one.
void sayWhatTheFilterHid(const std::vector<LsofRow>& hidden,
                         const std::vector<std::string>& queries, std::ostream& err) {
    std::set<std::pair<int64_t, int32_t>> said;
    for (const std::string& query : queries) {
        for (const LsofRow& row : hiddenListenersMatching(hidden, query)) {
            if (said.emplace(row.port, row.pid).second) {
                err << terminalSafe(notDevelopmentText(row)) << "; --all includes it\n";
            }
        }
    }
}

// The rest of each process's tree, as a tree kill would end it.
void printTreeDryRun(const std::vector<KillGroup>& groups, ProcessTreeReading& reader,
                     std::ostream& out) {
    std::vector<KillTarget> listeners;
    std::set<int32_t> listed;
    for (const KillGroup& group : groups) {
        if (endsProcesses(group)) {
            listeners.push_back({group.pid, group.startTime});
            listed.insert(group.pid);
        }
    }
    const ProcessTree tree(reader.entries());
    for (const KillTarget& target : processTreeTargets(tree, listeners, systemDevelopmentCheck())) {
        if (listed.contains(target.pid)) {
            continue;
        }
        const ProcessTreeEntry* entry = tree.find(target.pid);
        out << "Would kill " << terminalSafe(entry ? entry->name : "process") << " PID "
            << target.pid << " (process tree)\n";
    }
}

}  // namespace

std::optional<ProcessStartTime> parseStartTime(std::string_view text) {
    const size_t dot = text.find('.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<uint64_t> seconds = parseUint64(text.substr(0, dot));
    const std::optional<uint64_t> micros = parseUint64(text.substr(dot + 1));
    if (!seconds || !micros || *seconds > INT64_MAX || *micros > 999'999) {
        return std::nullopt;
    }
    return ProcessStartTime{static_cast<int64_t>(*seconds), static_cast<int32_t>(*micros)};
}

ExitStatus runList(const ListOptions& options, PortScanning& scanner, std::ostream& out,
                   std::ostream& err) {
    const std::string query = joined(options.query);
    const PortScan scan = scanner.scanAll();
    const std::vector<PortProcess> shown = filterProcesses(scan.processes, query);
    // Without --all the listeners of others are no rows, yet a port they hold is named.
    const std::vector<ForeignListener> held = foreignListenersMatching(scan.foreign, query);
    const std::vector<ForeignListener> foreign =
        options.all ? held : std::vector<ForeignListener>{};
    if (options.json) {
        out << (options.all ? portScanJson(shown, foreign) : portProcessesJson(shown)) << '\n';
    } else if (shown.empty() && foreign.empty()) {
        if (normalizeQuery(query).empty()) {
            err << kNothingListening << '\n';
        } else {
            // A port that is taken is never reported as free: say whose it is.
            err << kNoMatch << '\n';
            sayWhatTheFilterHid(scan.notDevelopment, {query}, err);
            for (const ForeignListener& listener : held) {
                err << terminalSafe(heldByOthersText(listener)) << '\n';
            }
        }
    } else {
        if (!shown.empty()) {
            out << portTable(shown, options.width);
        }
        if (!foreign.empty()) {
            out << (shown.empty() ? "" : "\n") << foreignListenerTable(foreign);
        }
    }
    return shown.empty() && foreign.empty() ? ExitStatus::nothingMatched : ExitStatus::ok;
}

namespace {

// The query words a kill takes, normalised; nothing after a usage error,
// which is written to `err`.
std::optional<std::vector<std::string>> killQueries(const KillOptions& options, std::ostream& err) {
    // A blank query matches every row; ending everything by accident is not an option.
    std::vector<std::string> queries;
    for (const std::string& word : options.query) {
        std::string query = normalizeQuery(word);
        // A kill never guesses: a number is a port, never part of a PID or a path.
        if (const std::optional<std::string> error = portQueryError(query)) {
            err << "halvo-cli kill: " << terminalSafe(*error) << '\n';
            return std::nullopt;
        }
        if (!query.empty()) {
            queries.push_back(std::move(query));
        }
    }
    if (queries.empty() && options.pids.empty()) {
        err << "halvo-cli kill: a query is required (a port, a list, a range, a text or --pid)\n";
        return std::nullopt;
    }
    return queries;
}

// The ids of the rows that any query or --pid selects.
std::set<std::string> selectedIds(const KillOptions& options,
                                  const std::vector<std::string>& queries,
                                  const std::vector<PortProcess>& all) {
    // --started and --pid pin a process; what is ended by stopping a
    // container has no start time of its own to match.
    std::set<std::string> ids;
    for (const std::string& query : queries) {
        for (const PortProcess& p : filterProcesses(all, query)) {
            if (!options.started || !p.stopsContainer()) {
                ids.insert(p.id());
            }
        }
    }
    const std::set<int32_t> pids(options.pids.begin(), options.pids.end());
    for (const PortProcess& p : all) {
        if (pids.contains(p.pid) && !p.stopsContainer()) {
            ids.insert(p.id());
        }
    }
    return ids;
}

void printDryRun(const std::vector<KillGroup>& groups, const KillOptions& options,
                 ProcessTreeReading* tree, std::ostream& out) {
    for (const KillGroup& group : groups) {
        for (const PortProcess& p : group.rows) {
            if (group.container) {
                out << "Would stop container " << terminalSafe(*group.container->containerName)
                    << " (:" << p.port << ")\n";
                continue;
            }
            if (group.supervisor) {
                out << "Would stop " << terminalSafe(supervisorStopTarget(*group.supervisor))
                    << " (:" << p.port << ")\n";
                continue;
            }
            out << "Would kill :" << p.port << ' ' << terminalSafe(p.executableName) << " PID "
                << p.pid << '\n';
        }
    }
    if (options.tree && tree != nullptr) {
        printTreeDryRun(groups, *tree, out);
    }
}

}  // namespace

ExitStatus runKill(const KillOptions& options, PortScanning& scanner, ProcessKilling& engine,
                   ContainerStopping& containers, std::ostream& out, std::ostream& err,
                   KillHelpers helpers) {
    const std::optional<std::vector<std::string>> queries = killQueries(options, err);
    if (!queries) {
        return ExitStatus::usage;
    }
    const PortScan scan = scanner.scanAll();
    // In list order, one group per process.
    const std::vector<KillGroup> groups = killGroups(
        scan.processes, selectedIds(options, *queries, scan.processes),
        options.noSupervisor ? SupervisorChoice::endProcess : SupervisorChoice::stopSupervisor);
    if (groups.empty()) {
        // A port that is taken is never reported as free: say whose it is.
        const std::vector<ForeignListener> held = foreignNamedByAny(scan.foreign, *queries);
        for (const ForeignListener& listener : held) {
            err << terminalSafe(heldByOthersText(listener)) << '\n';
        }
        if (!held.empty()) {
            return ExitStatus::notAllEnded;
        }
        err << kNoMatch << '\n';
        sayWhatTheFilterHid(scan.notDevelopment, *queries, err);
        return ExitStatus::nothingMatched;
    }
    if (options.dryRun) {
        printDryRun(groups, options, helpers.tree, out);
        return ExitStatus::ok;
    }

    const KillReport report =
        runKillSequence({groups, options.force ? KillMode::force : KillMode::graceful, options.tree,
                         options.started},
                        {engine, containers, helpers.tree, helpers.restarts, helpers.supervisors});
    for (const std::string& text : report.notEnded) {
        err << terminalSafe(text) << '\n';
    }
    if (report.allEnded && report.feedback) {
        out << terminalSafe(feedbackText(*report.feedback)) << '\n';
    } else if (report.feedback &&
               std::holds_alternative<feedback::PartialBatch>(*report.feedback)) {
        err << terminalSafe(feedbackText(*report.feedback)) << '\n';
    }
    return report.allEnded ? ExitStatus::ok : ExitStatus::notAllEnded;
}

}  // namespace halvo
