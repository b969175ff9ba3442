// The listeners Halvo is ending, from halvo-cli, the menu or the panel, kept
// for a short while in a file of the user's runtime folder, so that the tray
// application's watch on listening sockets does not report as a stopped
// server what Halvo itself ended. Written before the first signal, since a
// port is free before a kill has done; entries older than kRememberFor count
// for nothing and are dropped at the next write.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kill/kill_batch.h"

namespace halvo {

class HalvoEndings final {
  public:
    static constexpr std::chrono::seconds kRememberFor{120};

    explicit HalvoEndings(std::string path) : path_(std::move(path)) {}
    // "$XDG_RUNTIME_DIR/halvo/endings"; nothing without a runtime folder.
    static std::optional<HalvoEndings> forThisSession();

    // Notes every row of `groups` (PID and port; a container's rows by port)
    // as being ended now. Best effort: a kill never waits on or fails for it.
    void record(const std::vector<KillGroup>& groups) const;
    // The listeners (PID, port) that Halvo noted lately, read at once.
    std::set<std::pair<int32_t, int64_t>> endedLately() const;

  private:
    std::string path_;
};

}  // namespace halvo
