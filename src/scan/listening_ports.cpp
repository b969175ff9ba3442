#include "scan/listening_ports.h"

#include "scan/listening_sockets.h"

namespace halvo {

std::set<int64_t> listeningPortsNow() {
    std::optional<ListeningSockets> sockets = listeningSocketsFromNetlink();
    if (!sockets) {
        sockets = listeningSocketsFromProcNet();
    }
    std::set<int64_t> ports;
    for (const auto& [inode, socket] : sockets.value_or(ListeningSockets{})) {
        if (socket.port > 0) {
            ports.insert(socket.port);
        }
    }
    return ports;
}

}  // namespace halvo
