// The fallback discovery back-end: the system lsof tool and its field output.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/executable_lookup.h"
#include "scan/port_discovering.h"

namespace halvo {

// Rows from `lsof -F` field output ("p", "c" and "n" lines; others ignored).
// A malformed line costs only itself.
std::vector<LsofRow> parseRows(std::string_view text);

// The port of one name value such as "*:3000", "[::1]:5432" or
// "127.0.0.1:8000 (LISTEN)"; no port when there is no colon, no number after
// it, or a number outside 1-65535.
std::optional<int64_t> portFromName(std::string_view name);

class LsofPortDiscovery final : public PortDiscovering {
  public:
    explicit LsofPortDiscovery(std::vector<std::string> lsofPaths = kLsofPaths);
    std::vector<LsofRow> rows() override;

  private:
    std::vector<std::string> lsofPaths_;
};

}  // namespace halvo
