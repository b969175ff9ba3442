#include "scan/command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <thread>
#include <utility>

extern char** environ;

#include "base/pidfd.h"
#include "base/unique_fd.h"

namespace halvo {
namespace {

using Clock = std::chrono::steady_clock;

// Without pidfd, the child's exit is noticed by looking at it this often.
constexpr std::chrono::milliseconds kExitCheckInterval{5};
// How long a child killed at the bound is given to die before it is left behind.
constexpr std::chrono::milliseconds kKilledChildGrace{500};

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

// Both ends close-on-exec: runCommand runs on several threads at once, and a
// child started by another thread must not inherit our ends, or our reader
// would not see end of file until that other child exits.
bool openPipe(Pipe& pipe) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    pipe.read = UniqueFd(fds[0]);
    pipe.write = UniqueFd(fds[1]);
    return true;
}

class SpawnSetup {
  public:
    SpawnSetup(int stdoutFd, int stderrFd) {
        posix_spawn_file_actions_init(&actions_);
        // Never the user's standard input: a tool must not eat what was piped to us.
        posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions_, stdoutFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions_, stderrFd, STDERR_FILENO);

        posix_spawnattr_init(&attributes_);
        // Its own process group, so that at the bound everything it started
        // can be killed with it.
        posix_spawnattr_setpgroup(&attributes_, 0);
        // A tool must see default signal handling whatever this process ignores
        // or blocks on the calling thread.
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes_, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes_, &defaults);
        posix_spawnattr_setflags(
            &attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

  private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

std::optional<pid_t> spawn(const std::string& executable, const std::vector<std::string>& arguments,
                           const SpawnSetup& setup) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    // posix_spawn, not posix_spawnp: the path is used as given, never searched.
    if (posix_spawn(&pid, executable.c_str(), setup.actions(), setup.attributes(), argv.data(),
                    environ) != 0) {
        return std::nullopt;
    }
    return pid;
}

// A descriptor that becomes readable when the child exits, without reaping it.
// Absent where the kernel has no pidfd.
UniqueFd openExitNotifier(pid_t pid) {
    return openPidfd(pid).pidfd;
}

int pollTimeout(Clock::time_point deadline, bool capped) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (capped) {
        left = std::min(left, kExitCheckInterval);
    }
    return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

// Whether the child has exited; it stays a zombie until reaped, so its PID and
// process group cannot be reused while we still might signal them. A child we
// cannot wait for (reaped by the kernel when SIGCHLD is ignored) counts as
// exited: nothing more will come of it.
bool hasExited(pid_t pid) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return errno != EINTR;
    }
    return info.si_pid != 0;
}

