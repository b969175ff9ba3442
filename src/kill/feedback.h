// The outcome message of the last kill, as the user reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace halvo {

namespace feedback {
struct Success {  // the processes on one port were killed
    int64_t port = 0;
    int64_t processes = 1;  // a master and its workers share one port
    bool operator==(const Success&) const = default;
};
struct Batch {  // a batch killed `count` ports and nothing failed
    int64_t count = 0;
    bool operator==(const Batch&) const = default;
};
struct PartialBatch {  // a batch killed some ports and failed on others
    int64_t killed = 0;
    int64_t failed = 0;
    std::string message;
    bool operator==(const PartialBatch&) const = default;
};
struct Stale {  // a single kill found the process changed since the scan
    int64_t port = 0;
    bool operator==(const Stale&) const = default;
};
struct ContainerStopped {  // a container that published the port was stopped
    std::string name;
    int64_t port = 0;
    bool operator==(const ContainerStopped&) const = default;
};
struct SupervisorStopped {  // the systemd unit or pm2 app that ran the server was stopped
    std::string name;       // as supervisorLabel gives it
    int64_t port = 0;
    bool operator==(const SupervisorStopped&) const = default;
};
// A process that listens on a freshly freed port again, and who started it.
struct Listener {
    std::string name;
    int32_t pid = 0;
    bool operator==(const Listener&) const = default;
};
struct Restarted {            // the kill succeeded, but something listens on `port` again
    int64_t killedCount = 1;  // ports the kill ended
    int64_t port = 0;
    Listener listener;
    std::optional<Listener> parent;  // nothing when it cannot be read
    // The unit or pm2 app it runs under, named instead of the parent.
    std::optional<std::string> supervisor = std::nullopt;
    bool operator==(const Restarted&) const = default;
};
// The kill ended its processes, but one that shares their socket (a child
// that inherited it) still listens: the port is not free.
struct StillHeld {
    int64_t port = 0;
    Listener holder;
    bool operator==(const StillHeld&) const = default;
};
struct Failure {  // shown verbatim
    std::string message;
    bool operator==(const Failure&) const = default;
};
}  // namespace feedback

using Feedback = std::variant<feedback::Success, feedback::Batch, feedback::PartialBatch,
                              feedback::Stale, feedback::ContainerStopped, feedback::Restarted,
                              feedback::StillHeld, feedback::Failure, feedback::SupervisorStopped>;

// "Killed :3000", "Killed :3000 (4 processes)", "Killed 3 ports", "Killed
// 1, failed 1: ...", "Stopped container web (:8080)", "Killed :3000 —
// restarted by nodemon (PID 812) as node (PID 815)", "Killed :3000 — restarted
// by web.service", "Stopped pm2 app api (:3000)", "Port 3000 is still held
// by sleep (PID 812), which shares its socket", and so on.
std::string feedbackText(const Feedback& feedback);

}  // namespace halvo
