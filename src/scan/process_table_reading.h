// What native discovery needs of the operating system, behind one small
// interface so that its filters and orders can be driven by a fake table.
// A scan may call socketInodes() and processName() from several threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scan/listening_sockets.h"

namespace halvo {

class ProcessTableReading {
  public:
    virtual ~ProcessTableReading() = default;

    // Socket inode -> local port and owner of every TCP socket in the LISTEN
    // state, IPv4 and IPv6, taken once per scan. A port may read 0; the caller
    // drops those. None when no socket table answers.
    virtual std::optional<ListeningSockets> listeningTcpSockets() = 0;

    // Every process id, in table order. May hold values a real table never
    // gives. None when there is no process table to read.
    virtual std::optional<std::vector<int32_t>> processIds() = 0;

    // Inodes of the socket descriptors of one process, in descriptor order;
    // nothing when its descriptors cannot be listed.
    virtual std::optional<std::vector<uint64_t>> socketInodes(int32_t pid) = 0;

    // The raw short name of a process (bytes, no trailing newline); nothing
    // when it cannot be read.
    virtual std::optional<std::string> processName(int32_t pid) = 0;
};

}  // namespace halvo
