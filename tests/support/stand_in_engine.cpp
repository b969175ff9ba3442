#include "support/stand_in_engine.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace halvo::testing {

UniqueFd listeningUnixSocket(const std::string& path) {
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd.get(), 8) != 0) {
        return UniqueFd();
    }
    return fd;
}

StandInEngine::StandInEngine(const std::string& socketPath, std::string answer)
    : listener_(listeningUnixSocket(socketPath)), answer_(std::move(answer)) {
    int stop[2];
    if (!listener_.valid() || pipe2(stop, O_CLOEXEC) != 0) {
        return;
    }
    stopRead_ = UniqueFd(stop[0]);
    stopWrite_ = UniqueFd(stop[1]);
    thread_ = std::thread([this] { serve(); });
}

StandInEngine::~StandInEngine() {
    if (thread_.joinable()) {
        (void)write(stopWrite_.get(), "x", 1);
        thread_.join();
    }
}

std::vector<std::string> StandInEngine::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void StandInEngine::serve() {
    for (;;) {
        pollfd fds[] = {{listener_.get(), POLLIN, 0}, {stopRead_.get(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || fds[1].revents != 0) {
            return;
        }
        const UniqueFd client(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client.valid()) {
            continue;
        }
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = read(client.get(), buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            request.append(buffer, static_cast<size_t>(n));
        }
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request.substr(0, request.find("\r\n")));
        }
        (void)send(client.get(), answer_.data(), answer_.size(), MSG_NOSIGNAL);
    }
}

std::string engineAnswer(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + body;
}

}  // namespace halvo::testing
