// The project a server runs in: the nearest folder at or above its working
// directory that holds a project manifest, and the framework that folder's
// manifests declare. A few fstatat calls per folder, and at most the first
// kManifestReadLimit bytes of a manifest that is a regular file of the user's.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "scan/port_records.h"

namespace halvo {

inline constexpr size_t kManifestReadLimit = 64 * 1024;

// $HOME when it is absolute, else the user's entry in the password database,
// with its links resolved; empty when neither names a folder.
std::string homeFolder();

// What one manifest's text declares, whatever its length or wherever it was
// cut: next, vite or express among package.json's dependencies, the rails gem
// in a Gemfile, spring-boot in pom.xml, build.gradle or build.gradle.kts;
// nothing for any other name.
std::optional<FrameworkBadge> manifestBadge(std::string_view name, std::string_view text);

// Answers for one scan: each folder is looked at once and each root's
// manifests read once, however many rows share them. Not for use across
// scans (projects come and go) nor from several threads.
class ProjectRootResolver final {
  public:
    // Walks stop at `home` for folders inside it and at "/" for the others.
    // Only manifests that `owner` owns count, as roots and as badges.
    explicit ProjectRootResolver(std::string home, uid_t owner = getuid());

    // The nearest folder at or above `workingDirectory` that holds package.json,
    // go.mod, Cargo.toml, pyproject.toml, Gemfile, pom.xml, build.gradle,
    // build.gradle.kts or .git. Nothing for a relative path.
    std::optional<std::string> projectRoot(const std::string& workingDirectory);

    // What the manifests of `root` declare: next, vite or express (in that
    // order) among package.json's dependencies or devDependencies, the rails
    // gem in a Gemfile, spring-boot in pom.xml or build.gradle(.kts).
    std::optional<FrameworkBadge> declaredBadge(const std::string& root);

  private:
    std::optional<std::string> readManifest(int folder, const char* name) const;

    std::string home_;
    uid_t owner_;
    std::unordered_map<std::string, std::optional<std::string>> roots_;      // by folder
    std::unordered_map<std::string, std::optional<FrameworkBadge>> badges_;  // by root
};

}  // namespace halvo
