#include "kill/search_filter.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>

#include "base/text.h"

namespace halvo {
namespace {

constexpr int64_t kFirstPort = 1;
constexpr int64_t kLastPort = 65535;

// White space and line breaks as Unicode defines them (tab, line feed, NEL,
// no-break space, the typographic spaces, line and paragraph separators...).
bool isWhiteSpace(UChar32 c) {
    if (c < 0x80) {
        return c == ' ' || (c >= '\t' && c <= '\r');
    }
    return u_isUWhiteSpace(c);
}

bool isSeparator(UChar32 c) {
    return c == ',' || c == ';' || isWhiteSpace(c);
}

// Splits at every occurrence of `separator`, keeping empty parts.
std::vector<std::string_view> splitAll(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t found = text.find(separator, start);
        if (found == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, found - start));
        start = found + separator.size();
    }
}

// The local addresses Halvo, lsof and ss print before a port.
constexpr std::string_view kAddresses[] = {"localhost", "127.0.0.1", "[::1]",
                                           "[::]",      "0.0.0.0",   "*"};

// "3000" for ":3000" and "localhost:3000": the notation Halvo prints names the
// port, never text to look for in a command line.
std::string_view withoutAddress(std::string_view text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return text;
    }
    const std::string_view address = text.substr(0, colon);
    const bool local =
        address.empty() || std::ranges::find(kAddresses, address) != std::end(kAddresses);
    return local ? text.substr(colon + 1) : text;
}

// The query with every address before a port cut off, so that "localhost:0"
// reads as port notation rather than text.
std::string withoutAddresses(std::string_view query) {
    std::string text(query);
    for (std::string_view address : kAddresses) {
        const std::string prefix = std::string(address) + ':';
        for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at)) {
            text.erase(at, address.size());
        }
    }
    return text;
}

bool hasLetterOrDigit(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        if (u_isalnum(c)) {
            return true;
        }
    }
    return false;
}

std::optional<int64_t> parsePort(std::string_view text) {
    const std::optional<int64_t> n = parseInt64(withoutAddress(text));
    if (!n || *n < kFirstPort || *n > kLastPort) {
        return std::nullopt;
    }
    return n;
}

bool addPortRange(const std::vector<std::string_view>& parts, PortSet& ports) {
    if (parts.size() != 2) {
        return false;
    }
    const std::optional<int64_t> a = parsePort(parts[0]);
    const std::optional<int64_t> b = parsePort(parts[1]);
    if (!a || !b) {
        return false;
    }
    const auto low = static_cast<size_t>(std::min(*a, *b));
    const auto high = static_cast<size_t>(std::max(*a, *b));
    // Word-wise shifts rather than a bit at a time: 1-65535 stays cheap.
    PortSet range;
    range.set();
    range >>= ports.size() - 1 - (high - low);
    range <<= low;
    ports |= range;
    return true;
}

bool addPortTerm(std::string_view term, PortSet& ports) {
    // ".." goes first: "3000..3005" is a range although it has no "-".
    if (term.find("..") != std::string_view::npos) {
        return addPortRange(splitAll(term, ".."), ports);
    }
    if (term.find('-') != std::string_view::npos) {
        return addPortRange(splitAll(term, "-"), ports);
    }
    const std::optional<int64_t> port = parsePort(term);
    if (!port) {
        return false;
    }
    ports.set(static_cast<size_t>(*port));
    return true;
}

// The pieces between separators; empty pieces dropped.
std::vector<std::string_view> portTerms(std::string_view query) {
    std::vector<std::string_view> terms;
    const auto* s = reinterpret_cast<const uint8_t*>(query.data());
    const int32_t length = static_cast<int32_t>(query.size());
    int32_t termStart = 0;
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        if (isSeparator(c)) {
            if (start > termStart) {
                terms.push_back(query.substr(static_cast<size_t>(termStart),
                                             static_cast<size_t>(start - termStart)));
            }
            termStart = i;
        }
    }
    if (length > termStart) {
        terms.push_back(query.substr(static_cast<size_t>(termStart)));
    }
    return terms;
}

bool inPortSet(int64_t port, const PortSet& ports) {
    return port >= kFirstPort && port <= kLastPort && ports.test(static_cast<size_t>(port));
}

