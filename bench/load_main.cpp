// A busy machine in one process group, for benchmarks: many sleeping children
// holding open descriptors, and some children listening on ephemeral ports.
//
//   halvo-bench-load [--sleepers N] [--descriptors N] [--listeners N] [--ports N]
//                    [--print-ports] [--tag TEXT]
//
// Defaults: 2000 sleepers, 32 descriptors each, 100 listeners on 2 ports each.
// --print-ports prints "listener PID PORT" for every listening socket; --tag
// only marks the command line, which every child shares, so that a search
// can tell one run's children from everything else.
// Prints "ready CHILDREN PORTS" once every child is up, then stays until its
// standard input closes or it gets SIGTERM, SIGINT or SIGHUP, and takes its
// children down with it. Children also die with it if it is killed outright.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
    int sleepers = 2000;
    int descriptors = 32;
    int listeners = 100;
    int ports = 2;  // per listener
    bool printPorts = false;
};

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: halvo-bench-load [--sleepers N] [--descriptors N] [--listeners N] "
                 "[--ports N] [--print-ports] [--tag TEXT]\n");
    std::exit(2);
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--print-ports") {
            options.printPorts = true;
            continue;
        }
        if (i + 1 >= argc) {
            usage();
        }
        if (arg == "--tag") {
            ++i;
            continue;
        }
        int value = std::atoi(argv[++i]);
        if (value < 0) {
            usage();
        }
        if (arg == "--sleepers") {
            options.sleepers = value;
        } else if (arg == "--descriptors") {
            options.descriptors = value;
        } else if (arg == "--listeners") {
            options.listeners = value;
        } else if (arg == "--ports") {
            options.ports = value;
        } else {
            usage();
        }
    }
    return options;
}

// The descriptors every child inherits: mostly files, some pipes and Unix
// socket pairs, so that the scan also meets sockets that are not listeners.
std::vector<int> openDescriptors(int count) {
    std::vector<int> fds;
    while (static_cast<int>(fds.size()) < count) {
        const int kind = static_cast<int>(fds.size()) % 8;
        int pair[2];
        if (kind == 6 && count - static_cast<int>(fds.size()) >= 2 && pipe(pair) == 0) {
            fds.insert(fds.end(), {pair[0], pair[1]});
        } else if (kind == 4 && count - static_cast<int>(fds.size()) >= 2 &&
                   socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0) {
            fds.insert(fds.end(), {pair[0], pair[1]});
        } else {
            int fd = open("/dev/null", O_RDONLY);
            if (fd < 0) {
                std::perror("open /dev/null");
                std::exit(1);
            }
            fds.push_back(fd);
        }
    }
    return fds;
}

int listenOnEphemeralPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(fd, 8) != 0) {
        std::perror("listen");
        return -1;
    }
    return fd;
}

int localPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

[[noreturn]] void sleepUntilParentGoes(pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(0);  // the parent went before the death signal was armed
    }
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    close(null);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (;;) {
        pause();
    }
}

// Forks one child that keeps what it inherited; -1 when fork fails.
pid_t spawnChild(pid_t parent) {
    pid_t pid = fork();
    if (pid == 0) {
        sleepUntilParentGoes(parent);
    }
    return pid;
}

void endChildren(const std::vector<pid_t>& children) {
    for (pid_t child : children) {
        kill(child, SIGKILL);  // our own unreaped children: the PIDs cannot be reused
    }
    for (pid_t child : children) {
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

void waitForStdinCloseOrSignal(int signals) {
    pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {signals, POLLIN, 0}};
    char buffer[256];
    for (;;) {
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (watched[1].revents != 0) {
            return;
        }
        if (watched[0].revents != 0) {
            ssize_t n = read(STDIN_FILENO, buffer, sizeof(buffer));
            if (n <= 0 && !(n < 0 && errno == EINTR)) {
                return;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    setpgid(0, 0);  // fails harmlessly when already a group or session leader

    // Taken through a descriptor, so that the teardown runs in plain code.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopping, nullptr);
    int signals = signalfd(-1, &stopping, SFD_CLOEXEC);
    signal(SIGPIPE, SIG_IGN);

    const pid_t self = getpid();
    std::vector<int> held = openDescriptors(options.descriptors);
    std::vector<pid_t> children;
    children.reserve(static_cast<size_t>(options.sleepers + options.listeners));
    bool failed = false;
    for (int i = 0; i < options.sleepers && !failed; ++i) {
        pid_t pid = spawnChild(self);
        failed = pid < 0;
        if (!failed) {
            children.push_back(pid);
        }
    }
    std::string listing;
    for (int i = 0; i < options.listeners && !failed; ++i) {
        std::vector<int> sockets(static_cast<size_t>(options.ports));
        for (int& fd : sockets) {
            fd = listenOnEphemeralPort();
            failed = failed || fd < 0;
        }
        pid_t pid = failed ? -1 : spawnChild(self);
        failed = pid < 0;
        if (!failed) {
            children.push_back(pid);
        }
        for (int fd : sockets) {
            if (!failed && options.printPorts) {
                listing +=
                    "listener " + std::to_string(pid) + ' ' + std::to_string(localPort(fd)) + '\n';
            }
            if (fd >= 0) {
                close(fd);  // the child's copies are the only ones left
            }
        }
    }
    for (int fd : held) {
        close(fd);
    }
    if (failed) {
        std::perror("halvo-bench-load: starting children");
        endChildren(children);
        return 1;
    }

    std::fputs(listing.c_str(), stdout);
    std::printf("ready %zu %d\n", children.size(), options.listeners * options.ports);
    std::fflush(stdout);
    waitForStdinCloseOrSignal(signals);
    endChildren(children);
    return 0;
}
