#include "kill/feedback.h"

namespace halvo {
namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
// C++20 deduces this itself; clang 14, which builds the fuzzers, does not.
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

std::string listenerText(const feedback::Listener& l) {
    return l.name + " (PID " + std::to_string(l.pid) + ")";
}

std::string restartedText(const feedback::Restarted& f) {
    std::string text = f.killedCount == 1 ? "Killed :" + std::to_string(f.port) + " \u2014 "
                                          : "Killed " + std::to_string(f.killedCount) +
                                                " ports \u2014 :" + std::to_string(f.port) + " ";
    if (f.supervisor) {
        return text + "restarted by " + *f.supervisor;
    }
    if (f.parent) {
        return text + "restarted by " + listenerText(*f.parent) + " as " + listenerText(f.listener);
    }
    return text + "restarted as " + listenerText(f.listener);
}

}  // namespace

std::string feedbackText(const Feedback& value) {
    return std::visit(
        Overloaded{
            [](const feedback::Success& f) {
                const std::string text = "Killed :" + std::to_string(f.port);
                return f.processes == 1 ? text
                                        : text + " (" + std::to_string(f.processes) + " processes)";
            },
            [](const feedback::Batch& f) {
                return "Killed " + std::to_string(f.count) + " port" + (f.count == 1 ? "" : "s");
            },
            [](const feedback::PartialBatch& f) {
                return "Killed " + std::to_string(f.killed) + ", failed " +
                       std::to_string(f.failed) + ": " + f.message;
            },
            [](const feedback::Stale& f) {
                return "Process on :" + std::to_string(f.port) +
                       " changed since last scan \u2014 list refreshed";
            },
            [](const feedback::ContainerStopped& f) {
                return "Stopped container " + f.name + " (:" + std::to_string(f.port) + ")";
            },
            [](const feedback::Restarted& f) { return restartedText(f); },
            [](const feedback::StillHeld& f) {
                return "Port " + std::to_string(f.port) + " is still held by " +
                       listenerText(f.holder) + ", which shares its socket";
            },
            [](const feedback::Failure& f) { return f.message; },
            [](const feedback::SupervisorStopped& f) {
                return "Stopped " + f.name + " (:" + std::to_string(f.port) + ")";
            },
        },
        value);
}

}  // namespace halvo
