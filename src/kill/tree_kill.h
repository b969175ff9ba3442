// Ending a server's whole process tree: from its top development ancestor
// (`npm run dev` above `node` above its workers), children before parents,
// each process through the kill engine's own identity check.
#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "kill/process_killing.h"
#include "scan/process_tree.h"

namespace halvo {

// The targets that end the trees of `listeners`: every process under each
// listener's top development ancestor, deepest first, each once, each with
// the start time the tree read. A listener whose PID now names another
// process (its start time differs from the scanned one) stands alone with
// its scanned start time, so the engine finds it stale and nothing of a
// stranger's tree is touched.
std::vector<KillTarget> processTreeTargets(const ProcessTree& tree,
                                           const std::vector<KillTarget>& listeners,
                                           const DevelopmentCheck& isDevelopment);

struct TreeKillResult {
    std::vector<KillOutcome> listeners;  // one per listener, in their order
    // "Could not kill npm (PID 812): ..." for the other processes of the
    // trees that were not ended.
    std::vector<std::string> othersNotEnded;
};

// Reads the tree once, then ends every target with one killAll.
TreeKillResult killProcessTrees(ProcessKilling& engine, ProcessTreeReading& reader,
                                const std::vector<KillTarget>& listeners, KillMode mode,
                                std::stop_token stop = {},
                                const DevelopmentCheck& isDevelopment = systemDevelopmentCheck());

}  // namespace halvo
