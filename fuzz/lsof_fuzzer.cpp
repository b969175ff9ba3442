// lsof field output, as the scan decodes it: every row comes from one "n"
// line of a process block, and keeps the text valid.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string_view>

#include "base/text.h"
#include "check.h"
#include "scan/lsof_port_discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text =
        halvo::decodeUtf8Lossy(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto rows = halvo::parseRows(text);

    size_t nameLines = 0;
    std::set<int32_t> pids;
    for (std::string_view line : halvo::splitNonEmpty(text, '\n')) {
        if (line.front() == 'n') {
            ++nameLines;
            // A port is the number after a colon of the address.
            if (halvo::portFromName(line.substr(1))) {
                FUZZ_CHECK(line.find(':') != std::string_view::npos);
            }
        } else if (line.front() == 'p') {
            if (const auto pid = halvo::parseInt32(line.substr(1))) {
                pids.insert(*pid);
            }
        }
    }
    FUZZ_CHECK(rows.size() <= nameLines);
    for (const auto& row : rows) {
        FUZZ_CHECK(pids.contains(row.pid));
        FUZZ_CHECK(row.name.find('\n') == std::string::npos);
        FUZZ_CHECK(halvo::isValidUtf8(row.name));
    }
    return 0;
}
