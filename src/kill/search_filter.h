// Which rows a search query shows: a port expression selects by port alone,
// anything else is free text matched against each row's search text.
#pragma once

#include <bitset>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/port_records.h"

namespace halvo {

// Ports 1...65535.
using PortSet = std::bitset<65536>;

// The query without surrounding white space, lower-cased and in canonical
// form, as it is matched; an empty result shows every row.
std::string normalizeQuery(std::string_view query);

std::vector<PortProcess> filterProcesses(const std::vector<PortProcess>& processes,
                                         std::string_view query);

// The ports of a normalised query made only of ports, lists and ranges
// ("3000", "3000,5173", "5432-5434", "3000..3010"); nothing otherwise.
std::optional<PortSet> parsePortQuery(std::string_view query);

// Why a normalised query made only of digits and port separators is no port
// expression ("0 is not a port (1–65535)"); nothing for a valid expression and
// for text, which holds some other character.
std::optional<std::string> portQueryError(std::string_view query);

}  // namespace halvo
