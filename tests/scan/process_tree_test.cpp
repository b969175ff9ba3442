// The walks of a tree kill over a table the test writes: how far up a
// server's tree reaches, the order its processes end in, and which runners
// let it grow upwards.
#include <gtest/gtest.h>

#include "scan/process_tree.h"

namespace halvo {
namespace {

constexpr uint32_t kMe = 1000;

// Each case's processes share a job: the process group of their hundred.
ProcessTreeEntry process(int32_t pid, int32_t parent, const char* name, int32_t session = 100,
                         uint32_t uid = kMe, int32_t group = -1) {
    return {pid, parent, session, group < 0 ? pid / 100 * 100 : group, uid, {1'700'000'000, pid},
            name};
}

// A terminal's shell (the session leader) runs `npm run dev`, whose script
// shell runs the server with two workers; beside it, the other ways a walk
// up must stop, each at a listener whose parent does not qualify.
TEST(ProcessTreeTest, WalksUpAndDownStopWhereTheServerEnds) {
    const ProcessTree tree({
        process(1, 0, "systemd", 1, 0),
        process(50, 1, "gnome-terminal-", 50),
        process(100, 50, "bash"),
        process(200, 100, "npm run dev"),
        process(201, 200, "sh"),
        process(202, 201, "node"),
        process(203, 202, "node"),
        process(205, 203, "node"),
        process(206, 202, "helper", 100, 0),  // setuid: not ours
        process(207, 206, "node"),
        process(208, 202, "bash", 208),  // a terminal the server opened, its own session
        process(209, 208, "vim", 208),
        process(211, 202, "node", 100, kMe, 211),  // a job of its own under the server
        process(400, 100, "node", 100, 0),         // another user's
        process(401, 400, "node"),
        process(500, 100, "make"),  // not a development process
        process(501, 500, "node"),
        process(600, 100, "bash"),  // a nested interactive shell
        process(601, 600, "node"),
        process(900, 100, "node"),
        process(901, 900, "node", 100, kMe, 901),  // a job of its own
        process(950, 100, "vim"),                  // `:!npm run dev` from an editor
        process(951, 950, "npm"),
    });
    const auto notMake = [](const ProcessTreeEntry& entry) { return entry.name != "make"; };
    EXPECT_EQ(tree.topDevelopmentAncestor(202, notMake), 200)
        << "crosses npm's script shell, stops below the terminal's shell";
    for (int32_t listener : {401, 501, 601, 901, 951, 999}) {
        EXPECT_EQ(tree.topDevelopmentAncestor(listener, notMake), listener);
    }
    // Deepest first.
    std::vector<int32_t> pids;
    for (const ProcessTreeEntry& entry : tree.subtree(200)) {
        pids.push_back(entry.pid);
    }
    // 206 is root's, 208 leads a session of its own and 211 is another job:
    // what they started is out of reach with them.
    EXPECT_EQ(pids, (std::vector<int32_t>{205, 203, 202, 201, 200}));
}

// Only a known runner lets a tree grow upwards: being wrong ends the process
// the user works in.
TEST(ProcessTreeTest, ServerRunnersAreKnownByName) {
    using Args = std::vector<std::string>;
    const struct {
        const char* name;
        Args arguments;
        bool runner;
    } cases[] = {
        {"npm run dev", {"npm run dev"}, true},  // npm's own title
        {"node", {"node", "/usr/lib/node_modules/nodemon/bin/nodemon.js"}, true},
        {"python3.11", {"python3.11", "manage.py", "runserver"}, true},
        {"node", {"node"}, false},                                       // a prompt
        {"ipython3", {"/usr/bin/python3", "/usr/bin/ipython3"}, false},  // named for its script
        {"python3", {"python3", "-m", "http.server"}, true},
        // Prompts that started a server hold the user's session state.
        {"python3", {"python3", "-i"}, false},
        {"node", {"node", "--inspect"}, false},
        {"python3", {"python3", "-m", "ipykernel_launcher", "-f", "k.json"}, false},
        {"python3", {"python3", "-c", "import subprocess"}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isServerRunner(c.name, c.arguments), c.runner) << c.name;
    }
}

}  // namespace
}  // namespace halvo
