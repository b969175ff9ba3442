// What Docker answers: `docker ps` lines, the engine's JSON list, and the
// HTTP answer that carries the list. The first input line lists the ports asked
// about ("5432,6379"); the rest is the answer, read all three ways. Names are
// whole fields, IDs full ones, services and commands valid UTF-8, ports real
// host ports, and only the ports asked about get a context.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string_view>

#include "base/text.h"
#include "check.h"
#include "scan/docker_resolver.h"
#include "scan/unix_http.h"

namespace {

void checkName(const std::optional<std::string>& name) {
    if (name) {
        FUZZ_CHECK(!name->empty());
        FUZZ_CHECK(name->find('\n') == std::string::npos);
        FUZZ_CHECK(name->find('|') == std::string::npos);
        FUZZ_CHECK(halvo::isValidUtf8(*name));
    }
}

void check(const std::vector<halvo::DockerContainer>& containers, const std::set<int64_t>& ports) {
    for (const halvo::DockerContainer& container : containers) {
        checkName(container.context.containerName);
        if (container.context.containerName) {
            FUZZ_CHECK(container.context.containerName->find(',') == std::string::npos);
        }
        if (const auto& service = container.context.composeService) {
            FUZZ_CHECK(!service->empty() && halvo::isValidUtf8(*service));
        }
        if (const auto& id = container.context.containerId) {
            FUZZ_CHECK(halvo::isFullContainerId(*id));
        }
        FUZZ_CHECK(halvo::isValidUtf8(container.command));
        FUZZ_CHECK(std::is_sorted(container.tcpPorts.begin(), container.tcpPorts.end()));
        FUZZ_CHECK(std::adjacent_find(container.tcpPorts.begin(), container.tcpPorts.end()) ==
                   container.tcpPorts.end());
        for (int64_t port : container.tcpPorts) {
            FUZZ_CHECK(port >= 1 && port <= 65535);
        }
    }
    for (const auto& [port, context] : halvo::contextsOfPorts(containers, ports)) {
        FUZZ_CHECK(ports.contains(port));
        checkName(context.containerName);
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
    check(halvo::parseDockerPs(text), ports);
    if (const auto containers = halvo::parseContainerList(text)) {
        check(*containers, ports);
    }
    if (const auto answer = halvo::parseHttpAnswer(text)) {
        FUZZ_CHECK(answer->status >= 100 && answer->status <= 999);
        FUZZ_CHECK(answer->body.size() < text.size());
    }
    return 0;
}
