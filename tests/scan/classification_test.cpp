#include "scan/classification.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_process.h"

namespace halvo {
namespace {

using Args = std::vector<std::string>;

std::optional<FrameworkBadge> badge(std::string_view name, Args args,
                                    std::string_view path = "/usr/bin/tool") {
    return frameworkBadge(name, path, args);
}

TEST(FrameworkBadgeTest, TextRulesMatchSubstringsOfTheLowerCasedCommandLine) {
    EXPECT_EQ(badge("node", {"node", "/Users/a/code/site/node_modules/.bin/next", "dev"}),
              FrameworkBadge::next);
    EXPECT_EQ(badge("node", {"node", "nextcloud-sync"}), FrameworkBadge::next);
    EXPECT_EQ(badge("node", {"node", "VITE"}), FrameworkBadge::vite);
    EXPECT_EQ(badge("ruby", {"bin/rails", "server"}), FrameworkBadge::rails);
    EXPECT_EQ(badge("ruby", {"Puma", "5.6"}), FrameworkBadge::rails);
    EXPECT_EQ(badge("node", {"node", "express-app.js"}), FrameworkBadge::express);
    EXPECT_EQ(badge("java", {"java", "-jar", "spring-boot-app.jar"}), FrameworkBadge::boot);
    EXPECT_EQ(badge("java", {"gradlew", "bootRun"}), FrameworkBadge::boot);
    EXPECT_EQ(badge("node", {"node", "docker-compose"}), FrameworkBadge::docker);
    // The path is part of the text too.
    EXPECT_EQ(badge("x", {}, "/opt/Docker/bin/x"), FrameworkBadge::docker);
    EXPECT_EQ(badge("node", {"node", "server.js"}), std::nullopt);
}

TEST(FrameworkBadgeTest, EarlierRulesWin) {
    EXPECT_EQ(badge("node", {"node", "vite", "express"}), FrameworkBadge::vite);
    EXPECT_EQ(badge("node", {"next", "vite"}), FrameworkBadge::next);
    EXPECT_EQ(badge("go", {"go", "run", "express.go"}), FrameworkBadge::go);
    EXPECT_EQ(badge("postgres", {"postgres", "docker"}), FrameworkBadge::docker);
    EXPECT_EQ(badge("python3", {"python3", "-m", "http.server"}), FrameworkBadge::python);
    EXPECT_EQ(badge("python3", {"python3", "rails_mock.py"}), FrameworkBadge::rails);
}

TEST(FrameworkBadgeTest, GoNeedsTheExactNameOrASpacedGoRun) {
    EXPECT_EQ(badge("go", {"go", "build"}), FrameworkBadge::go);
    EXPECT_EQ(badge("Go", {"Go", "build"}), std::nullopt);
    EXPECT_EQ(badge("gopls", {"gopls"}), std::nullopt);
    EXPECT_EQ(badge("sh", {"sh", "-c", "go run main.go"}), FrameworkBadge::go);
    // A trailing "go run" has no space after it.
    EXPECT_EQ(badge("sh", {"sh", "-c", "go run"}), std::nullopt);
    // Upper case in the text is lowered before the search.
    EXPECT_EQ(badge("sh", {"sh", "GO RUN main.go"}), FrameworkBadge::go);
}

TEST(FrameworkBadgeTest, ServerRulesLookAtTheExactExecutableNameOnly) {
    EXPECT_EQ(badge("postgres", {}, "/usr/local/bin/postgres"), FrameworkBadge::postgres);
    EXPECT_EQ(badge("Postgres", {}, "/usr/local/bin/Postgres"), std::nullopt);
    EXPECT_EQ(badge("redis-server", {"redis-server", "*:6379"}), FrameworkBadge::redis);
    EXPECT_EQ(badge("python3.12", {}), FrameworkBadge::python);
    // Named only in the arguments or the path: no badge from these rules.
    EXPECT_EQ(badge("wrapper", {"wrapper", "postgres"}, "/opt/redis/python"), std::nullopt);
}

TEST(ProjectHintTest, DocumentsThenUsersWithinOneCandidate) {
    EXPECT_EQ(projectHint({"/Users/alice/Documents/shop/web/server.js"}, std::nullopt, ""), "shop");
    EXPECT_EQ(projectHint({"/Users/alice/code/shop/server.js"}, std::nullopt, ""), "code");
    EXPECT_EQ(projectHint({"/Users/alice/app"}, std::nullopt, ""), "app");
    // A "Documents" at the end does not stop the search: "Users" is tried.
    EXPECT_EQ(projectHint({"/Users/alice/Documents"}, std::nullopt, ""), "Documents");
    EXPECT_EQ(projectHint({"/srv/Documents/wiki"}, std::nullopt, ""), "wiki");
    // Exact, case-sensitive component names.
    EXPECT_EQ(projectHint({"/users/alice/app", "/home/documents/x"}, std::nullopt, ""),
              std::nullopt);
}

TEST(ProjectHintTest, CandidatesInOrderArgumentsThenDirectoryThenPath) {
    EXPECT_EQ(
        projectHint({"node", "/Users/a/first/x.js"}, "/Users/a/second", "/Users/a/third/node"),
        "first");
    EXPECT_EQ(projectHint({"--port", "3000"}, "/Users/alice/projects/api", "/Users/a/third/node"),
              "projects");
    EXPECT_EQ(projectHint({"node"}, std::nullopt, "/Users/a/third/node"), "third");
    EXPECT_EQ(projectHint({"--port", "3000"}, std::nullopt, "/usr/local/bin/node"), std::nullopt);
    // Too short to name a project: the next candidate is tried.
    EXPECT_EQ(projectHint({"/Users/alice"}, "/Users/alice/svc", ""), "svc");
    EXPECT_EQ(projectHint({"/Users"}, std::nullopt, "/"), std::nullopt);
}

TEST(ProjectHintTest, RelativeCandidatesSplitAsIfRootedAndIgnoreOurOwnDirectory) {
    EXPECT_EQ(projectHint({"-Dconfig=/Users/alice/svc/app.yml"}, std::nullopt, ""), "svc");
    EXPECT_EQ(projectHint({"Users/bob/tools/run.sh"}, std::nullopt, ""), "tools");
    EXPECT_EQ(projectHint({"Documents/notes"}, std::nullopt, ""), "notes");

    // Even when this process runs inside a folder that would give a hint, a
    // bare argument like server.js gives none.
    testing::TempDir dir;
    const std::string inside = dir.makeDir("Users/carol/Documents/mine");
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(inside);
    const auto hint = projectHint({"node", "server.js"}, std::nullopt, "node");
    std::filesystem::current_path(before);
    EXPECT_EQ(hint, std::nullopt);
}

}  // namespace
}  // namespace halvo
