// The process table of this machine, read from the /proc file system.
//
// Lean on purpose, since a scan walks every descriptor of every process: the
// directories are read with getdents64, a process's descriptors with one
// readlinkat each relative to its open fd directory, and nothing is stat'ed.
// Whatever cannot be read (EACCES, a process that is gone) gives nothing.
#pragma once

#include <string>

#include "base/unique_fd.h"
#include "scan/process_table_reading.h"

namespace halvo {

class ProcFsProcessTable final : public ProcessTableReading {
  public:
    // `procRoot` is where the process file system is mounted.
    explicit ProcFsProcessTable(std::string procRoot = "/proc");

    // From netlink, else from /proc/net (see listening_sockets.h).
    std::optional<ListeningSockets> listeningTcpSockets() override;
    // The numeric entries of /proc, in directory order; none when it cannot be
    // listed or lists no process, as when no proc file system is mounted there.
    std::optional<std::vector<int32_t>> processIds() override;
    // The "socket:[INODE]" links of /proc/PID/fd, in descriptor order.
    std::optional<std::vector<uint64_t>> socketInodes(int32_t pid) override;
    // /proc/PID/comm without its trailing newline.
    std::optional<std::string> processName(int32_t pid) override;

  private:
    std::string procRoot_;
    // Kept open so that per-process paths resolve relative to it; only ever
    // used with *at() calls, never read from, so concurrent scans may share it.
    UniqueFd procFd_;
};

}  // namespace halvo
