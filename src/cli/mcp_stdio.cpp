#include "cli/mcp_stdio.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "base/unique_fd.h"
#include "kill/kill_engine.h"
#include "scan/process_tree.h"
#include "scan/system_scanner.h"

namespace halvo {
namespace {

bool writeLine(int fd, std::string line) {
    line += '\n';
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<std::string> LineReader::next(int wakeFd) {
    for (;;) {
        const size_t newline = buffer_.find('\n');
        if (dropping_) {
            buffer_.erase(0, newline == std::string::npos ? buffer_.size() : newline + 1);
            dropping_ = newline == std::string::npos;
        } else if (newline != std::string::npos || buffer_.size() > cap_) {
            const size_t end = std::min(newline, buffer_.size());
            std::string line = buffer_.substr(0, std::min(end, cap_ + 1));
            buffer_.erase(0, newline == std::string::npos ? buffer_.size() : newline + 1);
            dropping_ = newline == std::string::npos;
            return line;
        }
        pollfd fds[] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (fds[1].revents != 0) {
            return std::nullopt;
        }
        char chunk[65536];
        const ssize_t n = read(fd_, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            // The last line may lack its newline.
            if (buffer_.empty() || dropping_) {
                return std::nullopt;
            }
            return std::exchange(buffer_, {});
        }
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

int serveMcp(McpSession& session, int in, int out) {
    // A client gone mid-reply is an ordinary end, not a SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    int wakePipe[2];
    if (pipe2(wakePipe, O_CLOEXEC) != 0) {
        return 1;
    }
    const UniqueFd wakeRead(wakePipe[0]), wakeWrite(wakePipe[1]);

    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::string> lines;
    bool ended = false;
    std::optional<nlohmann::json> current;  // the id of the request being answered
    std::stop_source callStop;
    bool cancelledCall = false;  // the client wants no answer to it

    std::jthread reader([&] {
        LineReader input(in, kMaxMcpMessageBytes);
        while (std::optional<std::string> line = input.next(wakeRead.get())) {
            const std::optional<nlohmann::json> cancelled = cancelledRequestId(*line);
            const std::lock_guard lock(mutex);
            if (cancelled && current == cancelled) {
                cancelledCall = true;
                callStop.request_stop();
            }
            lines.push_back(std::move(*line));
            ready.notify_one();
        }
        const std::lock_guard lock(mutex);
        ended = true;
        callStop.request_stop();  // nobody waits for the answer any more
        ready.notify_one();
    });

    for (;;) {
        std::string line;
        std::stop_token stop;
        {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return ended || !lines.empty(); });
            if (lines.empty()) {
                break;
            }
            line = std::move(lines.front());
            lines.pop_front();
            current = requestId(line);
            cancelledCall = false;
            callStop = std::stop_source();
            if (ended) {
                callStop.request_stop();
            }
            stop = callStop.get_token();
        }
        std::optional<std::string> reply = session.handle(line, stop);
        {
            const std::lock_guard lock(mutex);
            current.reset();
            if (cancelledCall) {
                reply.reset();
            }
        }
        if (reply && !writeLine(out, *reply)) {
            break;
        }
    }
    // The reader may still wait for a client that can no longer be answered.
    const char wake = 'x';
    (void)!write(wakeWrite.get(), &wake, 1);
    return 0;
}

int serveMcpOnStdio() {
    KillEngine engine;
    DockerContainerStopper containers;
    ProcFsProcessTree tree;
    RestartWatch restarts;
    SystemSupervisorStopper supervisors;
    const std::optional<HalvoEndings> endings = HalvoEndings::forThisSession();
    McpSession session(
        {.scanner = [](bool all) { return makeSystemScanner({.developmentOnly = !all}); },
         .engine = engine,
         .containers = containers,
         .helpers = {.tree = &tree,
                     .restarts = &restarts,
                     .supervisors = &supervisors,
                     .endings = endings ? &*endings : nullptr}});
    return serveMcp(session, STDIN_FILENO, STDOUT_FILENO);
}

}  // namespace halvo
