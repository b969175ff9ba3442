// `docker ps` lines. The first input line lists the ports asked about
// ("5432,6379"); the rest is the tool's output. Only those ports come back,
// each from a line that names it, with names that are whole fields.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string_view>

#include "base/text.h"
#include "check.h"
#include "scan/docker_resolver.h"

namespace {

void checkName(const std::optional<std::string>& name) {
    if (name) {
        FUZZ_CHECK(!name->empty());
        FUZZ_CHECK(name->find('\n') == std::string::npos);
        FUZZ_CHECK(name->find('|') == std::string::npos);
        FUZZ_CHECK(halvo::isValidUtf8(*name));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string decoded =
        halvo::decodeUtf8Lossy(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string_view input = decoded;
    const size_t newline = input.find('\n');
    if (newline == std::string_view::npos) {
        return 0;
    }
    std::set<int64_t> ports;
    for (std::string_view piece : halvo::splitNonEmpty(input.substr(0, newline), ',')) {
        if (const auto port = halvo::parseInt64(piece); port && ports.size() < 8) {
            ports.insert(*port);
        }
    }
    const std::string_view text = input.substr(newline + 1);

    for (const auto& [port, context] : halvo::parseDockerPs(text, ports)) {
        FUZZ_CHECK(ports.contains(port));
        FUZZ_CHECK(text.find(std::to_string(port)) != std::string_view::npos);
        checkName(context.containerName);
        checkName(context.composeService);
    }
    return 0;
}
