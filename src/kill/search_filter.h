// Which rows a search query shows: a port expression selects by port alone,
// anything else is free text matched against each row's search text. A port
// may be written as Halvo prints it, ":3000", or after a local address
// ("localhost:3000"; 127.0.0.1, [::1], [::], 0.0.0.0 and * alike).
#pragma once

#include <bitset>
#include <cstddef>
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

// The rows `query` shows, in the order shown: every row for an empty query,
// the rows on its ports by port then PID for a port expression, otherwise the
// rows whose search text holds it, in list order.
std::vector<PortProcess> filterProcesses(const std::vector<PortProcess>& processes,
                                         std::string_view query);

// The texts free-text queries are matched against, one a row: each row's
// search text, lower-cased and in canonical form. Callers that filter the same
// rows on every key press keep them with the rows rather than derive them each
// time.
std::vector<std::string> canonicalSearchTexts(const std::vector<PortProcess>& processes);

// The indices into `processes` of the rows filterProcesses() would return, in
// its order; `texts` is canonicalSearchTexts(processes), and is read only
// for a query that is neither empty nor a port expression.
std::vector<size_t> matchingRows(const std::vector<PortProcess>& processes,
                                 const std::vector<std::string>& texts, std::string_view query);

// The ports of a normalised query made only of ports, lists and ranges
// ("3000", "3000,5173", "5432-5434", "3000..3010", ":3000,localhost:5173");
// nothing otherwise.
std::optional<PortSet> parsePortQuery(std::string_view query);

// Why a normalised query made only of digits, signs, port separators and
// addresses is no port expression ("0 is not a port (1–65535)" for "+0" or
// ":0"); nothing for a valid expression and for text, which holds some other
// character.
std::optional<std::string> portExpressionError(std::string_view query);

// Why `kill` refuses a normalised query word: portExpressionError(), or a word
// with no letter or digit (".", "-", "::"), which would match nearly every
// row as text. Nothing for a blank word, which a kill skips.
std::optional<std::string> portQueryError(std::string_view query);

}  // namespace halvo
