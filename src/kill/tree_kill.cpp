#include "kill/tree_kill.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace halvo {

namespace {

// Levels from init down to `pid`, as far as the table reaches.
size_t depthOf(const ProcessTree& tree, int32_t pid) {
    size_t levels = 0;
    std::unordered_set<int32_t> seen;  // a table read while it changed may loop
    for (const ProcessTreeEntry* p = tree.find(pid); p != nullptr && seen.insert(p->pid).second;
         p = tree.parent(p->pid)) {
        ++levels;
    }
    return levels;
}

}  // namespace

std::vector<KillTarget> processTreeTargets(const ProcessTree& tree,
                                           const std::vector<KillTarget>& listeners,
                                           const DevelopmentCheck& isDevelopment) {
    std::unordered_set<int32_t> listed;
    std::vector<std::pair<size_t, KillTarget>> members;  // depth, target
    std::vector<KillTarget> lone;                        // listeners whose tree cannot be trusted
    for (const KillTarget& listener : listeners) {
        const ProcessTreeEntry* entry = tree.find(listener.pid);
        if (entry == nullptr || entry->startTime != listener.startTime) {
            if (listed.insert(listener.pid).second) {
                lone.push_back(listener);
            }
            continue;
        }
        const int32_t top = tree.topDevelopmentAncestor(listener.pid, isDevelopment);
        for (const ProcessTreeEntry& member : tree.subtree(top)) {
            if (listed.insert(member.pid).second) {
                members.push_back({depthOf(tree, member.pid), {member.pid, member.startTime}});
            }
        }
    }
    // Several trees, one of them perhaps inside another: deepest first over all.
    std::stable_sort(members.begin(), members.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<KillTarget> targets;
    targets.reserve(members.size() + lone.size());
    for (const auto& [depth, target] : members) {
        targets.push_back(target);
    }
    targets.insert(targets.end(), lone.begin(), lone.end());
    return targets;
}

TreeKillResult killProcessTrees(ProcessKilling& engine, ProcessTreeReading& reader,
                                const std::vector<KillTarget>& listeners, KillMode mode,
                                std::stop_token stop, const DevelopmentCheck& isDevelopment) {
    const ProcessTree tree(reader.entries());
    const std::vector<KillTarget> targets = processTreeTargets(tree, listeners, isDevelopment);
    const std::vector<KillOutcome> outcomes = engine.killAll(targets, mode, stop);

    std::unordered_map<int32_t, size_t> indexOf;
    for (size_t i = 0; i < targets.size(); ++i) {
        indexOf.emplace(targets[i].pid, i);
    }
    TreeKillResult result;
    std::unordered_set<int32_t> listenerPids;
    for (const KillTarget& listener : listeners) {
        listenerPids.insert(listener.pid);
        const auto found = indexOf.find(listener.pid);
        result.listeners.push_back(found != indexOf.end() && found->second < outcomes.size()
                                       ? outcomes[found->second]
                                       : KillOutcome::failed("not signalled"));
    }
    for (size_t i = 0; i < targets.size() && i < outcomes.size(); ++i) {
        // A member that is no longer the process the tree read (it exited,
        // was reaped or is a zombie) has nothing left to end.
        if (listenerPids.contains(targets[i].pid) ||
            outcomes[i].kind != KillOutcome::Kind::failed) {
            continue;
        }
        const ProcessTreeEntry* entry = tree.find(targets[i].pid);
        const std::string which = (entry ? entry->name : std::string("process")) + " (PID " +
                                  std::to_string(targets[i].pid) + ")";
        result.othersNotEnded.push_back("Could not kill " + which + ": " + outcomes[i].message);
    }
    return result;
}

}  // namespace halvo
