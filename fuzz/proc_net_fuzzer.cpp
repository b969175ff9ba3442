// /proc/net/tcp and tcp6 text: at most one listener a line, ports of four hex
// digits, and a line's fate independent of its neighbours.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "check.h"
#include "scan/listening_sockets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    halvo::ListeningSockets whole;
    halvo::addListeningFromProcNetText(text, whole);

    size_t lines = 1;
    halvo::ListeningSockets lineByLine;
    for (std::string_view rest = text;;) {
        const size_t end = rest.find('\n');
        halvo::addListeningFromProcNetText(rest.substr(0, end), lineByLine);
        if (end == std::string_view::npos) {
            break;
        }
        ++lines;
        rest.remove_prefix(end + 1);
    }
    FUZZ_CHECK(whole == lineByLine);
    FUZZ_CHECK(whole.size() <= lines);
    for (const auto& [inode, socket] : whole) {
        FUZZ_CHECK(socket.port >= 0 && socket.port <= 0xFFFF);
    }
    return 0;
}
