#include "kill/pidfd_signals.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace halvo {

PidfdOpening PidfdSignals::openPidfd(int32_t pid) {
    // Called through syscall(2) so that an older C library is no obstacle.
    long fd = syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0U);
    if (fd < 0) {
        return {UniqueFd(), errno};
    }
    return {UniqueFd(static_cast<int>(fd)), 0};
}

int PidfdSignals::signalPidfd(int pidfd, int signal) {
    if (syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0U) != 0) {
        return errno;
    }
    return 0;
}

int PidfdSignals::signalPid(int32_t pid, int signal) {
    if (::kill(static_cast<pid_t>(pid), signal) != 0) {
        return errno;
    }
    return 0;
}

}  // namespace halvo
