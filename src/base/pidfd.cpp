#include "base/pidfd.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace halvo {

PidfdOpening openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid, 0U);
    if (fd < 0) {
        return {UniqueFd(), errno};
    }
    return {UniqueFd(static_cast<int>(fd)), 0};
#else
    (void)pid;
    return {UniqueFd(), ENOSYS};
#endif
}

int sendSignalThroughPidfd(int pidfd, int signal) {
#ifdef SYS_pidfd_send_signal
    return syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0U) == 0 ? 0 : errno;
#else
    (void)pidfd;
    (void)signal;
    return ENOSYS;
#endif
}

}  // namespace halvo
