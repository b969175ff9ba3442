// pidfd_open(2) and pidfd_send_signal(2): a handle on one process that a later
// reuse of its PID cannot redirect. Called through syscall(2), so an older C
// library is no obstacle.
#pragma once

#include <sys/types.h>

#include "base/unique_fd.h"

namespace halvo {

// A pidfd, or the error number that kept it from being opened (ESRCH: no such
// process; ENOSYS: no pidfds on this kernel).
struct PidfdOpening {
    UniqueFd pidfd;
    int error = 0;
};

PidfdOpening openPidfd(pid_t pid);

// 0 on success, else the error number.
int sendSignalThroughPidfd(int pidfd, int signal);

}  // namespace halvo
