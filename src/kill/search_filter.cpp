#include "kill/search_filter.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
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

std::optional<int64_t> parsePort(std::string_view text) {
    const std::optional<int64_t> n = parseInt64(text);
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

std::vector<PortProcess> rowsOnPorts(const std::vector<PortProcess>& processes,
                                     const PortSet& ports) {
    // Sorting pointers and copying once is far cheaper than moving whole rows.
    std::vector<const PortProcess*> matches;
    for (const PortProcess& p : processes) {
        if (inPortSet(p.port, ports)) {
            matches.push_back(&p);
        }
    }
    std::stable_sort(matches.begin(), matches.end(),
                     [](const PortProcess* a, const PortProcess* b) {
                         if (a->port != b->port) {
                             return a->port < b->port;
                         }
                         return a->pid < b->pid;
                     });
    std::vector<PortProcess> rows;
    rows.reserve(matches.size());
    for (const PortProcess* p : matches) {
        rows.push_back(*p);
    }
    return rows;
}

// Writes each row's search text into one buffer reused across rows: building
// it afresh costs several allocations a row, too much for ten thousand rows
// on every key press.
class SearchTextWriter final {
  public:
    // The row's search text in canonical form; valid until the next call.
    std::string_view canonicalText(const PortProcess& p) {
        buffer_.clear();
        p.appendSearchText(buffer_);
        ascii_ = lowerAsciiInPlace(buffer_);
        if (!ascii_) {
            buffer_ = normalizeCanonical(toLower(buffer_));
        }
        return buffer_;
    }

    // Whether the last text was plain ASCII.
    bool ascii() const { return ascii_; }

  private:
    std::string buffer_;
    bool ascii_ = true;
};

// `query` is normalised; both sides are compared in canonical form.
std::vector<PortProcess> rowsContaining(const std::vector<PortProcess>& processes,
                                        std::string_view query) {
    // A non-ASCII query cannot occur in an ASCII text.
    const bool asciiQuery = isAscii(query);
    SearchTextWriter writer;
    std::vector<PortProcess> rows;
    for (const PortProcess& p : processes) {
        const std::string_view text = writer.canonicalText(p);
        if ((asciiQuery || !writer.ascii()) && text.find(query) != std::string_view::npos) {
            rows.push_back(p);
        }
    }
    return rows;
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

std::optional<std::string> portQueryError(std::string_view query) {
    if (query.find_first_not_of("0123456789,;-. \t") != std::string_view::npos ||
        query.find_first_of("0123456789") == std::string_view::npos || parsePortQuery(query)) {
        return std::nullopt;
    }
    for (std::string_view term : portTerms(query)) {
        PortSet ignored;
        if (addPortTerm(term, ignored)) {
            continue;
        }
        if (const std::optional<int64_t> n = parseInt64(term)) {
            return std::to_string(*n) + " is not a port (1\u201365535)";
        }
        return std::string(term) + " is not a port, a list or a range of ports (1\u201365535)";
    }
    return "not a port expression";
}

std::vector<PortProcess> filterProcesses(const std::vector<PortProcess>& processes,
                                         std::string_view query) {
    const std::string q = normalizeQuery(query);
    if (q.empty()) {
        return processes;
    }
    if (const std::optional<PortSet> ports = parsePortQuery(q)) {
        return rowsOnPorts(processes, *ports);
    }
    return rowsContaining(processes, q);
}

}  // namespace halvo
