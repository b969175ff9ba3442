#include "scan/unix_http.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "base/unique_fd.h"

namespace halvo {
namespace {

using Clock = std::chrono::steady_clock;

// Waits until `fd` is ready for `events` or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

std::optional<HttpAnswer> parseHttpAnswer(std::string_view raw) {
    const size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string_view::npos || !raw.starts_with("HTTP/1.")) {
        return std::nullopt;
    }
    // "HTTP/1.0 200 OK": three digits, then a space or the line's end.
    const size_t space = raw.find(' ');
    const std::string_view code = raw.substr(space + 1, 3);
    const char after = space + 4 < raw.size() ? raw[space + 4] : '\r';
    const std::optional<int32_t> status = parseInt32(code);
    if (space > headEnd || code.size() != 3 || !status || *status < 100 ||
        (after != ' ' && after != '\r')) {
        return std::nullopt;
    }
    return HttpAnswer{*status, std::string(raw.substr(headEnd + 4))};
}

std::optional<HttpAnswer> httpGetOverUnixSocket(const std::string& socketPath,
                                                std::string_view target,
                                                std::chrono::milliseconds bound, size_t cap) {
    const Clock::time_point deadline = Clock::now() + bound;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) {
        return std::nullopt;
    }
    // A unix socket whose backlog is full answers EAGAIN, not EINPROGRESS;
    // neither gets a second try within one scan.
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return std::nullopt;
    }

    const std::string request =
        "GET " + std::string(target) + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
    for (size_t sent = 0; sent < request.size();) {
        if (!waitFor(fd.get(), POLLOUT, deadline)) {
            return std::nullopt;
        }
        const ssize_t n =
            send(fd.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return std::nullopt;
        }
        sent += n > 0 ? static_cast<size_t>(n) : 0;
    }

    std::string raw;
    char buffer[16384];
    for (;;) {
        if (!waitFor(fd.get(), POLLIN, deadline)) {
            return std::nullopt;
        }
        const ssize_t n = recv(fd.get(), buffer, sizeof buffer, 0);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (raw.size() + static_cast<size_t>(n) > cap) {
            return std::nullopt;
        }
        raw.append(buffer, static_cast<size_t>(n));
    }
    return parseHttpAnswer(raw);
}

}  // namespace halvo
