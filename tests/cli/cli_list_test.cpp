// halvo-cli list end to end: real stand-in servers, the real scan, the JSON a
// script reads. Rows are picked out by the stand-ins' PIDs, since the machine
// has listeners of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "scan/command_runner.h"
#include "support/cli_process.h"
#include "support/test_process.h"

namespace halvo::testing {
namespace {

using nlohmann::json;

json listJson(const std::vector<std::string>& extra = {},
              const std::map<std::string, std::string>& environment = {}) {
    std::vector<std::string> args{"list", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    CliRun run = runCli(args, environment);
    EXPECT_TRUE(run.status == 0 || run.status == 1) << run.err;
    return json::parse(run.out);
}

std::vector<json> rowsOf(const json& rows, pid_t pid) {
    std::vector<json> mine;
    for (const json& row : rows) {
        if (row["pid"] == pid) {
            mine.push_back(row);
        }
    }
    return mine;
}

struct StandIn {
    std::unique_ptr<ListenerProcess> process;
    std::string dir;
};

// A server named `name` running in `folder` of `root` with `words` in its argv.
StandIn startStandIn(const TempDir& root, const std::string& name, const std::string& folder,
                     std::vector<std::string> listen, std::vector<std::string> words) {
    StandIn s;
    s.dir = root.makeDir(folder);
    ListenerOptions options;
    options.executable = listenerCopy(root, name);
    options.argv0 = name;
    options.listenerArgs = std::move(listen);
    options.extraArgs = std::move(words);
    options.workingDirectory = s.dir;
    s.process = ListenerProcess::start(options);
    return s;
}

TEST(CliListTest, ReportsStandInServersWithTheirFields) {
    TempDir root;
    auto shop = startStandIn(root, "node", "Documents/shop", {"--dual", "1"},
                             {root.path() + "/Documents/shop/node_modules/.bin/vite", "--host"});
    auto api =
        startStandIn(root, "python3", "Documents/api", {"--v4", "2"}, {"-m", "flask", "run"});

    json rows = listJson();
    auto shopRows = rowsOf(rows, shop.process->pid());
    ASSERT_EQ(shopRows.size(), 1u) << "a dual-stack port is one row";
    const json& s = shopRows[0];
    const int64_t port = shop.process->ports()[0];
    EXPECT_EQ(s["port"], port);
    EXPECT_EQ(s["id"], std::to_string(shop.process->pid()) + "-" + std::to_string(port));
    EXPECT_EQ(s["executableName"], "node");
    EXPECT_EQ(s["executablePath"], root.path() + "/bin/node");
    EXPECT_EQ(s["arguments"][0], "node");
    EXPECT_EQ(s["arguments"].back(), "--host");
    EXPECT_EQ(s["workingDirectory"], shop.dir);
    EXPECT_EQ(s["projectHint"], "shop");
    EXPECT_EQ(s["projectLabel"], "shop");
    EXPECT_EQ(s["frameworkBadge"], "VITE");
    EXPECT_TRUE(s["dockerContext"].is_null());
    EXPECT_GT(s["startTime"]["seconds"].get<int64_t>(), 1600000000);

    auto apiRows = rowsOf(rows, api.process->pid());
    ASSERT_EQ(apiRows.size(), 2u) << "one process on two ports is two rows";
    EXPECT_EQ(apiRows[0]["frameworkBadge"], "PYTHON");
    EXPECT_EQ(apiRows[0]["startTime"], apiRows[1]["startTime"]);
}

TEST(CliListTest, DockerContextsComeFromTheDockerTool) {
    TempDir root;
    auto backend = startStandIn(root, "com.docker.backend", "docker", {"--v4", "1"}, {});
    const std::string port = std::to_string(backend.process->ports()[0]);
    root.writeFile(
        "fake/docker",
        "#!/bin/sh\nprintf '" + std::string(64, 'a') + "|db|\"postgres\"|0.0.0.0:" + port +
            "->5432/tcp, :::" + port +
            "->5432/tcp|\"pg\"\\n|web|\"\"|0.0.0.0:1->80/tcp|\"\"\\nshort|s|\"s\"|0.0.0.0:" + port +
            "->5432/tcp\\n'\n",
        0755);
    const std::string path = root.path() + "/fake:" + std::getenv("PATH");

    // An engine over TCP is asked through the tool (one behind a unix socket
    // directly, as the kill tests show).
    auto rows = rowsOf(listJson({}, {{"PATH", path}, {"DOCKER_HOST", "tcp://127.0.0.1:1"}}),
                       backend.process->pid());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["frameworkBadge"], "DOCKER");
    EXPECT_EQ(rows[0]["dockerContext"]["containerName"], "db");
    EXPECT_EQ(rows[0]["dockerContext"]["composeService"], "postgres");
    EXPECT_EQ(rows[0]["projectLabel"], "postgres");
}

TEST(CliListTest, TheProjectsManifestNamesRootAndBadge) {
    TempDir root;
    root.writeFile("shop/package.json",
                   R"({"name": "shop", "dependencies": {"express": "^4.19.2"}})");
    auto server = startStandIn(root, "node", "shop/src", {"--v4", "1"}, {"server.js"});

    auto rows = rowsOf(listJson(), server.process->pid());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["projectRoot"], root.path() + "/shop");
    EXPECT_EQ(rows[0]["frameworkBadge"], "EXPRESS") << "nothing in `node server.js` says so";
}

TEST(CliListTest, HostileMetadataNeverReachesTheTerminalRaw) {
    TempDir root;
    const std::string big(100 * 1024, 'x');
    auto evil = startStandIn(root, "node", "Documents/evil", {"--v4", "1"},
                             {"\x1b]0;pwned\x07", "two\nlines", "bad\xff\xfe",
                              "csi\xc2\x9b"
                              "2J",
                              "ls\u2028ps\u2029zw\u200bbom\ufeff", "vite", big});
    const std::string port = std::to_string(evil.process->ports()[0]);

    auto rows = rowsOf(listJson({port}), evil.process->pid());
    ASSERT_EQ(rows.size(), 1u);
    const auto args = rows[0]["arguments"].get<std::vector<std::string>>();
    EXPECT_NE(std::find(args.begin(), args.end(), "\x1b]0;pwned\x07"), args.end());
    EXPECT_NE(std::find(args.begin(), args.end(), "two\nlines"), args.end());
    EXPECT_NE(std::find(args.begin(), args.end(), big), args.end()) << "a long argument whole";
    EXPECT_NE(std::find(args.begin(), args.end(), "bad\uFFFD\uFFFD"), args.end())
        << "a bad byte is repaired, never the argument dropped";

    CliRun json = runCli({"list", "--json", port});
    EXPECT_TRUE(std::all_of(json.out.begin(), json.out.end(), [](char c) {
        return c == '\n' || (c >= 0x20 && c < 0x7f);
    })) << "JSON output is printable ASCII, escapes and all";

    CliRun table = runCli({"list", port});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(table.out.find('\x07'), std::string::npos);
    EXPECT_EQ(table.out.find("\xff"), std::string::npos);
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 2) << "header and one row";
    EXPECT_NE(table.out.find("\\x1b]0;pwned\\x07"), std::string::npos);
    EXPECT_NE(table.out.find("two\\nlines"), std::string::npos);
    EXPECT_NE(table.out.find("csi\\u009b2J"), std::string::npos);
    EXPECT_NE(table.out.find("ls\\u2028ps\\u2029zw\\u200bbom\\ufeff"), std::string::npos);
    EXPECT_NE(table.out.find("bad\uFFFD\uFFFD"), std::string::npos);
}

TEST(CliListTest, UsageHelpVersionAndWriteErrors) {
    EXPECT_EQ(runCli({}).status, 2);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"lis"},
             {"--bogus"},
             {"list", "--bogus"},
             {"list", "--json=no"},
             {"kill", "--dry-run", "--pid", "0x1f"},  // decimal only
             {"kill", "--dry-run", "--pid", "010"},
             {"wait-free", "1", "--timeout", "nan"},
             {"wait-free", "1", "--timeout", "-nan"}}) {
        CliRun run = runCli(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(args.back().substr(0, args.back().find('='))), std::string::npos)
            << run.err;
    }
    // Output that cannot be written is no success.
    const std::string full = std::string("exec '") + HALVO_CLI + "' list --json --all >/dev/full";
    EXPECT_EQ(runCommand("/bin/sh", {"-c", full}, std::chrono::seconds(20)).status, 4);
    CliRun help = runCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("list"), std::string::npos);
    CliRun version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find(HALVO_VERSION), std::string::npos);
}

}  // namespace
}  // namespace halvo::testing