// The exit status of a child that has exited. Nothing when it cannot be
// collected, e.g. because the kernel already reaped it with SIGCHLD ignored:
// then its status is unknown and must not pass for success.
std::optional<int32_t> collectExitStatus(pid_t pid) {
    int status = 0;
    pid_t reaped;
    do {
        reaped = waitpid(pid, &status, WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    if (reaped != pid) {
        return std::nullopt;
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return std::nullopt;
}

void killChild(pid_t pid, const UniqueFd& exitNotifier) {
    // Group first, while the unreaped child still pins its ID.
    ::kill(-pid, SIGKILL);
    if (exitNotifier.valid() && sendSignalThroughPidfd(exitNotifier.get(), SIGKILL) == 0) {
        return;
    }
    ::kill(pid, SIGKILL);
}

// Waits a little for a killed child to die, then reaps it if it did.
void reapKilledChild(pid_t pid, const UniqueFd& exitNotifier) {
    const auto deadline = Clock::now() + kKilledChildGrace;
    if (exitNotifier.valid()) {
        pollfd fd{exitNotifier.get(), POLLIN, 0};
        while (poll(&fd, 1, pollTimeout(deadline, false)) < 0 && errno == EINTR) {
        }
    } else {
        while (!hasExited(pid) && Clock::now() < deadline) {
            std::this_thread::sleep_for(kExitCheckInterval);
        }
    }
    // No longer: a child stuck in uninterruptible sleep (a hung mount) must not hang the scan; it
    // stays a zombie.
    collectExitStatus(pid);
}

// Reads what is available on `fd` into `sink` (or drops it when `sink` is null).
// Returns false at end of file or on an error.
bool drain(int fd, std::string* sink) {
    std::array<char, 65536> buffer;
    while (true) {
        ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n > 0) {
            if (sink != nullptr) {
                sink->append(buffer.data(), static_cast<size_t>(n));
            }
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

// A started child: its PID, what tells of its exit, the read ends of its
// pipes and what came through them.
struct Child {
    pid_t pid = -1;
    UniqueFd exitNotifier;
    UniqueFd out;
    UniqueFd err;
    std::string output;
    std::string errors;
};

std::optional<Child> start(const std::string& executable,
                           const std::vector<std::string>& arguments) {
    Pipe out;
    Pipe err;
    if (!openPipe(out) || !openPipe(err)) {
        return std::nullopt;
    }
    std::optional<pid_t> started;
    {
        SpawnSetup setup(out.write.get(), err.write.get());
        started = spawn(executable, arguments, setup);
    }
    // Only the child keeps the write ends, so its exit (and its descendants')
    // shows up here as end of file.
    if (!started) {
        return std::nullopt;
    }
    Child child;
    child.pid = *started;
    child.exitNotifier = openExitNotifier(child.pid);
    child.out = std::move(out.read);
    child.err = std::move(err.read);
    return child;
}

// Waits until `until` at most for output or, unless it `exited` already, the
// child's exit, and reads what came. Whether the child has exited.
bool waitAndRead(Child& child, bool exited, Clock::time_point until) {
    std::array<pollfd, 3> fds{};
    nfds_t count = 0;
    auto watch = [&](const UniqueFd& fd) {
        if (fd.valid()) {
            fds[count++] = pollfd{fd.get(), POLLIN, 0};
        }
    };
    watch(child.out);
    watch(child.err);
    if (!exited) {
        watch(child.exitNotifier);
    }
    const bool checkExitByClock = !exited && !child.exitNotifier.valid();
    int ready = poll(fds.data(), count, pollTimeout(until, checkExitByClock));
    if (ready < 0 && errno != EINTR) {
        // Should not happen with valid descriptors; the bound still applies.
        std::this_thread::sleep_for(kExitCheckInterval);
        return exited;
    }
    for (nfds_t i = 0; i < count && ready > 0; ++i) {
        if (fds[i].revents == 0) {
            continue;
        }
        if (fds[i].fd == child.out.get()) {
            if (!drain(child.out.get(), &child.output)) {
                child.out.reset();
            }
        } else if (fds[i].fd == child.err.get()) {
            if (!drain(child.err.get(),
                       child.errors.size() < kErrorCap ? &child.errors : nullptr)) {
                child.err.reset();
            }
        } else {
            exited = true;
        }
    }
    return checkExitByClock ? hasExited(child.pid) : exited;
}

}  // namespace

CommandResult runCommand(const std::string& executable, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    std::optional<Child> child = start(executable, arguments);
    if (!child) {
        return {};
    }
    bool exited = false;
    auto readUntil = deadline;
    while (child->out.valid() || child->err.valid() || !exited) {
        if (child->output.size() > kOutputCap || (!exited && Clock::now() >= deadline)) {
            killChild(child->pid, child->exitNotifier);
            reapKilledChild(child->pid, child->exitNotifier);
            return {};
        }
        if (exited && Clock::now() >= readUntil) {
            // What the tool wrote is all there; a descendant keeps the pipes.
            ::kill(-child->pid, SIGKILL);
            break;
        }
        if (waitAndRead(*child, exited, readUntil) && !exited) {
            exited = true;
            readUntil = std::min(deadline, Clock::now() + kAfterExitGrace);
        }
    }
    std::optional<int32_t> status = collectExitStatus(child->pid);
    if (!status) {
        return {};
    }
    child->errors.resize(std::min(child->errors.size(), kErrorCap));
    return CommandResult{*status, std::move(child->output), std::move(child->errors)};
}

}  // namespace halvo
