#include "scan/classification.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_process.h"

namespace halvo {
namespace {

using Args = std::vector<std::string>;
using enum FrameworkBadge;

TEST(FrameworkBadgeTest, RulesInOrder) {
    struct Case {
        std::string name;
        Args args;
        std::string path;
        std::optional<FrameworkBadge> expected;
    };
    const std::vector<Case> cases = {
        // Text rules: substrings of the lower-cased name, path and arguments.
        {"node", {"node", "/code/site/node_modules/.bin/next", "dev"}, "", next},
        {"node", {"node", "VITE"}, "", vite},
        {"ruby", {"bin/rails", "server"}, "", rails},
        {"ruby", {"Puma", "5.6"}, "", rails},
        {"node", {"node", "express-app.js"}, "", express},
        {"java", {"java", "-jar", "spring-boot-app.jar"}, "", boot},
        {"java", {"gradlew", "bootRun"}, "", boot},
        {"node", {"node", "docker-compose"}, "", docker},
        {"x", {}, "/opt/Docker/bin/x", docker},
        {"node", {"node", "server.js"}, "/usr/bin/node", std::nullopt},
        // Earlier rules win.
        {"node", {"node", "vite", "express"}, "", vite},
        {"node", {"next", "vite"}, "", next},
        {"go", {"go", "run", "express.go"}, "", go},
        {"postgres", {"postgres", "docker"}, "", docker},
        {"python3", {"python3", "rails_mock.py"}, "", rails},
        // Go: the exact name, or "go run " with spaces around it.
        {"go", {"go", "build"}, "", go},
        {"Go", {"Go", "build"}, "", std::nullopt},
        {"gopls", {"gopls"}, "", std::nullopt},
        {"sh", {"sh", "-c", "go run main.go"}, "", go},
        {"sh", {"sh", "-c", "go run"}, "", std::nullopt},
        {"sh", {"sh", "GO RUN main.go"}, "", go},
        // Servers: the executable name only, case-sensitive.
        {"postgres", {}, "/usr/local/bin/postgres", postgres},
        {"Postgres", {}, "/usr/local/bin/Postgres", std::nullopt},
        {"redis-server", {"redis-server", "*:6379"}, "", redis},
        {"python3.12", {}, "", python},
        {"wrapper", {"wrapper", "postgres"}, "/opt/redis/python", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " " + (c.args.empty() ? c.path : c.args.back()));
        EXPECT_EQ(frameworkBadge(c.name, c.path, c.args), c.expected);
    }
}

TEST(ProjectHintTest, DocumentsThenUsersOverArgumentsThenDirectoryThenPath) {
    struct Case {
        Args args;
        std::optional<std::string> directory;
        std::string path;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {{"/Users/alice/Documents/shop/web/server.js"}, {}, "", "shop"},
        {{"/Users/alice/code/shop/server.js"}, {}, "", "code"},
        {{"/Users/alice/app"}, {}, "", "app"},
        {{"/Users/alice/Documents"}, {}, "", "Documents"},  // nothing after it: try Users
        {{"/srv/Documents/wiki"}, {}, "", "wiki"},
        {{"/users/alice/app", "/srv/documents/x"}, {}, "", std::nullopt},  // case-sensitive
        // Candidates in order: arguments, then the directory, then the path.
        {{"node", "/Users/a/first/x.js"}, "/Users/a/second", "/Users/a/third/node", "first"},
        {{"--port", "3000"}, "/Users/alice/projects/api", "/Users/a/third/node", "projects"},
        {{"node"}, {}, "/Users/a/third/node", "third"},
        {{"--port", "3000"}, {}, "/usr/local/bin/node", std::nullopt},
        {{"/Users/alice"}, "/Users/alice/svc", "", "svc"},  // too short: next candidate
        {{"/Users"}, {}, "/", std::nullopt},
        // Relative candidates split as if rooted.
        {{"-Dconfig=/Users/alice/svc/app.yml"}, {}, "", "svc"},
        {{"Documents/notes"}, {}, "", "notes"},
        // Linux homes are /home/NAME.
        {{"/home/alice/code/shop/server.js"}, {}, "", "code"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back() + " | " + c.directory.value_or("-") + " | " + c.path);
        EXPECT_EQ(projectHint(c.args, c.directory, c.path), c.expected);
    }
}

TEST(ProjectHintTest, IgnoresOurOwnWorkingDirectory) {
    testing::TempDir dir;
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.makeDir("Users/carol/Documents/mine"));
    const auto hint = projectHint({"node", "server.js"}, std::nullopt, "node");
    std::filesystem::current_path(before);
    EXPECT_EQ(hint, std::nullopt);
}

}  // namespace
}  // namespace halvo
