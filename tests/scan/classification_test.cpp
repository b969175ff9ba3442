// What a row is called: its framework badge, its project hint, its project's
// root and the badge the root's manifest declares.
#include "scan/classification.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "scan/project_root.h"
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
        // Text rules: substrings of the lower-cased name, path and arguments;
        // earlier rules win.
        {"node", {"node", "/code/site/node_modules/.bin/next", "dev"}, "", next},
        {"node", {"node", "VITE", "express"}, "", vite},
        {"ruby", {"bin/rails", "server"}, "", rails},
        {"node", {"node", "express-app.js"}, "", express},
        {"java", {"java", "-jar", "spring-boot-app.jar"}, "", boot},
        {"postgres", {"postgres"}, "/opt/Docker/bin/postgres", docker},
        {"node", {"node", "server.js"}, "/usr/bin/node", std::nullopt},
        // Go: the exact name, or "go run " with spaces around it.
        {"go", {"go", "run", "express.go"}, "", go},
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

// Run from a folder that would give a hint of its own.
TEST(ProjectHintTest, DocumentsThenHomeOverArgumentsThenDirectoryThenPath) {
    const struct {
        Args args;
        std::optional<std::string> directory;
        std::string path;
        std::optional<std::string> expected;
    } cases[] = {
        {{"/Users/alice/Documents/shop/web/server.js"}, {}, "", "shop"},
        {{"/home/alice/code/shop/server.js"}, {}, "", "code"},
        {{"/Users/alice/Documents"}, {}, "", "Documents"},  // nothing after it: try Users
        {{"node", "/Users/a/first/x.js"}, "/Users/a/second", "/Users/a/third/node", "first"},
        {{"/Users/alice"}, "/Users/alice/projects/api", "", "projects"},  // too short: next one
        {{"/users/alice/app", "/srv/documents/x"}, {}, "/home/bo/tools/node", "tools"},
        {{"-Dconfig=/Users/alice/svc/app.yml"}, {}, "", "svc"},  // split as if rooted
        {{"node", "server.js"}, {}, "node", std::nullopt},
    };
    testing::TempDir dir;
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.makeDir("Users/carol/Documents/mine"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back() + " | " + c.directory.value_or("-") + " | " + c.path);
        EXPECT_EQ(projectHint(c.args, c.directory, c.path), c.expected);
    }
    std::filesystem::current_path(before);
}

std::string packageJson(const std::string& dependencies, const std::string& before = "") {
    return R"({"name": "app", )" + before + R"("dependencies": {)" + dependencies + "}}";
}

// One tree in a temporary folder whose "home" stands for the home folder.
TEST(ProjectRootTest, TheNearestManifestOfTheUsersBelowHomeIsTheRoot) {
    testing::TempDir tmp;
    testing::TempDir outside;
    const auto at = [&](const std::string& relative) {
        return relative.empty() ? tmp.path() : tmp.path() + "/" + relative;
    };
    const std::string express = packageJson(R"("express": "4")");
    tmp.writeFile("package.json", packageJson(""));
    tmp.writeFile("home/shop/package.json", express);
    tmp.writeFile("home/shop/web/package.json", packageJson(R"("vite": "5")"));
    tmp.writeFile("home/repo/.git", "gitdir: /elsewhere");  // a worktree's .git is a file
    tmp.writeFile(
        "home/huge/package.json",
        packageJson(R"("express": "4")",
                    R"("description": ")" + std::string(kManifestReadLimit, 'x') + R"(", )"));
    std::filesystem::create_symlink(outside.writeFile("package.json", express),
                                    tmp.makeDir("home/link") + "/package.json");
    ASSERT_EQ(mkfifo((tmp.makeDir("home/fifo") + "/package.json").c_str(), 0644), 0);
    const struct {
        std::string start;
        std::optional<std::string> root;
        std::optional<FrameworkBadge> badge;
    } cases[] = {
        {"home/shop/web/src/pages", "home/shop/web", vite},
        {"home/repo/cmd", "home/repo", std::nullopt},
        {"home/code/app", std::nullopt, std::nullopt},  // the walk stops at home
        {"srv/app/bin", "", std::nullopt},              // outside home it walks on up
        // A link out of the user's files or a FIFO marks the root but is never
        // read; a huge manifest is read only in part.
        {"home/link", "home/link", std::nullopt},
        {"home/fifo", "home/fifo", std::nullopt},
        {"home/huge", "home/huge", std::nullopt},
    };
    ProjectRootResolver resolver(at("home"), getuid());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        tmp.makeDir(c.start);
        const std::optional<std::string> root = resolver.projectRoot(at(c.start));
        EXPECT_EQ(root, c.root ? std::optional(at(*c.root)) : std::nullopt);
        EXPECT_EQ(root ? resolver.declaredBadge(*root) : std::nullopt, c.badge);
    }
    // Another user's manifests neither root nor badge.
    EXPECT_EQ(ProjectRootResolver(at("home"), getuid() + 1).projectRoot(at("home/shop")),
              std::nullopt);
}

TEST(ProjectRootTest, ManifestsDeclareOnlyWhatTheyDependOn) {
    const struct {
        const char* file;
        std::string text;
        std::optional<FrameworkBadge> badge;
    } cases[] = {
        {"package.json",
         packageJson(
             R"("lodash": "4", "nested": {"next": "1"})",
             R"("description": "an \"express\": app on vite", "scripts": {"vite": "vite"}, )"),
         std::nullopt},
        {"package.json", packageJson(R"("express": "4")", R"("devDependencies": {"next": "14"}, )"),
         next},
        {"Gemfile", "source 'x'\ngem 'rails-html-sanitizer'\n# gem 'rails'\n", std::nullopt},
        {"Gemfile", "source 'x'\n  gem \"rails\", \"~> 7\"\n", rails},
        {"pom.xml", "<parent>\n  <artifactId>\n spring-boot-starter-parent</artifactId>", boot},
        {"build.gradle.kts", "plugins { id(\"org.springframework.boot\") }", boot},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(manifestBadge(c.file, c.text), c.badge) << c.text;
    }
}

}  // namespace
}  // namespace halvo
