// The list and kill commands against a scripted scanner and kill engine: what
// they print and the exit status scripts rely on.
#include "cli/commands.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace halvo {
namespace {

class ScriptedScanner final : public PortScanning {
  public:
    explicit ScriptedScanner(std::vector<PortProcess> rows) : rows_(std::move(rows)) {}
    std::vector<PortProcess> scan() override { return rows_; }
    std::vector<LsofRow> discoverRows() override { return {}; }
    std::vector<PortProcess> processes(const std::vector<LsofRow>&) override { return rows_; }

  private:
    std::vector<PortProcess> rows_;
};

class ScriptedEngine final : public KillEngineProtocol {
  public:
    KillOutcome kill(int32_t pid, const ProcessStartTime& startTime, KillMode mode,
                     std::stop_token) override {
        calls.push_back({pid, startTime, mode});
        auto it = outcomes.find(pid);
        return it == outcomes.end() ? KillOutcome::killed() : it->second;
    }
    struct Call {
        int32_t pid;
        ProcessStartTime startTime;
        KillMode mode;
    };
    std::vector<Call> calls;
    std::map<int32_t, KillOutcome> outcomes;
};

PortProcess row(int32_t pid, int64_t port, std::string name = "node") {
    PortProcess p;
    p.pid = pid;
    p.port = port;
    p.startTime = {100, pid};
    p.executableName = name;
    p.executablePath = "/usr/bin/" + name;
    p.arguments = {name, "server.js"};
    p.workingDirectory = "/home/ana/shop";
    return p;
}

struct Run {
    ExitStatus status;
    std::string out;
    std::string err;
};

Run list(std::vector<PortProcess> rows, ListOptions options) {
    ScriptedScanner scanner(std::move(rows));
    std::ostringstream out;
    std::ostringstream err;
    ExitStatus status = runList(options, scanner, out, err);
    return {status, out.str(), err.str()};
}

Run kill(std::vector<PortProcess> rows, ScriptedEngine& engine, KillOptions options) {
    ScriptedScanner scanner(std::move(rows));
    std::ostringstream out;
    std::ostringstream err;
    ExitStatus status = runKill(options, scanner, engine, out, err);
    return {status, out.str(), err.str()};
}

TEST(ListCommandTest, TableAndEmptyResults) {
    auto shown = list({row(812, 3000), row(900, 5173, "python3")}, {{"5173"}, false});
    EXPECT_EQ(shown.status, ExitStatus::ok);
    EXPECT_EQ(shown.out,
              "PORT  PID  PROCESS  PROJECT  BADGE  COMMAND\n"
              "5173  900  python3  shop            python3 server.js\n");

    auto nothing = list({}, {});
    EXPECT_EQ(nothing.status, ExitStatus::nothingMatched);
    EXPECT_EQ(nothing.err, "Nothing listening right now.\n");
    EXPECT_TRUE(nothing.out.empty());

    auto noMatch = list({row(812, 3000)}, {{"4000"}, false});
    EXPECT_EQ(noMatch.status, ExitStatus::nothingMatched);
    EXPECT_EQ(noMatch.err, "No matching ports.\n");

    auto noMatchJson = list({row(812, 3000)}, {{"4000"}, true});
    EXPECT_EQ(noMatchJson.status, ExitStatus::nothingMatched);
    EXPECT_EQ(noMatchJson.out, "[]\n");
}

TEST(ListCommandTest, QueryWordsAreJoined) {
    auto shown = list({row(1, 3000), row(2, 5173), row(3, 8080)}, {{"3000", "8080"}, false});
    EXPECT_NE(shown.out.find("3000"), std::string::npos);
    EXPECT_NE(shown.out.find("8080"), std::string::npos);
    EXPECT_EQ(shown.out.find("5173"), std::string::npos);
}

TEST(KillCommandTest, SingleRowGivesTheSingleKillTexts) {
    ScriptedEngine engine;
    auto killed = kill({row(812, 3000), row(900, 5173)}, engine, {{"3000"}, false, false});
    EXPECT_EQ(killed.status, ExitStatus::ok);
    EXPECT_EQ(killed.out, "Killed :3000\n");
    ASSERT_EQ(engine.calls.size(), 1u);
    EXPECT_EQ(engine.calls[0].pid, 812);
    EXPECT_EQ(engine.calls[0].startTime, (ProcessStartTime{100, 812}));
    EXPECT_EQ(engine.calls[0].mode, KillMode::safe);

    ScriptedEngine staleEngine;
    staleEngine.outcomes[812] = KillOutcome::stale();
    auto stale = kill({row(812, 3000)}, staleEngine, {{"3000"}, true, false});
    EXPECT_EQ(stale.status, ExitStatus::notAllEnded);
    EXPECT_EQ(staleEngine.calls[0].mode, KillMode::force);
    EXPECT_EQ(stale.err, "Process on :3000 changed since last scan \xE2\x80\x94 list refreshed\n");

    ScriptedEngine refusing;
    refusing.outcomes[812] = KillOutcome::failed("Operation not permitted");
    auto refused = kill({row(812, 3000)}, refusing, {{"3000"}, false, false});
    EXPECT_EQ(refused.status, ExitStatus::notAllEnded);
    EXPECT_EQ(refused.err, "Operation not permitted\n");
}

TEST(KillCommandTest, SeveralRowsAreABatchInListOrder) {
    ScriptedEngine engine;
    auto all = kill({row(812, 3000), row(812, 3001), row(77, 5432)}, engine,
                    {{"3000-3001,5432"}, false, false});
    EXPECT_EQ(all.status, ExitStatus::ok);
    EXPECT_EQ(all.out, "Killed 3 ports\n");
    ASSERT_EQ(engine.calls.size(), 2u);
    EXPECT_EQ(engine.calls[0].pid, 812);
    EXPECT_EQ(engine.calls[1].pid, 77);

    ScriptedEngine partial;
    partial.outcomes[77] = KillOutcome::failed("Operation not permitted");
    auto some = kill({row(812, 3000), row(77, 5432)}, partial, {{"node"}, false, false});
    EXPECT_EQ(some.status, ExitStatus::notAllEnded);
    EXPECT_EQ(some.err, "Killed 1, failed 1: Operation not permitted\n");
}

TEST(KillCommandTest, DryRunBlankQueriesAndMissesSignalNothing) {
    ScriptedEngine engine;
    auto dry = kill({row(812, 3000), row(77, 5432)}, engine, {{"node"}, false, true});
    EXPECT_EQ(dry.status, ExitStatus::ok);
    EXPECT_EQ(dry.out, "Would kill :3000 node PID 812\nWould kill :5432 node PID 77\n");

    auto blank = kill({row(812, 3000)}, engine, {{" ", ""}, false, false});
    EXPECT_EQ(blank.status, ExitStatus::usage);
    auto ideographicSpace = kill({row(812, 3000)}, engine, {{"\xE3\x80\x80\n"}, false, false});
    EXPECT_EQ(ideographicSpace.status, ExitStatus::usage);
    auto separators = kill({row(812, 3000)}, engine, {{",;"}, false, false});
    EXPECT_EQ(separators.status, ExitStatus::nothingMatched);  // searched as text

    auto miss = kill({row(812, 3000)}, engine, {{"4000"}, false, false});
    EXPECT_EQ(miss.status, ExitStatus::nothingMatched);
    EXPECT_EQ(miss.err, "No matching ports.\n");
    EXPECT_TRUE(engine.calls.empty());
}

}  // namespace
}  // namespace halvo
