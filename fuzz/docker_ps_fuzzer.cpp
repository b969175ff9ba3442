// What Docker answers: `docker ps` lines, the engine's JSON list, and the
// HTTP answer that carries the list. The first input line lists the ports asked
// about ("5432,6379"); the rest is the answer, read all three ways. Names are
// whole fields, IDs full ones, services and commands valid UTF-8, ports real
// host ports, and only the ports asked about get a context. A parser holds
// memory in proportion to its input, never a port list per range it reads.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string_view>

#include "base/text.h"
#include "check.h"
#include "scan/docker_container_list.h"
#include "scan/docker_ps_listing.h"
#include "scan/docker_resolver.h"
#include "scan/unix_http.h"

namespace {

// The most heap a parse held above what it started with; the hooks count
// only while `counting`. A fuzzer's own bookkeeping, on one thread.
struct Heap {
    bool counting = false;
    size_t live = 0;
    size_t peak = 0;
};

Heap& heap() {
    static Heap instance;
    return instance;
}

void onMalloc(const volatile void*, size_t size) {
    Heap& h = heap();
    if (h.counting) {
        h.live += size;
        h.peak = std::max(h.peak, h.live);
    }
}

void onFree(const volatile void* pointer) {
    Heap& h = heap();
    if (h.counting && pointer != nullptr) {
        h.live -= std::min(h.live, __sanitizer_get_allocated_size(pointer));
    }
}

// `parse()`, checking that it held no more than a fixed share per input byte:
// a list per repeated range (65,535 ports in 23 bytes) breaks it at once.
template <typename Parse>
auto bounded(size_t inputSize, Parse parse) {
    heap() = {true, 0, 0};
    auto result = parse();
    heap().counting = false;
    FUZZ_CHECK(heap().peak <= (size_t{1} << 20) + 256 * inputSize);
    return result;
}

void checkName(const std::optional<std::string>& name) {
    if (name) {
        FUZZ_CHECK(!name->empty());
        FUZZ_CHECK(name->find('\n') == std::string::npos);
        FUZZ_CHECK(name->find('|') == std::string::npos);
        FUZZ_CHECK(halvo::isValidUtf8(*name));
    }
}

void check(const std::vector<halvo::DockerContainer>& containers, const std::set<int64_t>& ports) {
    size_t published = 0;
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
        FUZZ_CHECK(container.command.size() <= halvo::kContainerCommandLimit);
        int64_t after = 0;  // ascending ranges with a gap between each two
        for (const halvo::PortRange& range : container.tcpPorts.ranges()) {
            FUZZ_CHECK(range.first >= 1 && (after == 0 || range.first > after + 1));
            FUZZ_CHECK(range.first <= range.last && range.last <= 65535);
            after = range.last;
            published += static_cast<size_t>(range.last - range.first + 1);
        }
    }
    for (const auto& [port, context] : halvo::contextsOfPorts(containers, ports)) {
        FUZZ_CHECK(ports.contains(port));
        checkName(context.containerName);
    }
    // One entry per port, each with the name of the container to stop; only
    // for a few ports, so that wide ranges do not slow the search down.
    if (published > 4096) {
        return;
    }
    const std::vector<halvo::PublishedPort> rows = halvo::publishedPortsOf(containers);
    for (size_t i = 0; i < rows.size(); ++i) {
        FUZZ_CHECK(rows[i].context.containerName);
        FUZZ_CHECK(i == 0 || rows[i - 1].port < rows[i].port);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
    return 0;
}

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
    check(bounded(text.size(), [&] { return halvo::parseDockerPs(text); }), ports);
    if (const auto containers =
            bounded(text.size(), [&] { return halvo::parseContainerList(text); })) {
        check(*containers, ports);
    }
    if (const auto answer = halvo::parseHttpAnswer(text)) {
        FUZZ_CHECK(answer->status >= 100 && answer->status <= 999);
        FUZZ_CHECK(answer->body.size() < text.size());
    }
    return 0;
}
