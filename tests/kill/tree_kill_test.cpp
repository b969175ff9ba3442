// Which processes a tree kill targets, over a table the test writes.
#include <gtest/gtest.h>

#include "kill/tree_kill.h"

namespace halvo {
namespace {

ProcessTreeEntry process(int32_t pid, int32_t parent, const char* name) {
    return {pid, parent, 100, 200, 1000, {1'700'000'000, pid}, name};
}

using Targets = std::vector<std::pair<int32_t, ProcessStartTime>>;

Targets pairs(const std::vector<KillTarget>& targets) {
    Targets result;
    for (const KillTarget& t : targets) {
        result.emplace_back(t.pid, t.startTime);
    }
    return result;
}

TEST(TreeKillTest, TargetsTheTreeOnlyOfAListenerThatIsStillItself) {
    const ProcessTree tree({process(100, 1, "bash"), process(200, 100, "npm"),
                            process(202, 200, "node"), process(203, 202, "node"),
                            process(300, 100, "npm"), process(302, 300, "node")});
    const auto anything = [](const ProcessTreeEntry&) { return true; };
    // 202 as scanned; 302's PID now names a process that started later.
    const KillTarget server{202, {1'700'000'000, 202}};
    const KillTarget recycled{302, {1'600'000'000, 0}};
    // Deepest first, each once; the stranger alone, as scanned, for the engine to refuse.
    EXPECT_EQ(pairs(processTreeTargets(tree, {recycled, server, server}, anything)),
              (Targets{{203, {1'700'000'000, 203}},
                       {202, {1'700'000'000, 202}},
                       {200, {1'700'000'000, 200}},
                       {302, {1'600'000'000, 0}}}));
}

}  // namespace
}  // namespace halvo
