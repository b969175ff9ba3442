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
//   --            everything after is ignored (argv words for classification)
#include <arpa/inet.h>
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
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
}

int tcpSocket(int family, const char* host, int port, bool listening) {
    int fd = socket(family, SOCK_STREAM, 0);
    if (fd < 0) {
        die("socket");
    }
    if (family == AF_INET6) {
        int one = 1;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof(one));
    }
    int rc = 0;
    if (family == AF_INET) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host, &address.sin_addr);
        rc = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    } else {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET6, host, &address.sin6_addr);
        rc = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    }
    if (rc != 0) {
        close(fd);
        return -1;
    }
    if (listening && listen(fd, 16) != 0) {
        die("listen");
    }
    return fd;
}

int listenerOrDie(int family, const char* host, int port) {
    int fd = tcpSocket(family, host, port, true);
    if (fd < 0) {
        die("bind");
    }
    return fd;
}

// An IPv4 and an IPv6-only listener on one ephemeral port.
int dualStackPort() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int v4 = listenerOrDie(AF_INET, "127.0.0.1", 0);
        int port = boundPort(v4);
        if (tcpSocket(AF_INET6, "::1", port, true) >= 0) {
            return port;
        }
        close(v4);
    }
    die("dual-stack port");
}

void openEstablished() {
    int server = listenerOrDie(AF_INET, "127.0.0.1", 0);
    int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(boundPort(server)));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        die("connect");
    }
    if (accept(server, nullptr, nullptr) < 0) {
        die("accept");
    }
    close(server);  // only the two established ends stay
}

void openUdp() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        die("udp");
    }
}

void openUnix() {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract name: nothing left on disk.
    std::string name = "halvo-test-" + std::to_string(getpid());
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
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
        std::string arg = argv[i];
        auto count = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 1; };
        if (arg == "--") {
            break;
        } else if (arg == "--v4") {
            for (int n = count(); n > 0; --n) {
                ports.push_back(boundPort(listenerOrDie(AF_INET, "127.0.0.1", 0)));
            }
        } else if (arg == "--port") {
            ports.push_back(boundPort(listenerOrDie(AF_INET, "127.0.0.1", count())));
        } else if (arg == "--v6only") {
            for (int n = count(); n > 0; --n) {
                ports.push_back(boundPort(listenerOrDie(AF_INET6, "::1", 0)));
            }
        } else if (arg == "--dual") {
            for (int n = count(); n > 0; --n) {
                ports.push_back(dualStackPort());
            }
        } else if (arg == "--established") {
            openEstablished();
        } else if (arg == "--udp") {
            openUdp();
        } else if (arg == "--unix") {
            openUnix();
        } else if (arg == "--ignore-term") {
            signal(SIGTERM, SIG_IGN);
        } else if (arg == "--hand-over") {
            if (fork() == 0) {
                execl("/bin/cat", "cat", static_cast<char*>(nullptr));
                die("cat");
            }
        } else if (arg == "--workers") {
            for (int n = count(); n > 0; --n) {
                const pid_t worker = fork();
                if (worker == 0) {
                    isWorker = true;
                    workers.clear();
                    break;
                }
                workers.push_back(worker);
            }
            if (!workers.empty()) {
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
