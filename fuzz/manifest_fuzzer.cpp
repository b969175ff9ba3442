// Project manifests, read in part from any folder a server runs in. The first
// byte picks the file name, the rest is its text. A name gives only its own
// badges, and a badge is only ever read from a text that names it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "check.h"
#include "scan/project_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using halvo::FrameworkBadge;
    constexpr std::string_view kNames[] = {"package.json", "Gemfile",          "pom.xml",
                                           "build.gradle", "build.gradle.kts", "go.mod"};
    if (size == 0) {
        return 0;
    }
    const std::string_view name = kNames[data[0] % std::size(kNames)];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::optional<FrameworkBadge> badge = halvo::manifestBadge(name, text);
    if (!badge) {
        return 0;
    }
    const auto names = [&](std::string_view word) {
        return text.find(word) != std::string_view::npos;
    };
    if (name == "package.json") {
        FUZZ_CHECK((*badge == FrameworkBadge::next && names("\"next\"")) ||
                   (*badge == FrameworkBadge::vite && names("\"vite\"")) ||
                   (*badge == FrameworkBadge::express && names("\"express\"")));
    } else if (name == "Gemfile") {
        FUZZ_CHECK(*badge == FrameworkBadge::rails && names("rails"));
    } else {
        FUZZ_CHECK(name != "go.mod");
        FUZZ_CHECK(*badge == FrameworkBadge::boot && names("spring"));
    }
    return 0;
}
