// Search queries: the normalised query is trimmed valid text, a port set
// holds only ports 1-65535, a lone number selects exactly its port, and the
// filter returns rows of its input (on a port query, in port then PID order).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "check.h"
#include "kill/search_filter.h"

namespace {

halvo::PortProcess row(int64_t port, int32_t pid, std::string name, std::string directory) {
    halvo::PortProcess p;
    p.port = port;
    p.pid = pid;
    p.executableName = name;
    p.executablePath = "/usr/bin/" + name;
    p.arguments = {name, "--port", std::to_string(port)};
    p.workingDirectory = directory;
    return p;
}

const std::vector<halvo::PortProcess>& rows() {
    static const std::vector<halvo::PortProcess> table = {
        row(8000, 4100, "python3", "/home/dev/Straße"),
        row(3000, 4242, "node", "/home/dev/shop"),
        row(3000, 4243, "node", "/home/dev/shop"),
        row(5173, 70001, "vite", "/home/dev/ＡＰＰ"),
        row(65535, 9, "ruby", "/srv/e\xCC\x81t\xC3\xA9"),
    };
    return table;
}

bool isAsciiSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view query(reinterpret_cast<const char*>(data), size);

    const std::string normalized = halvo::normalizeQuery(query);
    FUZZ_CHECK(halvo::isValidUtf8(normalized));
    FUZZ_CHECK(normalized.empty() ||
               (!isAsciiSpace(normalized.front()) && !isAsciiSpace(normalized.back())));

    if (const auto ports = halvo::parsePortQuery(normalized)) {
        FUZZ_CHECK(ports->any() && !ports->test(0));
        const auto number = halvo::parseInt64(normalized);
        if (number && normalized.find_first_not_of("0123456789") == std::string::npos) {
            FUZZ_CHECK(ports->count() == 1 && ports->test(static_cast<size_t>(*number)));
        }
    }

    const auto found = halvo::filterProcesses(rows(), query);
    FUZZ_CHECK(found.size() <= rows().size());
    for (const auto& p : found) {
        FUZZ_CHECK(std::find(rows().begin(), rows().end(), p) != rows().end());
    }
    if (!normalized.empty()) {
        if (const auto ports = halvo::parsePortQuery(normalized)) {
            for (size_t i = 0; i < found.size(); ++i) {
                FUZZ_CHECK(ports->test(static_cast<size_t>(found[i].port)));
                FUZZ_CHECK(i == 0 || std::pair(found[i - 1].port, found[i - 1].pid) <
                                         std::pair(found[i].port, found[i].pid));
            }
        }
    }
    return 0;
}
