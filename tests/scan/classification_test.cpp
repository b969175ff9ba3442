// What a row is called: its framework badge and project hint.
#include "scan/classification.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_process.h"

namespace halvo {
namespace {

using Args = std::vector<std::string>;
using enum FrameworkBadge;

TEST(FrameworkBadgeTest, RulesInOrder) {
    const struct {
        std::string name;
        Args args;
        std::string path;
        std::optional<FrameworkBadge> expected;
    } cases[] = {
        // Text rules: substrings of the lower-cased name, path and arguments.
        {"node", {"node", "/code/site/node_modules/.bin/next", "dev"}, "", next},
        {"ruby", {"bin/rails", "server"}, "", rails},
        {"node", {"node", "express-app.js"}, "", express},
        {"java", {"java", "-jar", "spring-boot-app.jar"}, "", boot},
        {"x", {}, "/opt/Docker/bin/x", docker},
        {"node", {"node", "server.js"}, "/usr/bin/node", std::nullopt},
        // Earlier rules win.
        {"node", {"node", "VITE", "express"}, "", vite},
        {"go", {"go", "run", "express.go"}, "", go},
        {"postgres", {"postgres", "docker"}, "", docker},
        // Go: the exact name, or "go run " with spaces around it.
        {"go", {"go", "build"}, "", go},
        {"Go", {"Go", "build"}, "", std::nullopt},
        {"sh", {"sh", "GO RUN main.go"}, "", go},
        {"sh", {"sh", "-c", "go run"}, "", std::nullopt},
        // Servers: the executable name only, case-sensitive.
        {"Postgres", {}, "/usr/local/bin/Postgres", std::nullopt},
        {"wrapper", {"wrapper", "postgres"}, "/opt/redis/python", std::nullopt},
        {"redis-server", {"redis-server", "*:6379"}, "", redis},
        {"python3.12", {}, "", python},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + " " + (c.args.empty() ? c.path : c.args.back()));
        EXPECT_EQ(frameworkBadge(c.name, c.path, c.args), c.expected);
    }
}

TEST(ProjectHintTest, DocumentsThenUsersOverArgumentsThenDirectoryThenPath) {
    const struct {
        Args args;
        std::optional<std::string> directory;
        std::string path;
        std::optional<std::string> expected;
    } cases[] = {
        {{"/Users/alice/Documents/shop/web/server.js"}, {}, "", "shop"},
        {{"/home/alice/code/shop/server.js"}, {}, "", "code"},
        {{"/Users/alice/Documents"}, {}, "", "Documents"},  // nothing after it: try Users
        {{"/users/alice/app", "/srv/documents/x"}, {}, "", std::nullopt},  // case-sensitive
        // Candidates in order: arguments, then the directory, then the path.
        {{"node", "/Users/a/first/x.js"}, "/Users/a/second", "/Users/a/third/node", "first"},
        {{"--port", "3000"}, "/Users/alice/projects/api", "/Users/a/third/node", "projects"},
        {{"/Users/alice"}, "/Users/alice/svc", "", "svc"},  // too short: next candidate
        // Relative candidates split as if rooted.
        {{"-Dconfig=/Users/alice/svc/app.yml"}, {}, "", "svc"},
    };
    for (const auto& c : cases) {
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
