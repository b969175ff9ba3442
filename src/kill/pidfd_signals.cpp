#include "kill/pidfd_signals.h"

#include <cerrno>
#include <csignal>

namespace halvo {

PidfdOpening PidfdSignals::openPidfd(int32_t pid) {
    return halvo::openPidfd(static_cast<pid_t>(pid));
}

int PidfdSignals::signalPidfd(int pidfd, int signal) {
    return sendSignalThroughPidfd(pidfd, signal);
}

int PidfdSignals::signalPid(int32_t pid, int signal) {
    return ::kill(static_cast<pid_t>(pid), signal) == 0 ? 0 : errno;
}

}  // namespace halvo
