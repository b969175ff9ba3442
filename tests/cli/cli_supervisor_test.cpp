// Servers that a supervisor runs, end to end: a real pm2 with its own home,
// and a systemd user unit made of a cgroup the test creates and a stand-in
// systemctl that records its calls and ends the unit's processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/text.h"
#include "scan/command_runner.h"
#include "scan/listening_ports.h"
#include "support/cli_process.h"
#include "support/test_process.h"

namespace halvo::testing {
namespace {

using namespace std::chrono_literals;

std::string token(const char* what) {
    return std::string("halvo-e2e-") + what + "-" + std::to_string(getpid());
}

// The one row `query` lists; null when there is not exactly one.
nlohmann::json listedRow(const std::string& query) {
    for (int poll = 0; poll < 200; ++poll) {
        const auto rows = nlohmann::json::parse(runCli({"list", "--json", query}).out);
        if (rows.size() == 1) {
            return rows[0];
        }
        std::this_thread::sleep_for(50ms);
    }
    return nullptr;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// After two seconds: did nothing take the port again?
bool staysFree(int64_t port) {
    std::this_thread::sleep_for(2s);
    return !listeningPortsNow().contains(port);
}

// Ends the pm2 daemon of `home` when the test is done.
struct Pm2Daemon {
    std::string home;
    ~Pm2Daemon() { runCommand("/usr/bin/env", {"PM2_HOME=" + home, "pm2", "kill"}, 30s); }
};

TEST(CliSupervisorTest, StopsAPm2AppThroughPm2AndThePortStaysFree) {
    TempDir root;
    const CommandResult tools =
        runCommand(HALVO_TEST_SOURCE_DIR "/../scripts/npm-tools", {}, std::chrono::minutes(5));
    ASSERT_TRUE(tools.output && tools.status == 0) << "scripts/npm-tools: " << tools.errors;
    ScopedEnvironment environment;
    environment.prependPath(std::string(trimWhiteSpace(*tools.output)) + "/node_modules/.bin");
    const Pm2Daemon pm2{root.makeDir("pm2")};
    environment.set("PM2_HOME", pm2.home);
    const std::string portFile = root.path() + "/port";
    const std::string server = root.writeFile(
        "server.js",
        "const s = require('http').createServer((q, r) => r.end('ok'));\n"
        "s.listen(0, '127.0.0.1', () => require('fs').writeFileSync(process.env.PORT_FILE, "
        "String(s.address().port)));\n");
    const std::string app = token("api");
    const CommandResult started = runCommand(
        "/usr/bin/env", {"PORT_FILE=" + portFile, "pm2", "start", server, "--name", app}, 60s);
    ASSERT_TRUE(started.output && started.status == 0) << started.errors;
    for (int poll = 0; poll < 200 && fileText(portFile).empty(); ++poll) {
        std::this_thread::sleep_for(50ms);
    }
    const std::string port = fileText(portFile);
    ASSERT_FALSE(port.empty());

    const nlohmann::json row = listedRow(port);
    ASSERT_FALSE(row.is_null());
    EXPECT_EQ(row["supervisor"], (nlohmann::json{{"kind", "pm2"}, {"name", app}}));
    EXPECT_EQ(runCli({"kill", "--dry-run", port}).out,
              "Would stop pm2 app " + app + " (:" + port + ")\n");
    const CliRun run = runCli({"kill", port});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Stopped pm2 app " + app + " (:" + port + ")\n");
    EXPECT_TRUE(processEnds(row["pid"].get<int32_t>()));
    EXPECT_TRUE(staysFree(std::stoll(port)));
}

// The unified hierarchy's mount point; nothing without one.
std::optional<std::string> unifiedHierarchy() {
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        if (line.find(" - cgroup2 ") != std::string::npos) {
            const auto fields = splitNonEmpty(line, ' ');
            return std::string(fields.at(4));
        }
    }
    return std::nullopt;
}

// A cgroup where a user unit's would be; what the test made of its path
// goes with it, once its processes are back in the root.
class TestUnit {
  public:
    TestUnit(const std::string& root, const std::string& name) : root_(root) {
        const std::string uid = std::to_string(getuid());
        path_ = root;
        for (const std::string& part :
             std::vector<std::string>{"user.slice", "user-" + uid + ".slice",
                                      "user@" + uid + ".service", "app.slice", name}) {
            path_ += "/" + part;
            if (mkdir(path_.c_str(), 0755) == 0) {
                made_.push_back(path_);
            } else if (errno != EEXIST) {
                path_.clear();
                return;
            }
        }
    }
    ~TestUnit() {
        if (!path_.empty()) {
            std::ifstream procs(path_ + "/cgroup.procs");
            for (std::string pid; std::getline(procs, pid);) {
                std::ofstream(root_ + "/cgroup.procs") << pid << '\n';
            }
        }
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            rmdir(it->c_str());
        }
    }
    // Empty when it could not be made.
    const std::string& path() const { return path_; }

