// The role of a discovery back-end: which processes listen on which TCP ports.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "scan/port_records.h"

namespace halvo {

// One listening socket as a back-end saw it, whether or not it could tell
// which processes hold it.
struct SeenListener {
    int64_t port = 0;
    uint32_t uid = 0;           // the socket's owner
    std::vector<int32_t> pids;  // the processes found holding it; none were readable when empty

    bool operator==(const SeenListener&) const = default;
};

// The rows, and every listening socket the back-end saw while finding them.
// Empty when the back-end looked and found nothing: that is an answer.
struct Discovery {
    std::vector<LsofRow> rows;
    std::vector<SeenListener> listeners;  // empty from a back-end that cannot tell

    bool operator==(const Discovery&) const = default;
};

class PortDiscovering {
  public:
    virtual ~PortDiscovering() = default;
    // Blocking and thread-safe. Never fails: whatever cannot be read contributes
    // no rows, so an empty list means nothing was found or nothing was readable.
    virtual std::vector<LsofRow> rows() = 0;
    // rows() and the sockets seen meanwhile; a back-end that sees only what it
    // matched (lsof) reports no sockets. None when the back-end could not look
    // at all (no process table, no socket table), which another may still do.
    virtual std::optional<Discovery> discover() { return Discovery{rows(), {}}; }
};

}  // namespace halvo