std::vector<size_t> rowsOnPorts(const std::vector<PortProcess>& processes, const PortSet& ports) {
    std::vector<size_t> matches;
    for (size_t i = 0; i < processes.size(); ++i) {
        if (inPortSet(processes[i].port, ports)) {
            matches.push_back(i);
        }
    }
    std::stable_sort(matches.begin(), matches.end(), [&](size_t a, size_t b) {
        const PortProcess& x = processes[a];
        const PortProcess& y = processes[b];
        if (x.port != y.port) {
            return x.port < y.port;
        }
        return x.pid < y.pid;
    });
    return matches;
}

// `query` is normalised; both sides are compared in canonical form.
std::vector<size_t> rowsContaining(const std::vector<std::string>& texts, std::string_view query) {
    std::vector<size_t> matches;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].find(query) != std::string::npos) {
            matches.push_back(i);
        }
    }
    return matches;
}

}  // namespace

std::string normalizeQuery(std::string_view query) {
    const std::string valid = decodeUtf8Lossy(query);
    return normalizeCanonical(toLower(trimWhiteSpace(valid)));
}

std::optional<PortSet> parsePortQuery(std::string_view query) {
    const std::vector<std::string_view> terms = portTerms(query);
    if (terms.empty()) {
        return std::nullopt;
    }
    PortSet ports;
    for (std::string_view term : terms) {
        if (!addPortTerm(term, ports)) {
            return std::nullopt;
        }
    }
    if (ports.none()) {
        return std::nullopt;
    }
    return ports;
}

std::optional<std::string> portExpressionError(std::string_view query) {
    if (parsePortQuery(query)) {
        return std::nullopt;
    }
    const std::string notation = withoutAddresses(query);
    if (notation.find_first_not_of("0123456789,;-.+: \t") != std::string::npos ||
        notation.find_first_of("0123456789") == std::string::npos) {
        return std::nullopt;
    }
    for (std::string_view term : portTerms(query)) {
        PortSet ignored;
        if (addPortTerm(term, ignored)) {
            continue;
        }
        if (const std::optional<int64_t> n = parseInt64(withoutAddress(term))) {
            return std::to_string(*n) + " is not a port (1\u201365535)";
        }
        return std::string(term) + " is not a port, a list or a range of ports (1\u201365535)";
    }
    return "not a port expression";
}

std::optional<std::string> portQueryError(std::string_view query) {
    if (std::optional<std::string> error = portExpressionError(query)) {
        return error;
    }
    // "." or "-" would match nearly every row.
    if (query.empty() || hasLetterOrDigit(query)) {
        return std::nullopt;
    }
    return std::string(query) + " is no port and has no letter or digit to search for";
}

std::vector<std::string> canonicalSearchTexts(const std::vector<PortProcess>& processes) {
    std::vector<std::string> texts;
    texts.reserve(processes.size());
    for (const PortProcess& p : processes) {
        std::string text;
        p.appendSearchText(text);
        texts.push_back(lowerAsciiInPlace(text) ? std::move(text)
                                                : normalizeCanonical(toLower(text)));
    }
    return texts;
}

std::vector<size_t> matchingRows(const std::vector<PortProcess>& processes,
                                 const std::vector<std::string>& texts, std::string_view query) {
    const std::string q = normalizeQuery(query);
    if (q.empty()) {
        std::vector<size_t> all(processes.size());
        std::iota(all.begin(), all.end(), size_t{0});
        return all;
    }
    if (const std::optional<PortSet> ports = parsePortQuery(q)) {
        return rowsOnPorts(processes, *ports);
    }
    return rowsContaining(texts, q);
}

std::vector<PortProcess> filterProcesses(const std::vector<PortProcess>& processes,
                                         std::string_view query) {
    // Only a text query reads the texts; building them costs more than a
    // port query over ten thousand rows.
    const std::string q = normalizeQuery(query);
    const bool byText = !q.empty() && !parsePortQuery(q);
    const std::vector<size_t> matches = matchingRows(
        processes, byText ? canonicalSearchTexts(processes) : std::vector<std::string>{}, q);
    std::vector<PortProcess> rows;
    rows.reserve(matches.size());
    for (size_t i : matches) {
        rows.push_back(processes[i]);
    }
    return rows;
}

}  // namespace halvo
