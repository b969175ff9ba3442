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

}  // namespace

std::string feedbackText(const Feedback& value) {
    return std::visit(
        Overloaded{
            [](const feedback::Success& f) { return "Killed :" + std::to_string(f.port); },
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
            [](const feedback::Failure& f) { return f.message; },
        },
        value);
}

}  // namespace halvo
