#include "cli/commands.h"

#include <set>

#include "cli/port_output.h"
#include "cli/terminal_text.h"
#include "kill/feedback.h"
#include "kill/kill_batch.h"
#include "kill/search_filter.h"

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

}  // namespace

ExitStatus runList(const ListOptions& options, PortScanning& scanner, std::ostream& out,
                   std::ostream& err) {
    const std::vector<PortProcess> all = scanner.scan();
    const std::vector<PortProcess> shown = filterProcesses(all, joined(options.query));
    if (options.json) {
        out << portProcessesJson(shown) << '\n';
    } else if (shown.empty()) {
        err << (all.empty() ? kNothingListening : kNoMatch) << '\n';
    } else {
        out << portTable(shown);
    }
    return shown.empty() ? ExitStatus::nothingMatched : ExitStatus::ok;
}

ExitStatus runKill(const KillOptions& options, PortScanning& scanner, KillEngineProtocol& engine,
                   std::ostream& out, std::ostream& err) {
    const std::string query = joined(options.query);
    // A blank query matches every row; ending everything by accident is not an option.
    if (normalizeQuery(query).empty()) {
        err << "halvo-cli kill: a query is required (a port, a list, a range or a text)\n";
        return ExitStatus::usage;
    }
    const std::vector<PortProcess> targets = filterProcesses(scanner.scan(), query);
    if (targets.empty()) {
        err << kNoMatch << '\n';
        return ExitStatus::nothingMatched;
    }
    if (options.dryRun) {
        for (const PortProcess& p : targets) {
            out << "Would kill :" << p.port << ' ' << terminalSafe(p.executableName) << " PID "
                << p.pid << '\n';
        }
        return ExitStatus::ok;
    }

    const KillMode mode = options.force ? KillMode::force : KillMode::safe;
    if (targets.size() == 1) {
        const PortProcess& target = targets.front();
        const KillOutcome outcome = engine.kill(target.pid, target.startTime, mode);
        const bool killed = outcome.kind == KillOutcome::Kind::killed;
        (killed ? out : err) << terminalSafe(feedbackText(singleKillFeedback(target.port, outcome)))
                             << '\n';
        return killed ? ExitStatus::ok : ExitStatus::notAllEnded;
    }

    std::set<std::string> ids;
    for (const PortProcess& p : targets) {
        ids.insert(p.id());
    }
    BatchTally tally;
    for (const KillGroup& group : killGroups(targets, ids)) {
        tally.record(group, engine.kill(group.pid, group.startTime, mode));
    }
    const bool allEnded = tally.failedCount() == 0;
    if (auto feedback = tally.feedback()) {
        (allEnded ? out : err) << terminalSafe(feedbackText(*feedback)) << '\n';
    }
    return allEnded ? ExitStatus::ok : ExitStatus::notAllEnded;
}

}  // namespace halvo
