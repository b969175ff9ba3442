// The role of a discovery back-end: which processes listen on which TCP ports.
#pragma once

#include <vector>

#include "scan/port_records.h"

namespace halvo {

class PortDiscovering {
  public:
    virtual ~PortDiscovering() = default;
    // Blocking and thread-safe. Never fails: whatever cannot be read contributes
    // no rows, so an empty list means nothing was found or nothing was readable.
    virtual std::vector<LsofRow> rows() = 0;
};

}  // namespace halvo
