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
std::vector<std::string> whatTheFilterHid(const std::vector<LsofRow>& hidden,
                                          const std::vector<std::string>& queries) {
    std::vector<std::string> texts;
    std::set<std::pair<int64_t, int32_t>> said;
    for (const std::string& query : queries) {
        for (const LsofRow& row : hiddenListenersMatching(hidden, query)) {
            if (said.emplace(row.port, row.pid).second) {
                texts.push_back(notDevelopmentText(row) + "; --all includes it");
            }
        }
    }
    return texts;
}

// The rows of `leftAlone` that a query or a PID selects, in list order.
std::vector<LeftAloneRow> leftAloneSelected(const std::vector<LeftAloneRow>& leftAlone,
                                            const std::vector<std::string>& queries,
                                            const std::vector<int32_t>& pids) {
    std::vector<PortProcess> rows;
    for (const LeftAloneRow& left : leftAlone) {
        rows.push_back(left.row);
    }
    std::set<std::string> ids;
    for (const std::string& query : queries) {
        for (const PortProcess& p : filterProcesses(rows, query)) {
            ids.insert(p.id());
        }
    }
    std::vector<LeftAloneRow> selected;
    for (const LeftAloneRow& left : leftAlone) {
        if (ids.contains(left.row.id()) ||
            std::find(pids.begin(), pids.end(), left.row.pid) != pids.end()) {
            selected.push_back(left);
        }
    }
    return selected;
}

// The rest of each process's tree, as a tree kill would end it.
void treeDryRun(const std::vector<KillGroup>& groups, ProcessTreeReading& reader,
                std::vector<std::string>& out) {
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
        out.push_back("Would kill " + (entry ? entry->name : std::string("process")) + " PID " +
                      std::to_string(target.pid) + " (process tree)");
    }
}

