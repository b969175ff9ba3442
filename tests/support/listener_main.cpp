// A stand-in server for tests. Opens the sockets it is asked for, prints
// "ports:" and the listening ports in the order they were opened, then waits
// until its standard input closes (so it never outlives the test).
//
//   --v4 N        N IPv4 listeners on 127.0.0.1, ephemeral ports
//   --port P      an IPv4 listener on 127.0.0.1 port P (a port the test was given)
//   --v6only N    N IPv6-only listeners on ::1
//   --dual N      N ports each held by an IPv4 and an IPv6-only listener
//   --established an established TCP connection (both ends, no listener left)
//   --udp         a bound UDP socket
//   --unix        a listening Unix-domain socket
//   --ignore-term ignore SIGTERM
//   --workers N   fork N workers that share every socket; on SIGTERM the
//                 master ends them, waits for them and exits, as gunicorn does
//   --hand-over   start `cat` holding every socket, as a server that hands
//                 its socket to a helper does; it ends when stdin closes
//   --resident MB allocate MB megabytes and touch every page, so they are resident
//   --            everything after is ignored (argv words for classification)
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::exit(2);
}

int boundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        die("getsockname");
    }
    // sin_port and sin6_port share their place.
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// A socket bound to `host` and `port`, or -1 when the port is taken.
int bound(int family, int type, const char* host, int port) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = type;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int fd = socket(family, type, 0);
    if (fd < 0 || getaddrinfo(host, std::to_string(port).c_str(), &hints, &found) != 0) {
        die("socket");
    }
    const int one = 1;
    if (family == AF_INET6) {
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof(one));
    }
    const int rc = bind(fd, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (rc != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int listening(int family, const char* host, int port = 0) {
    const int fd = bound(family, SOCK_STREAM, host, port);
    if (fd < 0 || listen(fd, 16) != 0) {
        die("listen");
    }
    return fd;
}

// An IPv4 and an IPv6-only listener on one ephemeral port.
int dualStackPort() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int v4 = listening(AF_INET, "127.0.0.1");
        const int port = boundPort(v4);
        const int v6 = bound(AF_INET6, SOCK_STREAM, "::1", port);
        if (v6 >= 0 && listen(v6, 16) == 0) {
            return port;
        }
        close(v4);
    }
    die("dual-stack port");
}

void openEstablished() {
    const int server = listening(AF_INET, "127.0.0.1");
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        accept(server, nullptr, nullptr) < 0) {
        die("connect");
    }
    close(server);  // only the two established ends stay
}

void openUnix() {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract name: nothing left on disk.
    const std::string name = "halvo-test-" + std::to_string(getpid());
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(fd, 4) != 0) {
        die("unix");
    }
}

std::vector<pid_t> workers;

void endWorkers(int) {
    for (pid_t worker : workers) {
        kill(worker, SIGTERM);
    }
    for (pid_t worker : workers) {
        waitpid(worker, nullptr, 0);
    }
    _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> ports;
    bool isWorker = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto count = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 1; };
        if (arg == "--") {
            break;
        } else if (arg == "--v4" || arg == "--v6only" || arg == "--dual") {
            for (int n = count(); n > 0; --n) {
                ports.push_back(arg == "--dual" ? dualStackPort()
                                : arg == "--v4" ? boundPort(listening(AF_INET, "127.0.0.1"))
                                                : boundPort(listening(AF_INET6, "::1")));
            }
        } else if (arg == "--port") {
            ports.push_back(boundPort(listening(AF_INET, "127.0.0.1", count())));
        } else if (arg == "--established") {
            openEstablished();
        } else if (arg == "--udp") {
            if (bound(AF_INET, SOCK_DGRAM, "127.0.0.1", 0) < 0) {
                die("udp");
            }
        } else if (arg == "--unix") {
            openUnix();
        } else if (arg == "--resident") {
            const size_t bytes = static_cast<size_t>(count()) << 20;
            auto* memory = static_cast<volatile char*>(std::malloc(bytes));
            for (size_t offset = 0; memory != nullptr && offset < bytes; offset += 4096) {
                memory[offset] = 1;
            }
        } else if (arg == "--ignore-term") {
            signal(SIGTERM, SIG_IGN);
        } else if (arg == "--hand-over") {
            if (fork() == 0) {
                execl("/bin/cat", "cat", static_cast<char*>(nullptr));
                die("cat");
            }
        } else if (arg == "--workers") {
            for (int n = count(); n > 0 && !isWorker; --n) {
                const pid_t worker = fork();
                isWorker = worker == 0;
                if (!isWorker) {
                    workers.push_back(worker);
                }
            }
            if (isWorker) {
                workers.clear();
            } else if (!workers.empty()) {
                signal(SIGTERM, endWorkers);
            }
        }
    }
    if (!isWorker) {  // the master reports
        std::printf("ports:");
        for (int port : ports) {
            std::printf(" %d", port);
        }
        std::printf("\n");
        std::fflush(stdout);
    }

    char buffer[256];
    while (read(STDIN_FILENO, buffer, sizeof(buffer)) > 0) {
    }
    return 0;
}
