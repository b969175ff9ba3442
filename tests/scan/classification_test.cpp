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

// Text rules go by substrings of the name, path and arguments, earlier rules
// first; server rules by the executable name only. A hint comes from the
// first argument, then the directory, then the path with one.
TEST(ClassificationTest, BadgeRulesInOrderAndHintSources) {
    const struct {
        std::string name;
        Args args;
        std::string path;
        std::optional<FrameworkBadge> expected;
    } cases[] = {
        {"node", {"node", "VITE", "express"}, "", vite},
        {"postgres", {"postgres"}, "/opt/Docker/bin/postgres", docker},
        {"wrapper", {"wrapper", "postgres"}, "/opt/redis/python", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(frameworkBadge(c.name, c.path, c.args), c.expected) << c.name;
    }
    EXPECT_EQ(projectHint({"node", "/Users/a/Documents/shop/x.js"}, "/home/a/b", ""), "shop");
    EXPECT_EQ(projectHint({"node"}, "/Users/a/projects/api", "/home/b/tools/node"), "projects");
}

// Folders in a temporary folder whose "home" stands for the home folder, each
// the root of what runs in its "src" and declaring a badge, or not.
TEST(ProjectRootTest, TheNearestManifestOfTheUsersBelowHomeRootsAndBadges) {
    testing::TempDir tmp;
    // A link out of the user's files or a FIFO marks the root but is never read.
    std::filesystem::create_symlink(
        tmp.writeFile("out/package.json", "{\"dependencies\": {\"vite\": 1}}"),
        tmp.makeDir("home/link") + "/package.json");
    ASSERT_EQ(mkfifo((tmp.makeDir("home/fifo") + "/package.json").c_str(), 0644), 0);
    const struct {
        std::string root;
        const char* manifest;  // written unless none
        std::string text;
        std::optional<FrameworkBadge> badge;
    } cases[] = {
        {"home/shop", "package.json", R"({"devDependencies": {"next": "14"}})", next},
        // The nearest wins; names outside the dependencies are no badge.
        {"home/shop/web", "package.json", R"({"x": {"next": 1}, "description": "\"vite\":"})",
         std::nullopt},
        {"home/rails", "Gemfile", "source 'x'\n  gem \"rails\", \"~> 7\"\n", rails},
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
    // The walk stops at home.
    tmp.writeFile("package.json", "{}");
    EXPECT_EQ(resolver.projectRoot(tmp.makeDir("home/code/app")), std::nullopt);
    // Another user's manifests neither root nor badge.
    EXPECT_EQ(ProjectRootResolver(tmp.path() + "/home", getuid() + 1)
                  .projectRoot(tmp.path() + "/home/rails/src"),
              std::nullopt);
}

}  // namespace
}  // namespace halvo
