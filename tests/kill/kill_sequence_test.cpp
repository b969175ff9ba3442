// The kill sequence every front end shares: what it ends, what it says, and
// the look at the freed ports afterwards, over fakes the test scripts.
#include "kill/kill_sequence.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "support/fixtures.h"

namespace halvo::testing {
namespace {

// Answers the look after the kill as told, and remembers what it was asked.
class ToldWatch final : public RestartWatching {
  public:
    BeforeKill before(const std::vector<KillTarget>& targets,
                      const std::vector<int64_t>&) override {
        return {targets.empty() ? std::vector<KillTarget>{}
                                : std::vector<KillTarget>{{targets[0].pid + 1, {}}},
                {}};
    }
    std::optional<Feedback> watch(const FreedPorts& freed, std::stop_token) override {
        asked = freed;
        return answer;
    }
    std::optional<Feedback> answer;
    std::optional<FreedPorts> asked;
};

TEST(KillSequenceTest, OutcomesAddUpByPort) {
    const KillOutcome refused = KillOutcome::failed("Operation not permitted");
    const struct Case {
        std::vector<PortProcess> rows;
        std::map<int32_t, KillOutcome> outcomes;
        std::optional<Feedback> afterwards;
        std::string said;
        std::vector<std::string> notEnded;
    } cases[] = {
        // A master and its workers hold one port.
        {{row(1, 3000), row(2, 3000), row(3, 3000), row(4, 3000)},
         {},
         {},
         "Killed :3000 (4 processes)",
         {}},
        {{row(1, 3000), row(2, 3001)},
         {{2, refused}},
         {},
         "Killed 1, failed 1: Operation not permitted",
         {"Could not kill :3001 (PID 2): Operation not permitted"}},
        {{row(1, 3000)},
         {{1, KillOutcome::stale()}},
         {},
         "Process on :3000 changed since last scan \u2014 list refreshed",
         {"Process on :3000 (PID 1) changed since the scan \u2014 nothing sent"}},
        // A worker left on the port: the port is not free.
        {{row(1, 3000), row(2, 3000)},
         {{2, refused}},
         {},
         "Operation not permitted",
         {"Could not kill :3000 (PID 2): Operation not permitted"}},
        {{containerRow(5432, "db")}, {}, {}, "Stopped container db (:5432)", {}},
        {{containerRow(5432, "broken")},
         {},
         {},
         "Could not stop container broken: gone",
         {"Could not stop container broken: gone"}},
        {{row(1, 3000)},
         {},
         feedback::StillHeld{3000, {"cat", 9}},
         "Port 3000 is still held by cat (PID 9), which shares its socket",
         {"Port 3000 is still held by cat (PID 9), which shares its socket; --all includes it"}},
        {{row(1, 3000)},
         {},
         feedback::Restarted{1, 3000, {"node", 5}, feedback::Listener{"nodemon", 4}},
         "Killed :3000 \u2014 restarted by nodemon (PID 4) as node (PID 5)",
         {}},
    };
    for (const Case& c : cases) {
        RecordingEngine engine;
        engine.outcomes = c.outcomes;
        RecordingStopper stopper;
        ToldWatch watch;
        watch.answer = c.afterwards;
        std::set<std::string> ids;
        for (const PortProcess& p : c.rows) {
            ids.insert(p.id());
        }
        const KillReport report =
            runKillSequence({killGroups(c.rows, ids)}, {engine, stopper, nullptr, &watch});
        ASSERT_TRUE(report.feedback);
        EXPECT_EQ(feedbackText(*report.feedback), c.said);
        EXPECT_EQ(report.notEnded, c.notEnded) << c.said;
        // A failure is never reported as success.
        EXPECT_EQ(report.allEnded, c.notEnded.empty()) << c.said;
        // Only a kill that ended everything looks at its ports, with who
        // could restart them as they were before it.
        EXPECT_EQ(watch.asked.has_value(), c.notEnded.empty() || c.afterwards) << c.said;
        // What the look found is shown over a list that shows it too.
        EXPECT_TRUE(!c.afterwards || report.needsReload) << c.said;
        if (watch.asked && c.rows.front().pid > 0) {
            EXPECT_EQ(watch.asked->before.restarters.at(0).pid, c.rows.front().pid + 1);
        }
    }
}

class TableTree final : public ProcessTreeReading {
  public:
    std::optional<ProcessTreeEntry> entry(int32_t pid) override {
        std::lock_guard lock(mutex);
        const auto found = table.find(pid);
        return found == table.end() ? std::nullopt : std::optional(found->second);
    }
    std::vector<ProcessTreeEntry> entries() override { return {}; }
    std::mutex mutex;
    std::map<int32_t, ProcessTreeEntry> table;
};

class TableDiscovery final : public PortDiscovering {
  public:
    std::vector<LsofRow> rows() override { return listeners; }
    std::vector<LsofRow> listeners;
};

ProcessTreeEntry process(int32_t pid, int32_t parent, const char* name, int64_t started) {
    return {pid, parent, 1, 1, 1000, {started, 0}, name};
}

// The look after a kill: once when nothing could restart the server, and
// on while something that could still runs; a socket that outlived the kill
// is shared, a new one is a restart.
TEST(RestartWatchTest, LooksOnlyWhileARestarterLives) {
    auto tree = std::make_shared<TableTree>();
    auto discovery = std::make_shared<TableDiscovery>();
    std::atomic<int> looks = 0;
    ListeningSockets sockets{{7, {3000, 1000}}};  // the killed server's, inherited by cat
    RestartWatch watch(
        {[&] {
             ++looks;
             std::lock_guard lock(tree->mutex);
             return sockets;
         },
         discovery, tree, [](int32_t) { return std::vector<std::string>{"node"}; }, 1000,
         std::chrono::milliseconds(2000), std::chrono::milliseconds(1),
         [](int32_t pid) {
             return pid == 61 ? std::optional(Supervisor{{}, "web.service"}) : std::nullopt;
         }});
    tree->table = {{40, process(40, 10, "node", 80)},
                   {50, process(50, 10, "nodemon", 90)},
                   {60, process(60, 50, "node", 200)},
                   {61, process(61, 50, "node", 201)},
                   {70, process(70, 40, "cat", 95)}};
    FreedPorts freed{{3000}, 1, watch.before({{40, {80, 0}}}, {3000})};
    EXPECT_EQ(freed.before.sockets, std::set<uint64_t>{7});
    EXPECT_TRUE(freed.before.restarters.empty());  // 10 is not in the table
    // node (60) was started by nodemon, which could start it again.
    EXPECT_EQ(watch.before({{60, {200, 0}}}, {3000}).restarters.size(), 1u);

    discovery->listeners = {{70, "cat", 3000}};
    EXPECT_EQ(watch.watch(freed), Feedback(feedback::StillHeld{3000, {"cat", 70}}));
    // Nothing could bring it back: one look.
    sockets = {};
    looks = 0;
    EXPECT_EQ(watch.watch(freed), std::nullopt);
    EXPECT_EQ(looks, 1);

    // nodemon lives and starts node (60) again on a socket of its own.
    freed.before.restarters = {{50, {90, 0}}};
    std::thread restarter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard lock(tree->mutex);
        sockets = {{8, {3000, 1000}}};
    });
    discovery->listeners = {{60, "node", 3000}};
    EXPECT_EQ(watch.watch(freed), Feedback(feedback::Restarted{
                                      1, 3000, {"node", 60}, feedback::Listener{"nodemon", 50}}));
    restarter.join();
    // Under a unit or pm2 app, that is what the user stops.
    discovery->listeners = {{61, "node", 3000}};
    EXPECT_EQ(feedbackText(*watch.watch(freed)), "Killed :3000 \u2014 restarted by web.service");

    // A restarter that has ended (or is another process now) ends the look.
    sockets = {};
    looks = 0;
    freed.before.restarters = {{50, {91, 0}}};
    EXPECT_EQ(watch.watch(freed), std::nullopt);
    EXPECT_EQ(looks, 1);
}

}  // namespace
}  // namespace halvo::testing