  private:
    std::string root_;
    std::string path_;
    std::vector<std::string> made_;
};

TEST(CliSupervisorTest, StopsAUserUnitThroughSystemctlAndNamesItWhenItRestarts) {
    const std::optional<std::string> hierarchy = unifiedHierarchy();
    const std::string unit = token("web") + ".service";
    if (!hierarchy) {
        GTEST_SKIP() << "no unified cgroup hierarchy";
    }
    const TestUnit cgroup(*hierarchy, unit);
    if (cgroup.path().empty()) {
        GTEST_SKIP() << "cannot create a cgroup under " << *hierarchy;
    }
    TempDir root;
    ScopedEnvironment environment;
    environment.prependPath(root.makeDir("bin"));
    const std::string calls = root.path() + "/calls";
    const std::string procs = cgroup.path() + "/cgroup.procs";
    root.writeFile("bin/systemctl",
                   "#!/bin/sh\necho \"$*\" >> '" + calls + "'\nkill $(cat '" + procs + "')\n",
                   0755);
    // The unit's own restart loop, which joins the unit before it starts the server.
    const std::string service = root.writeFile("bin/service",
                                               "#!/bin/sh\necho $$ > '" + procs +
                                                   "' || exit 3\n\"$@\"\n"
                                                   "for again in 1 2 3 4; do\n"
                                                   "    \"$@\" >/dev/null\n"
                                                   "done\n",
                                               0755);
    auto probe = ListenerProcess::start({.listenerArgs = {"--v4", "1"}});
    const std::string port = std::to_string(probe->ports().at(0));
    probe->stop();
    const std::string word = token("unit");
    auto loop =
        ListenerProcess::start({.listenerArgs = {listenerCopy(root, "node"), "--port", port},
                                .extraArgs = {"vite", word},
                                .executable = service});

    nlohmann::json row = listedRow(word);
    ASSERT_FALSE(row.is_null());
    EXPECT_EQ(row["supervisor"], (nlohmann::json{{"kind", "systemd"}, {"name", unit}}));
    EXPECT_EQ(runCli({"kill", "--dry-run", word}).out,
              "Would stop unit " + unit + " (:" + port + ")\n");

    // Ending the process itself: the unit starts it again, and is named.
    const std::string said = "Killed :" + port + " \u2014 restarted by " + unit + "\n";
    CliRun run;
    for (int attempt = 0; attempt < 3 && run.out != said; ++attempt) {
        row = listedRow(word);
        ASSERT_FALSE(row.is_null());
        run = runCli({"kill", "--no-supervisor", word});
        EXPECT_EQ(run.status, 0) << run.err;
    }
    EXPECT_EQ(run.out, said);
    EXPECT_EQ(fileText(calls), "");

    row = listedRow(word);
    ASSERT_FALSE(row.is_null());
    run = runCli({"kill", word});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Stopped " + unit + " (:" + port + ")\n");
    EXPECT_EQ(fileText(calls), "--user stop -- " + unit + "\n");
    EXPECT_TRUE(processEnds(loop->pid()));
    EXPECT_TRUE(staysFree(std::stoll(port)));
}

}  // namespace
}  // namespace halvo::testing
