#include "scan/listening_ports.h"

namespace halvo {

ListeningSockets listeningSocketsNow() {
    std::optional<ListeningSockets> sockets = listeningSocketsFromNetlink();
    if (!sockets) {
        sockets = listeningSocketsFromProcNet();
    }
    return sockets.value_or(ListeningSockets{});
}

std::set<int64_t> listeningPortsNow() {
    std::set<int64_t> ports;
    for (const auto& [inode, socket] : listeningSocketsNow()) {
        if (socket.port > 0) {
            ports.insert(socket.port);
        }
    }
    return ports;
}

}  // namespace halvo
