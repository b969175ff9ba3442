// The TCP sockets in the LISTEN state of this network namespace, keyed by
// socket inode, so that a process's "socket:[INODE]" descriptors can be
// matched to their local ports without a query per descriptor. Each carries
// its owner, so that a socket no process of the user holds can still be named.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace halvo {

struct ListeningSocket {
    int64_t port = 0;  // local port, host byte order
    uint32_t uid = 0;  // the user that created the socket

    bool operator==(const ListeningSocket&) const = default;
};

// Socket inode -> socket, IPv4 and IPv6 together.
using ListeningSockets = std::unordered_map<uint64_t, ListeningSocket>;

// The table from one sock_diag dump per address family, asking the kernel for
// listeners only. Nothing when netlink is refused (no socket, an error reply,
// a dump cut short, or one the kernel marks as interrupted twice running), so
// that the caller can fall back.
std::optional<ListeningSockets> listeningSocketsFromNetlink();
// The same over an open NETLINK_SOCK_DIAG socket that is not in the middle of
// another dump. Replies from anyone but the kernel are ignored.
std::optional<ListeningSockets> listeningSocketsFromNetlink(int socketFd);

// The table from /proc/net/tcp and /proc/net/tcp6 under `procRoot`. Slower:
// the kernel prints every socket in every state. A missing file adds nothing
// (tcp6 is missing where IPv6 is off); none when neither can be read.
std::optional<ListeningSockets> listeningSocketsFromProcNet(const std::string& procRoot = "/proc");

// Adds the LISTEN (state 0A) entries of one /proc/net/tcp or tcp6 text.
// A line that does not parse is skipped and costs only itself.
void addListeningFromProcNetText(std::string_view text, ListeningSockets& sockets);

}  // namespace halvo