void printLines(const std::vector<std::string>& lines, std::ostream& stream) {
    for (const std::string& line : lines) {
        stream << terminalSafe(line) << '\n';
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

ListResult listServers(const ListOptions& options, PortScanning& scanner) {
    const std::string query = joined(options.query);
    PortScan scan = scanner.scanAll();
    const std::vector<LeftAloneRow> leftAlone =
        options.all ? std::vector<LeftAloneRow>{}
                    : takeLeftAlone(scan.processes, options.leaveAlone);
    std::vector<std::string> hidden = whatTheFilterHid(scan.notDevelopment, {query});
    if (!normalizeQuery(query).empty()) {
        for (const LeftAloneRow& left : leftAloneSelected(leftAlone, {query}, {})) {
            hidden.push_back(leftAloneText(left) + "; --all includes it");
        }
    }
    return {filterProcesses(scan.processes, query), foreignListenersMatching(scan.foreign, query),
            std::move(hidden), normalizeQuery(query).empty()};
}

ExitStatus printList(const ListResult& result, const ListOptions& options, std::ostream& out,
                     std::ostream& err) {
    const std::vector<PortProcess>& shown = result.shown;
    // Without --all the listeners of others are no rows, yet a port they hold is named.
    const std::vector<ForeignListener> foreign =
        options.all ? result.held : std::vector<ForeignListener>{};
    if (options.json) {
        out << (options.all ? portScanJson(shown, foreign) : portProcessesJson(shown)) << '\n';
    } else if (shown.empty() && foreign.empty()) {
        if (result.blankQuery) {
            err << kNothingListening << '\n';
        } else {
            // A port that is taken is never reported as free: say whose it is.
            err << kNoMatch << '\n';
            printLines(result.hidden, err);
            for (const ForeignListener& listener : result.held) {
                err << terminalSafe(heldByOthersText(listener)) << '\n';
            }
        }
    } else {
        if (!shown.empty()) {
            out << portTable(shown, options.width,
                             options.wide ? std::optional(processClockNow()) : std::nullopt);
        }
        if (!foreign.empty()) {
            out << (shown.empty() ? "" : "\n") << foreignListenerTable(foreign);
        }
    }
    return shown.empty() && foreign.empty() ? ExitStatus::nothingMatched : ExitStatus::ok;
}

ExitStatus runList(const ListOptions& options, PortScanning& scanner, std::ostream& out,
                   std::ostream& err) {
    return printList(listServers(options, scanner), options, out, err);
}

namespace {

// The query words a kill takes, normalised; nothing after a usage error,
// whose text goes to `error`.
std::optional<std::vector<std::string>> killQueries(const KillOptions& options,
                                                    std::string& error) {
    // A blank query matches every row; ending everything by accident is not an option.
    std::vector<std::string> queries;
    for (const std::string& word : options.query) {
        std::string query = normalizeQuery(word);
        // A kill never guesses: a number is a port, never part of a PID or a path.
        if (const std::optional<std::string> why = portQueryError(query)) {
            error = *why;
            return std::nullopt;
        }
        if (!query.empty()) {
            queries.push_back(std::move(query));
        }
    }
    if (queries.empty() && options.pids.empty()) {
        error = "a query is required (a port, a list, a range, a text or --pid)";
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

KillRowResult rowResult(const KillGroup& group, const PortProcess& row, KillRowStatus status,
                        std::string text = {}) {
    if (group.container) {
        return {status,       row.port,
                std::nullopt, group.container->containerName.value_or(""),
                std::nullopt, std::move(text)};
    }
    return {status, row.port, row.pid, row.executableName, row.startTime, std::move(text)};
}

// A dry run refuses what the kill would: a process that did not start at --started.
void dryRun(const std::vector<KillGroup>& groups, const KillOptions& options,
            ProcessTreeReading* tree, KillResult& result) {
    for (const KillGroup& group : groups) {
        const bool changed =
            !group.container && options.started && group.startTime != *options.started;
        for (const PortProcess& p : group.rows) {
            if (changed) {
                result.err.push_back(notEndedText(group, KillOutcome::stale()));
                result.rows.push_back(
                    rowResult(group, p, KillRowStatus::changed, result.err.back()));
                result.status = ExitStatus::notAllEnded;
                break;
            }
            if (group.supervisor) {
                result.out.push_back("Would stop " + supervisorStopTarget(*group.supervisor) +
                                     " (:" + std::to_string(p.port) + ")");
                result.rows.push_back(
                    rowResult(group, p, KillRowStatus::wouldStop, result.out.back()));
                continue;
            }
            result.out.push_back(group.container
                                     ? "Would stop container " + *group.container->containerName +
                                           " (:" + std::to_string(p.port) + ")"
                                     : "Would kill :" + std::to_string(p.port) + ' ' +
                                           p.executableName + " PID " + std::to_string(p.pid));
            result.rows.push_back(rowResult(
                group, p, group.container ? KillRowStatus::wouldStop : KillRowStatus::wouldEnd,
                result.out.back()));
        }
    }
    if (options.tree && tree != nullptr) {
        treeDryRun(groups, *tree, result.out);
    }
}

KillRowStatus statusOf(const KillGroup& group, const KillOutcome& outcome) {
    switch (outcome.kind) {
        case KillOutcome::Kind::killed:
            return endsProcesses(group) ? KillRowStatus::ended : KillRowStatus::stopped;
        case KillOutcome::Kind::stale:
            return KillRowStatus::changed;
        case KillOutcome::Kind::failed:
            break;
    }
    return KillRowStatus::failed;
}

}  // namespace

KillResult killServers(const KillOptions& options, PortScanning& scanner, ProcessKilling& engine,
                       ContainerStopping& containers, KillHelpers helpers) {
    KillResult result;
    std::string error;
    const std::optional<std::vector<std::string>> queries = killQueries(options, error);
    if (!queries) {
        result.err.push_back(error);
        return result;
    }
    PortScan scan = scanner.scanAll();
    // Never a target, whatever selects it; said so, so that it is not taken for free.
    std::vector<std::string> refusals;
    for (const LeftAloneRow& left : leftAloneSelected(
             takeLeftAlone(scan.processes, options.leaveAlone), *queries, options.pids)) {
        refusals.push_back(leftAloneRefusal(left));
        result.rows.push_back({KillRowStatus::leftAlone, left.row.port,
                               left.row.isContainer() ? std::nullopt : std::optional(left.row.pid),
                               left.row.executableName, left.row.startTime, refusals.back()});
    }
    // In list order, one group per process.
    const std::vector<KillGroup> groups = killGroups(
        scan.processes, selectedIds(options, *queries, scan.processes),
        options.noSupervisor ? SupervisorChoice::endProcess : SupervisorChoice::stopSupervisor);
    if (groups.empty() && !refusals.empty()) {
        result.err = std::move(refusals);
        result.status = ExitStatus::nothingMatched;
        return result;
    }
    if (groups.empty()) {
        // A port that is taken is never reported as free: say whose it is.
        for (const ForeignListener& listener : foreignNamedByAny(scan.foreign, *queries)) {
            result.err.push_back(heldByOthersText(listener));
            result.rows.push_back({KillRowStatus::heldByOthers, listener.port, std::nullopt,
                                   listener.user, std::nullopt, result.err.back()});
        }
        if (!result.rows.empty()) {
            result.status = ExitStatus::notAllEnded;
            return result;
        }
        result.err.push_back(kNoMatch);
        const std::vector<std::string> hidden = whatTheFilterHid(scan.notDevelopment, *queries);
        result.err.insert(result.err.end(), hidden.begin(), hidden.end());
        result.status = ExitStatus::nothingMatched;
        return result;
    }
    result.status = ExitStatus::ok;
    result.err = refusals;
    if (options.dryRun) {
        dryRun(groups, options, helpers.tree, result);
        return result;
    }

    if (helpers.endings != nullptr) {
        helpers.endings->record(groups);
    }
    const KillReport report =
        runKillSequence({groups, options.force ? KillMode::force : KillMode::graceful, options.tree,
                         options.started},
                        {engine, containers, helpers.tree, helpers.restarts, helpers.supervisors});
    for (size_t i = 0; i < groups.size() && i < report.outcomes.size(); ++i) {
        const KillOutcome& outcome = report.outcomes[i];
        const KillRowStatus status = statusOf(groups[i], outcome);
        for (const PortProcess& p : groups[i].rows) {
            result.rows.push_back(rowResult(groups[i], p, status,
                                            outcome.kind == KillOutcome::Kind::killed
                                                ? std::string()
                                                : notEndedText(groups[i], outcome)));
        }
    }
    result.err.insert(result.err.end(), report.notEnded.begin(), report.notEnded.end());
    if (report.allEnded && report.feedback) {
        result.out.push_back(feedbackText(*report.feedback));
    } else if (report.feedback &&
               std::holds_alternative<feedback::PartialBatch>(*report.feedback)) {
        result.err.push_back(feedbackText(*report.feedback));
    }
    result.status = report.allEnded ? ExitStatus::ok : ExitStatus::notAllEnded;
    return result;
}

ExitStatus printKill(const KillResult& result, std::ostream& out, std::ostream& err) {
    if (result.status == ExitStatus::usage) {
        for (const std::string& line : result.err) {
            err << "halvo-cli kill: " << terminalSafe(line) << '\n';
        }
        return result.status;
    }
    printLines(result.out, out);
    printLines(result.err, err);
    return result.status;
}

ExitStatus runKill(const KillOptions& options, PortScanning& scanner, ProcessKilling& engine,
                   ContainerStopping& containers, std::ostream& out, std::ostream& err,
                   KillHelpers helpers) {
    return printKill(killServers(options, scanner, engine, containers, helpers), out, err);
}

}  // namespace halvo
