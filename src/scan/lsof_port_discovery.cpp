#include "scan/lsof_port_discovery.h"

#include <utility>

#include "base/executable_lookup.h"
#include "base/text.h"
#include "scan/command_runner.h"

namespace halvo {
namespace {

// Numeric hosts and ports, listening TCP sockets only, field output with the
// command, name, protocol and inode fields (lsof adds "p" and "f" itself).
const std::vector<std::string> kListenArguments = {"-nP", "-iTCP", "-sTCP:LISTEN", "-F", "cnPi"};

}  // namespace

std::optional<int64_t> portFromName(std::string_view name) {
    // "127.0.0.1:8000 (LISTEN)": only the address before the first space counts.
    auto pieces = splitNonEmpty(name, ' ');
    std::string_view address = pieces.empty() ? name : pieces.front();
    auto colon = address.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    // An empty port text fails to parse as well; a number outside 1-65535
    // names no TCP port, whatever printed it.
    const std::optional<int64_t> port = parseInt64(address.substr(colon + 1));
    if (!port || *port < 1 || *port > 65535) {
        return std::nullopt;
    }
    return port;
}

std::vector<LsofRow> parseRows(std::string_view text) {
    std::vector<LsofRow> rows;
    std::optional<int32_t> pid;
    // Kept across "p" lines: a process block without its own "c" line reuses it.
    std::optional<std::string> command;
    for (std::string_view line : splitNonEmpty(text, '\n')) {
        const char tag = line.front();
        const std::string_view value = line.substr(1);
        switch (tag) {
            case 'p':
                pid = parseInt32(value);
                break;
            case 'c':
                command = std::string(value);
                break;
            case 'n':
                if (pid && command) {
                    if (auto port = portFromName(value)) {
                        rows.push_back(LsofRow{*pid, *command, *port});
                    }
                }
                break;
            default:
                break;
        }
    }
    return rows;
}

LsofPortDiscovery::LsofPortDiscovery(std::vector<std::string> lsofPaths)
    : lsofPaths_(std::move(lsofPaths)) {}

std::vector<LsofRow> LsofPortDiscovery::rows() {
    auto lsof = findExecutable(lsofPaths_);
    if (!lsof) {
        return {};
    }
    CommandResult result = runCommand(*lsof, kListenArguments, kLsofBound);
    // lsof exits with 1 when nothing matches: an idle machine gives no rows.
    if (!result.output || result.status != 0) {
        return {};
    }
    return parseRows(decodeUtf8Lossy(*result.output));
}

}  // namespace halvo
