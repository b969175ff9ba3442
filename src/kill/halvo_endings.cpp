#include "kill/halvo_endings.h"

#include <fcntl.h>

#include <cstdlib>

#include "base/file_reading.h"
#include "base/file_writing.h"
#include "base/text.h"

namespace halvo {
namespace {

// "SECONDS PID PORT" a line, seconds since the epoch.
struct Line {
    int64_t at = 0;
    int32_t pid = 0;
    int64_t port = 0;
};

int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::vector<Line> recentLines(const std::string& path) {
    std::vector<Line> lines;
    const auto text = readAll(UniqueFd(open(path.c_str(), O_RDONLY | O_CLOEXEC)));
    if (!text) {
        return lines;
    }
    const int64_t oldest = nowSeconds() - HalvoEndings::kRememberFor.count();
    for (std::string_view line : splitNonEmpty(*text, '\n')) {
        const auto fields = splitNonEmpty(line, ' ');
        if (fields.size() != 3) {
            continue;
        }
        const auto at = parseInt64(fields[0]);
        const auto pid = parseInt32(fields[1]);
        const auto port = parseInt64(fields[2]);
        if (at && pid && port && *at >= oldest) {
            lines.push_back({*at, *pid, *port});
        }
    }
    return lines;
}

}  // namespace

std::optional<HalvoEndings> HalvoEndings::forThisSession() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        return std::nullopt;
    }
    return HalvoEndings(std::string(runtime) + "/halvo/endings");
}

void HalvoEndings::record(const std::vector<KillGroup>& groups) const {
    std::vector<Line> lines = recentLines(path_);
    const int64_t now = nowSeconds();
    for (const KillGroup& group : groups) {
        for (const PortProcess& row : group.rows) {
            lines.push_back({now, row.pid, row.port});
        }
    }
    std::string text;
    for (const Line& line : lines) {
        text += std::to_string(line.at) + ' ' + std::to_string(line.pid) + ' ' +
                std::to_string(line.port) + '\n';
    }
    replaceFileAtomically(path_, text);  // best effort: a kill never fails for its note
}

std::set<std::pair<int32_t, int64_t>> HalvoEndings::endedLately() const {
    std::set<std::pair<int32_t, int64_t>> ended;
    for (const Line& line : recentLines(path_)) {
        ended.emplace(line.pid, line.port);
    }
    return ended;
}

}  // namespace halvo
