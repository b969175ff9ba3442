// How a signal reaches a process. The kill engine goes through this seam so
// that a refused signal (EPERM) or a kernel without pidfds (ENOSYS) can be
// staged without privileges.
#pragma once

#include <cstdint>

#include "base/pidfd.h"

namespace halvo {

// The system calls that signal a process. Every call returns the error number
// it failed with, 0 on success. Implementations are safe to call from any thread.
class SignalSending {
  public:
    virtual ~SignalSending() = default;
    // pidfd_open(2): a handle on this very process, which a later reuse of its
    // PID cannot redirect. ESRCH: no such process; ENOSYS: no pidfds here.
    virtual PidfdOpening openPidfd(int32_t pid) = 0;
    // pidfd_send_signal(2).
    virtual int signalPidfd(int pidfd, int signal) = 0;
    // kill(2), only for kernels without pidfds.
    virtual int signalPid(int32_t pid, int signal) = 0;
};

// The real system calls.
class PidfdSignals final : public SignalSending {
  public:
    PidfdOpening openPidfd(int32_t pid) override;
    int signalPidfd(int pidfd, int signal) override;
    int signalPid(int32_t pid, int signal) override;
};

}  // namespace halvo
