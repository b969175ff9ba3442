// Listening ports that are taken but not listed as the user's development
// servers, and how Halvo says so: the same words in halvo-cli and in the kill
// panel, so that a taken port never looks free.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scan/port_records.h"

namespace halvo {

// The listeners a query names: every one for an empty query, those on the
// ports of a port expression, none for text (they have no process to match).
// In the order given.
std::vector<ForeignListener> foreignListenersMatching(const std::vector<ForeignListener>& foreign,
                                                      std::string_view query);

// "Port 5432 is held by user postgres; Halvo can only end your own processes";
// for a socket of the current user that no readable process holds, "Port 8080
// is taken, but no process of yours that Halvo can read holds it".
std::string heldByOthersText(const ForeignListener& listener);

// The user's own listeners that the development filter hid (PortScan::
// notDevelopment) on the ports a port expression names; none for an empty
// or a text query. In the order given.
std::vector<LsofRow> hiddenListenersMatching(const std::vector<LsofRow>& hidden,
                                             std::string_view query);

// "Port 5432 is held by your postgres (PID 812), not a development server".
std::string notDevelopmentText(const LsofRow& listener);

}  // namespace halvo
