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
        // Go: the exact name, or "go run " with spaces around it.
        {"go", {"go", "run", "express.go"}, "", go},
        {"sh", {"sh", "GO RUN main.go"}, "", go},
        {"sh", {"sh", "-c", "go run"}, "", std::nullopt},
        // Servers: the executable name only.
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

// Folders in a temporary folder whose "home" stands for the home folder, each
// the root of what runs in its "src" and declaring a badge, or not.
TEST(ProjectRootTest, TheNearestManifestOfTheUsersBelowHomeRootsAndBadges) {
    testing::TempDir tmp;
    const std::string express = packageJson(R"("express": "4")");
    const std::string huge = R"("description": ")" + std::string(kManifestReadLimit, 'x') + "\", ";
    // A link out of the user's files or a FIFO marks the root but is never read.
    std::filesystem::create_symlink(tmp.writeFile("out/package.json", express),
                                    tmp.makeDir("home/link") + "/package.json");
    ASSERT_EQ(mkfifo((tmp.makeDir("home/fifo") + "/package.json").c_str(), 0644), 0);
    const struct {
        std::string root;
        const char* manifest;  // written unless none
        std::string text;
        std::optional<FrameworkBadge> badge;
    } cases[] = {
        {"home/shop", "package.json",
         packageJson(R"("express": "4")", R"("devDependencies": {"next": "14"}, )"), next},
        // The nearest wins; names outside the dependencies are no badge.
        {"home/shop/web", "package.json",
         packageJson(
             R"("lodash": "4", "nested": {"next": "1"})",
             R"("description": "an \"express\": app on vite", "scripts": {"vite": "vite"}, )"),
         std::nullopt},
        {"home/repo", ".git", "gitdir: /elsewhere", std::nullopt},  // a worktree's
        {"home/gem", "Gemfile", "gem 'rails-html-sanitizer'\n# gem 'rails'\n", std::nullopt},
        {"home/rails", "Gemfile", "source 'x'\n  gem \"rails\", \"~> 7\"\n", rails},
        {"home/pom", "pom.xml", "<artifactId>\n spring-boot-starter-parent</artifactId>", boot},
        {"home/gradle", "build.gradle.kts", "id(\"org.springframework.boot\")", boot},
        {"home/huge", "package.json", packageJson(R"("express": "4")", huge), std::nullopt},
        {"home/link", nullptr, "", std::nullopt},
        {"home/fifo", nullptr, "", std::nullopt},
    };
    ProjectRootResolver resolver(tmp.path() + "/home", getuid());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root);
        if (c.manifest) {
            tmp.writeFile(c.root + "/" + c.manifest, c.text);
        }
        EXPECT_EQ(resolver.projectRoot(tmp.makeDir(c.root + "/src")), tmp.path() + "/" + c.root);
        EXPECT_EQ(resolver.declaredBadge(tmp.path() + "/" + c.root), c.badge);
    }
    // The walk stops at home; outside home it walks on up.
    tmp.writeFile("package.json", "{}");
    EXPECT_EQ(resolver.projectRoot(tmp.makeDir("home/code/app")), std::nullopt);
    EXPECT_EQ(resolver.projectRoot(tmp.makeDir("srv/app/bin")), tmp.path());
    // Another user's manifests neither root nor badge.
    EXPECT_EQ(ProjectRootResolver(tmp.path() + "/home", getuid() + 1)
                  .projectRoot(tmp.path() + "/home/rails/src"),
              std::nullopt);
}

}  // namespace
}  // namespace halvo
