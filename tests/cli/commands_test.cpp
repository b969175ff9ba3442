// The list and kill commands against a scripted scanner and kill engine: what
// they select, print and exit with. Signals and real processes: cli_*_test.
#include "cli/commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <sstream>

#include "support/fixtures.h"

namespace halvo::testing {
namespace {

// Rootless Docker: the user's own forwarder holds a known container's port.
PortProcess forwarded(int64_t port, const std::string& name) {
    PortProcess p = row(805, port, "rootlesskit");
    p.dockerContext = DockerContext{name, std::nullopt, std::string(64, 'c')};
    return p;
}

// Servers whose PIDs look like ports and whose paths hold numbers, two
// containers (no PID) and a port rootless Docker forwards.
const std::vector<PortProcess> kRows{row(3000, 5173),
                                     row(812, 3000),
                                     row(812, 3001),
                                     containerRow(5432, "db"),
                                     containerRow(5433, "broken"),
                                     forwarded(5434, "cache"),
                                     row(77, 8000, "python3"),
                                     row(9000, 8080)};

struct Result {
    ExitStatus status;
    std::string out;
    std::string err;
    bool operator==(const Result&) const = default;
};

void PrintTo(const Result& r, std::ostream* os) {
    *os << static_cast<int>(r.status) << " out: " << r.out << " err: " << r.err;
}

// Another user's database, a sandboxed server of ours, and a hostile login name.
const std::vector<ForeignListener> kForeign{
    {5439, 105, "mysql"}, {8081, getuid(), "ana"}, {9999, 4000000, "ev\x1B]0;il"}};
// Listeners of ours that are no development servers; one hostile name.
const std::vector<LsofRow> kNotDevelopment{{4321, "postgres", 4000}, {4322, "ev\x1B]0;il", 4001}};

// What a command says over a scanner of `rows` and the listeners above.
template <class Command>
Result run(const std::vector<PortProcess>& rows, Command command) {
    FixedScanner scanner(rows);
    scanner.foreign = kForeign;
    scanner.notDevelopment = kNotDevelopment;
    std::ostringstream out, err;
    const ExitStatus status = command(scanner, out, err);
    return {status, out.str(), err.str()};
}

TEST(ListCommandTest, TablesJsonAndWhatHoldsAPortWithoutARow) {
    struct Case {
        std::vector<PortProcess> rows;
        ListOptions options;
        Result expected;
    };
    const std::vector<Case> cases{
        // The words are one query; a container row has no PID to print.
        {kRows,
         {{"5432", "8000"}, false, {}},
         {ExitStatus::ok,
          "PORT  PID  PROCESS  PROJECT  BADGE  COMMAND\n"
          "5432  -    docker   db              postgres\n"
          "8000  77   python3  shop            python3 server.js\n",
          ""}},
        // Every field, as scripts read it.
        {kRows,
         {.query = {"5434"}, .json = true},
         {ExitStatus::ok,
          R"([{"arguments":["rootlesskit","server.js"],"cpuSeconds":null,)"
          R"("dockerContext":{"composeService":null,)"
          R"("containerId":")" +
              std::string(64, 'c') +
              R"(","containerName":"cache"},)"
              R"("executableName":"rootlesskit","executablePath":"/usr/bin/rootlesskit",)"
              R"("frameworkBadge":null,"id":"805-5434","memoryBytes":null,"pid":805,"port":5434,)"
              R"("projectHint":null,)"
              R"("projectLabel":"cache","projectRoot":null,)"
              R"("startTime":{"microseconds":805,"seconds":1000},)"
              R"("supervisor":{"kind":"docker","name":"cache"},"workingDirectory":"/home/ana/shop"}])"
              "\n",
          ""}},
        {{}, {}, {ExitStatus::nothingMatched, "", "Nothing listening right now.\n"}},
        {kRows, {{"4002"}, false, {}}, {ExitStatus::nothingMatched, "", "No matching ports.\n"}},
        // The listeners of others: after the user's rows with --all, matched
        // by port only, in an object with --all --json, else only named.
        {kRows,
         {.query = {"5173,5439-8000,8081"}, .all = true},
         {ExitStatus::ok,
          "PORT  PID   PROCESS  PROJECT  BADGE  COMMAND\n"
          "5173  3000  node     shop            node server.js\n"
          "8000  77    python3  shop            python3 server.js\n"
          "\n"
          "Listeners Halvo cannot end:\n"
          "PORT  OWNER\n"
          "5439  mysql\n"
          "8081  ana (no process of yours that Halvo can read)\n",
          ""}},
        {kRows,
         {.query = {"9999"}, .all = true},
         {ExitStatus::ok, "Listeners Halvo cannot end:\nPORT  OWNER\n9999  ev\\x1b]0;il\n", ""}},
        {kRows,
         {.query = {"5439"}},
         {ExitStatus::nothingMatched, "",
          "No matching ports.\nPort 5439 is held by user mysql; Halvo can only end your own "
          "processes\n"}},
        {kRows,
         {.query = {"3999-4000"}},
         {ExitStatus::nothingMatched, "",
          "No matching ports.\nPort 4000 is held by your postgres (PID 4321), not a development "
          "server; --all includes it\n"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.rows, [&](auto& scanner, auto& out,
                                  auto& err) { return runList(c.options, scanner, out, err); }),
                  c.expected);
    }
}

