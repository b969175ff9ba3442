#include "scan/project_root.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_process.h"

namespace halvo {
namespace {

using enum FrameworkBadge;

// Stand-ins for entries that are no plain file.
const std::string kFifo = "<fifo>";
const std::string kLinkOut = "<link to a package.json outside>";

std::string packageJson(const std::string& dependencies, const std::string& before = "") {
    return R"({"name": "app", )" + before + R"("dependencies": {)" + dependencies + "}}";
}

// Folder trees in a temporary folder whose "home" stands for the home folder.
TEST(ProjectRootTest, FolderTrees) {
    struct Case {
        std::string name;
        std::vector<std::pair<std::string, std::string>> entries;  // path, text or stand-in
        std::string start;
        std::optional<std::string> root;  // "" for the temporary folder itself
        std::optional<FrameworkBadge> badge;
        bool othersFiles = false;  // the manifests belong to someone else
    };
    const std::vector<Case> cases = {
        {"the nearest manifest wins",
         {{"home/shop/package.json", packageJson(R"("express": "4")")},
          {"home/shop/web/package.json", packageJson(R"("vite": "5")")}},
         "home/shop/web/src/pages",
         "home/shop/web",
         vite},
        {".git counts, as a worktree's file too",
         {{"home/repo/.git", "gitdir: /elsewhere"}},
         "home/repo/cmd",
         "home/repo",
         std::nullopt},
        {"the walk stops at home", {{"package.json", packageJson("")}}, "home/code/app", {}, {}},
        {"outside home it walks on up", {{"go.mod", "module x"}}, "srv/app/bin", "", {}},
        {"a link out of the user's files marks the root but is never read",
         {{"home/l/package.json", kLinkOut}},
         "home/l",
         "home/l",
         std::nullopt},
        {"a FIFO is never opened", {{"home/f/package.json", kFifo}}, "home/f", "home/f", {}},
        {"a huge manifest is read only in part",
         {{"home/h/package.json",
           packageJson(R"("express": "4")",
                       R"("description": ")" + std::string(kManifestReadLimit, 'x') + R"(", )")}},
         "home/h",
         "home/h",
         std::nullopt},
        {"another user's manifest neither roots nor badges",
         {{"home/o/package.json", packageJson(R"("express": "4")")}},
         "home/o",
         std::nullopt,
         std::nullopt,
         true},
    };
    testing::TempDir outside;
    outside.writeFile("package.json", packageJson(R"("express": "4")"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir tmp;
        const auto at = [&](const std::string& relative) {
            return relative.empty() ? tmp.path() : tmp.path() + "/" + relative;
        };
        for (const auto& [path, text] : c.entries) {
            std::filesystem::create_directories(std::filesystem::path(at(path)).parent_path());
            if (text == kFifo) {
                ASSERT_EQ(mkfifo(at(path).c_str(), 0644), 0);
            } else if (text == kLinkOut) {
                std::filesystem::create_symlink(outside.path() + "/package.json", at(path));
            } else {
                tmp.writeFile(path, text);
            }
        }
        tmp.makeDir(c.start);
        ProjectRootResolver resolver(at("home"), c.othersFiles ? getuid() + 1 : getuid());
        const std::optional<std::string> root = resolver.projectRoot(at(c.start));
        EXPECT_EQ(root, c.root ? std::optional(at(*c.root)) : std::nullopt);
        EXPECT_EQ(root ? resolver.declaredBadge(*root) : std::nullopt, c.badge);
    }
}

// What a root declares, each case the root's only manifest, which marks it too.
TEST(ProjectRootTest, DeclaredBadges) {
    const struct {
        const char* file;
        std::string text;
        std::optional<FrameworkBadge> badge;
    } cases[] = {
        // Names outside the dependencies are no badge.
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
        SCOPED_TRACE(c.text);
        testing::TempDir tmp;
        tmp.writeFile(c.file, c.text);
        ProjectRootResolver resolver(tmp.path());
        EXPECT_EQ(resolver.projectRoot(tmp.makeDir("src")), tmp.path());
        EXPECT_EQ(resolver.declaredBadge(tmp.path()), c.badge);
    }
}

}  // namespace
}  // namespace halvo
