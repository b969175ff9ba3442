#include "kill/kill_sequence.h"

#include <algorithm>

#include "kill/tree_kill.h"

namespace halvo {
namespace {

std::vector<int64_t> portsOf(const std::vector<PortProcess>& rows) {
    std::vector<int64_t> ports;
    for (const PortProcess& row : rows) {
        if (std::find(ports.begin(), ports.end(), row.port) == ports.end()) {
            ports.push_back(row.port);
        }
    }
    return ports;
}

// Every process of the request at once: the engine signals them all before
// it waits, so stubborn servers share one grace second, and workers that an
// earlier target took down count as ended, not as changed.
TreeKillResult endProcesses(const KillRequest& request, const KillParts& parts,
                            const std::vector<KillTarget>& targets, std::stop_token stop) {
    if (targets.empty()) {
        return {};
    }
    if (request.tree && parts.tree != nullptr) {
        return killProcessTrees(parts.engine, *parts.tree, targets, request.mode, std::move(stop));
    }
    return {parts.engine.killAll(targets, request.mode, std::move(stop)), {}};
}

// What the look at the freed ports found replaces the kill's own feedback.
void takeTheLookAfter(KillReport& report, RestartWatching& watch, BeforeKill before,
                      std::stop_token stop) {
    const std::vector<int64_t> ports = portsOf(report.killedRows);
    std::optional<Feedback> after = watch.watch(
        {ports, static_cast<int64_t>(ports.size()), std::move(before)}, std::move(stop));
    if (!after) {
        return;
    }
    report.needsReload = true;
    if (std::holds_alternative<feedback::StillHeld>(*after)) {
        // A port that is still taken is never reported free.
        report.allEnded = false;
        report.notEnded.push_back(feedbackText(*after) + "; --all includes it");
    }
    report.feedback = std::move(after);
}

}  // namespace

std::string notEndedText(const KillGroup& group, const KillOutcome& outcome) {
    if (group.container) {
        return outcome.message;  // the stopper's own "Could not stop container NAME: ..."
    }
    const std::string which =
        ":" + std::to_string(group.rows.front().port) + " (PID " + std::to_string(group.pid) + ")";
    if (outcome.kind == KillOutcome::Kind::stale) {
        return "Process on " + which + " changed since the scan \u2014 nothing sent";
    }
    return "Could not kill " + which + ": " + outcome.message;
}

KillReport runKillSequence(const KillRequest& request, const KillParts& parts,
                           std::stop_token stop) {
    std::vector<KillTarget> targets;
    std::vector<PortProcess> selected;
    for (const KillGroup& group : request.groups) {
        if (!group.container) {
            targets.push_back({group.pid, request.started.value_or(group.startTime)});
        }
        selected.insert(selected.end(), group.rows.begin(), group.rows.end());
    }
    // Who could start a server again is known only while it runs.
    BeforeKill before =
        parts.watch != nullptr ? parts.watch->before(targets, portsOf(selected)) : BeforeKill{};
    TreeKillResult ended = endProcesses(request, parts, targets, stop);

    KillReport report;
    // Containers are stopped by Docker, one after another in list order.
    report.outcomes =
        withContainersStopped(request.groups, std::move(ended.listeners), parts.containers);
    BatchTally tally;
    for (size_t i = 0; i < request.groups.size(); ++i) {
        tally.record(request.groups[i], report.outcomes[i]);
        if (report.outcomes[i].kind != KillOutcome::Kind::killed) {
            report.notEnded.push_back(notEndedText(request.groups[i], report.outcomes[i]));
        }
    }
    report.notEnded.insert(report.notEnded.end(), ended.othersNotEnded.begin(),
                           ended.othersNotEnded.end());
    report.killedRows = tally.killedRows();
    report.feedback = tally.feedback();
    report.allEnded = tally.failedCount() == 0 && ended.othersNotEnded.empty();
    // Other rows may have gone with a tree.
    const bool treeKill = request.tree && parts.tree != nullptr;
    report.needsReload = tally.needsReload() || (treeKill && !report.killedRows.empty());
    if (!ended.othersNotEnded.empty() && report.feedback) {
        // The user would take a supervisor that still runs for gone.
        report.feedback = feedback::Failure{feedbackText(*report.feedback) + " \u2014 " +
                                            ended.othersNotEnded[0]};
    }
    if (report.allEnded && parts.watch != nullptr && !report.killedRows.empty()) {
        takeTheLookAfter(report, *parts.watch, std::move(before), std::move(stop));
    }
    return report;
}

}  // namespace halvo
