#include "cli/commands.h"

#include <algorithm>
#include <set>

#include "base/text.h"
#include "cli/port_output.h"
#include "cli/terminal_text.h"
#include "kill/feedback.h"
#include "kill/foreign_listeners.h"
#include "kill/kill_batch.h"
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

// What a kill that did not end its target tells a terminal user.
std::string notEndedText(const PortProcess& target, const KillOutcome& outcome) {
    if (target.stopsContainer()) {
        return outcome.message;  // the stopper's own "Could not stop container NAME: ..."
    }
    const std::string which =
        ":" + std::to_string(target.port) + " (PID " + std::to_string(target.pid) + ")";
    if (outcome.kind == KillOutcome::Kind::stale) {
        return "Process on " + which + " changed since the scan \u2014 nothing sent";
    }
    return "Could not kill " + which + ": " + outcome.message;
}

// The rest of each process's tree, as a tree kill would end it.
void printTreeDryRun(const std::vector<KillGroup>& groups, ProcessTreeReading& reader,
                     std::ostream& out) {
    std::vector<KillTarget> listeners;
    std::set<int32_t> listed;
    for (const KillGroup& group : groups) {
        if (!group.container) {
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

ExitStatus runKill(const KillOptions& options, PortScanning& scanner, ProcessKilling& engine,
                   ContainerStopping& containers, std::ostream& out, std::ostream& err,
                   KillHelpers helpers) {
    // A blank query matches every row; ending everything by accident is not an option.
    std::vector<std::string> queries;
    for (const std::string& word : options.query) {
        std::string query = normalizeQuery(word);
        // A kill never guesses: a number is a port, never part of a PID or a path.
        if (const std::optional<std::string> error = portQueryError(query)) {
            err << "halvo-cli kill: " << terminalSafe(*error) << '\n';
            return ExitStatus::usage;
        }
        if (!query.empty()) {
            queries.push_back(std::move(query));
        }
    }
    if (queries.empty() && options.pids.empty()) {
        err << "halvo-cli kill: a query is required (a port, a list, a range, a text or --pid)\n";
        return ExitStatus::usage;
    }

    const PortScan scan = scanner.scanAll();
    const std::vector<PortProcess>& all = scan.processes;
    // --started pins a process; what is ended by stopping a container has no
    // start time of its own to match.
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
    // In list order, one group per process.
    const std::vector<KillGroup> groups = killGroups(all, ids);
    if (groups.empty()) {
        // A port that is taken is never reported as free: say whose it is.
        const std::vector<ForeignListener> held = foreignNamedByAny(scan.foreign, queries);
        for (const ForeignListener& listener : held) {
            err << terminalSafe(heldByOthersText(listener)) << '\n';
        }
        if (!held.empty()) {
            return ExitStatus::notAllEnded;
        }
        err << kNoMatch << '\n';
        sayWhatTheFilterHid(scan.notDevelopment, queries, err);
        return ExitStatus::nothingMatched;
    }
    if (options.dryRun) {
        for (const KillGroup& group : groups) {
            for (const PortProcess& p : group.rows) {
                if (group.container) {
                    out << "Would stop container " << terminalSafe(*group.container->containerName)
                        << " (:" << p.port << ")\n";
                    continue;
                }
                out << "Would kill :" << p.port << ' ' << terminalSafe(p.executableName) << " PID "
                    << p.pid << '\n';
            }
        }
        if (options.tree && helpers.tree != nullptr) {
            printTreeDryRun(groups, *helpers.tree, out);
        }
        return ExitStatus::ok;
    }

    std::vector<KillTarget> targets;
    for (const KillGroup& group : groups) {
        if (!group.container) {
            targets.push_back({group.pid, options.started.value_or(group.startTime)});
        }
    }
    const KillMode mode = options.force ? KillMode::force : KillMode::graceful;
    const ProcessStartTime killBegan = processClockNow();
    std::vector<KillOutcome> ended;
    bool othersEnded = true;
    if (options.tree && helpers.tree != nullptr) {
        TreeKillResult trees = killProcessTrees(engine, *helpers.tree, targets, mode);
        ended = std::move(trees.listeners);
        for (const std::string& text : trees.othersNotEnded) {
            err << terminalSafe(text) << '\n';
        }
        othersEnded = trees.othersNotEnded.empty();
    } else {
        ended = engine.killAll(targets, mode);
    }
    // Containers are stopped by Docker, one after another in list order.
    const std::vector<KillOutcome> outcomes =
        withContainersStopped(groups, std::move(ended), containers);
    BatchTally tally;
    for (size_t i = 0; i < groups.size(); ++i) {
        tally.record(groups[i], outcomes[i]);
        if (outcomes[i].kind != KillOutcome::Kind::killed) {
            err << terminalSafe(notEndedText(groups[i].rows.front(), outcomes[i])) << '\n';
        }
    }
    const bool allEnded = tally.failedCount() == 0 && othersEnded;
    if (allEnded && helpers.restarts != nullptr) {
        if (auto restarted = watchKilledRows(*helpers.restarts, tally.killedRows(), killBegan)) {
            out << terminalSafe(feedbackText(*restarted)) << '\n';
            return ExitStatus::ok;
        }
    }
    if (ids.size() == 1) {
        if (allEnded) {
            out << terminalSafe(feedbackText(
                       singleKillFeedback(groups.front().rows.front(), outcomes.front())))
                << '\n';
        }
    } else if (auto feedback = tally.feedback()) {
        (allEnded ? out : err) << terminalSafe(feedbackText(*feedback)) << '\n';
    }
    return allEnded ? ExitStatus::ok : ExitStatus::notAllEnded;
}

}  // namespace halvo