TEST(KillCommandTest, SelectionTextsAndStatus) {
    const KillOutcome refused = KillOutcome::failed("Operation not permitted");
    struct Case {
        KillOptions options;
        std::map<int32_t, KillOutcome> outcomes;
        std::string calls;  // what reached the engine, then the container stopper
        Result expected;
    };
    const std::vector<Case> cases{
        // A number is a port, never part of a PID or a path.
        {{.query = {"3000"}}, {}, "812@1000.812 ", {ExitStatus::ok, "Killed :3000\n", ""}},
        // Each query selects on its own; targets in list order, one per process.
        {{.query = {"python3", "3000-3001"}, .force = true},
         {},
         "812@1000.812! 77@1000.77! ",
         {ExitStatus::ok, "Killed 3 ports\n", ""}},
        {{.pids = {3000, 4}}, {}, "3000@1000.3000 ", {ExitStatus::ok, "Killed :5173\n", ""}},
        {{.query = {"8000", "8080"}},
         {{9000, refused}},
         "77@1000.77 9000@1000.9000 ",
         {ExitStatus::notAllEnded, "",
          "Could not kill :8080 (PID 9000): Operation not permitted\n"
          "Killed 1, failed 1: Operation not permitted\n"}},
        // A port of ours that the filter hid is named, with the way to end it.
        {{.query = {"4000-4001", "4000"}},
         {},
         "",
         {ExitStatus::nothingMatched, "",
          "No matching ports.\n"
          "Port 4000 is held by your postgres (PID 4321), not a development server; --all "
          "includes it\n"
          "Port 4001 is held by your ev\\x1b]0;il (PID 4322), not a development server; --all "
          "includes it\n"}},
        // A port that is taken is never "no match", but not the user's to end.
        {{.query = {"5439", "8081,9999", "5439"}},
         {},
         "",
         {ExitStatus::notAllEnded, "",
          "Port 5439 is held by user mysql; Halvo can only end your own processes\n"
          "Port 8081 is taken, but no process of yours that Halvo can read holds it\n"
          "Port 9999 is held by user ev\\x1b]0;il; Halvo can only end your own processes\n"}},
        // Containers go to the stopper, processes to the engine; no PID selects a container.
        {{.query = {"8000", "5432"}},
         {},
         "77@1000.77 db ",
         {ExitStatus::ok, "Killed 2 ports\n", ""}},
        // Ending rootless Docker's forwarder would end every container: the
        // container is stopped, and no --pid reaches it.
        {{.query = {"5434"}},
         {},
         "cache ",
         {ExitStatus::ok, "Stopped container cache (:5434)\n", ""}},
        {{.pids = {805}}, {}, "", {ExitStatus::nothingMatched, "", "No matching ports.\n"}},
        {{.query = {"5432-5433"}, .dryRun = true},
         {},
         "",
         {ExitStatus::ok, "Would stop container db (:5432)\nWould stop container broken (:5433)\n",
          ""}},
        // As would "." or "-" as text.
        {{.query = {"node", "."}},
         {},
         "",
         {ExitStatus::usage, "",
          "halvo-cli kill: . is no port and has no letter or digit to search for\n"}},
        // A blank query would match every row.
        {{.query = {" ", "\xE3\x80\x80\n"}},
         {},
         "",
         {ExitStatus::usage, "",
          "halvo-cli kill: a query is required (a port, a list, a range, a text or --pid)\n"}},
    };
    for (const Case& c : cases) {
        RecordingEngine engine;
        RecordingStopper stopper;
        engine.outcomes = c.outcomes;
        EXPECT_EQ(run(kRows,
                      [&](auto& scanner, auto& out, auto& err) {
                          return runKill(c.options, scanner, engine, stopper, out, err);
                      }),
                  c.expected);
        EXPECT_EQ(engine.calls + stopper.calls, c.calls);
    }
}

}  // namespace
}  // namespace halvo::testing
