// The working-directory listing from `lsof -F pn`: one directory per process
// block, a line of valid text each.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/text.h"
#include "check.h"
#include "scan/process_resolver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text =
        halvo::decodeUtf8Lossy(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto directories = halvo::parseWorkingDirectoryListing(text);

    size_t processLines = 0;
    for (std::string_view line : halvo::splitNonEmpty(text, '\n')) {
        processLines += line.front() == 'p' ? 1 : 0;
    }
    FUZZ_CHECK(directories.size() <= processLines);
    for (const auto& [pid, directory] : directories) {
        FUZZ_CHECK(text.find(directory) != std::string::npos);
        FUZZ_CHECK(directory.find('\n') == std::string::npos);
        FUZZ_CHECK(halvo::isValidUtf8(directory));
    }
    return 0;
}
