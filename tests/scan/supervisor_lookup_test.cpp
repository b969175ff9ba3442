// Which unit or pm2 app runs a process: cgroup lines and environments as
// /proc gives them, and the order the two are asked in.
#include "scan/supervisor_lookup.h"

#include <gtest/gtest.h>

#include "support/test_process.h"

namespace halvo {
namespace {

using Kind = Supervisor::Kind;

TEST(SupervisorLookupTest, TakesUnitsAndPm2AppsButNotWhereTheUserWorks) {
    const std::string user = "0::/user.slice/user-1000.slice/user@1000.service/";
    const Supervisor web{Kind::systemd, "web.service", {}, {}, 1000};
    const struct {
        std::string cgroup;
        std::optional<Supervisor> expected;
    } units[] = {
        {user + "app.slice/web.service\n", web},
        {user + "app.slice/app-dev.slice/web.service/worker\n", web},
        {"12:pids:/x\n1:name=systemd:/" + user.substr(4) + "app.slice/web.service\n0::/\n", web},
        {user + "app.slice/run-r1f2.scope\n",
         Supervisor{Kind::systemd, "run-r1f2.scope", {}, {}, 1000}},
        {"0::/user.slice/user-0.slice/user@0.service/api.service\n",
         Supervisor{Kind::systemd, "api.service", {}, {}, 0}},
        // A terminal's, a desktop launch's, a login's, the manager's own; no unit at all.
        {user + "app.slice/vte-spawn-5e1f.scope\n", std::nullopt},
        {user + "app.slice/app-gnome-org.gnome.Terminal-4242.scope\n", std::nullopt},
        {user + "app.slice/app-org.kde.konsole-77.scope\n", std::nullopt},
        {user + "app.slice/gnome-terminal-server.service\n", std::nullopt},
        {user + "init.scope\n", std::nullopt},
        {"0::/user.slice/user-1000.slice/session-3.scope\n", std::nullopt},
        {"0::/system.slice/nginx.service\n", std::nullopt},
        {user + "app.slice\n", std::nullopt},
        {"0::/user.slice/user-1000.slice/user@x.service/web.service\n", std::nullopt},
        {"0::/\n", std::nullopt},
    };
    for (const auto& c : units) {
        SCOPED_TRACE(c.cgroup);
        EXPECT_EQ(unitFromCgroup(c.cgroup), c.expected);
    }

    const Supervisor api{Kind::pm2, "api", "3", "/home/dev/.pm2"};
    using namespace std::string_literals;
    const struct {
        std::string environment;
        std::optional<Supervisor> expected;
    } apps[] = {
        {"name=api\0PATH=/bin\0PM2_HOME=/home/dev/.pm2\0pm_id=3\0"s, api},
        {"PM2_HOME=/home/dev/.pm2\0pm_id=3\0name=api"s, api},
        {"name=api\0PM2_HOME=/home/dev/.pm2\0"s, std::nullopt},
        {"name=api\0PM2_HOME=/home/dev/.pm2\0pm_id=--force\0"s, std::nullopt},
        {"name=\0PM2_HOME=/home/dev/.pm2\0pm_id=3\0"s, std::nullopt},
        {"name=api\0PM2_HOME=.pm2\0pm_id=3\0"s, std::nullopt},
        {"xname=api\0PM2_HOME=/home/dev/.pm2\0pm_id=3\0"s, std::nullopt},
    };
    for (const auto& c : apps) {
        SCOPED_TRACE(c.environment);
        EXPECT_EQ(pm2AppFromEnvironment(c.environment), c.expected);
    }

    // pm2 run inside a unit: the app is the nearer supervisor.
    testing::TempDir proc;
    proc.writeFile("7/cgroup", user + "app.slice/pm2.service\n");
    proc.writeFile("7/environ", "name=api\0PM2_HOME=/home/dev/.pm2\0pm_id=3\0"s);
    proc.writeFile("8/cgroup", user + "app.slice/web.service\n");
    // Beyond the bound the environment is not read.
    proc.writeFile("8/environ", std::string(kEnvironmentCap, 'x') + "\0name=api\0pm_id=3\0"s);
    EXPECT_EQ(readSupervisor(7, proc.path()), api);
    EXPECT_EQ(readSupervisor(8, proc.path()), web);
    EXPECT_EQ(readSupervisor(9, proc.path()), std::nullopt);
}

}  // namespace
}  // namespace halvo
