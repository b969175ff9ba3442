// The outcome message of the last kill, as the user reads it.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace halvo {

namespace feedback {
struct Success {  // a single kill succeeded
    int64_t port = 0;
    bool operator==(const Success&) const = default;
};
struct Batch {  // a batch killed `count` ports and nothing failed
    int64_t count = 0;
    bool operator==(const Batch&) const = default;
};
struct PartialBatch {  // a batch killed some ports and failed others
    int64_t killed = 0;
    int64_t failed = 0;
    std::string message;
    bool operator==(const PartialBatch&) const = default;
};
struct Stale {  // a single kill found the process changed since the scan
    int64_t port = 0;
    bool operator==(const Stale&) const = default;
};
struct Failure {  // shown verbatim
    std::string message;
    bool operator==(const Failure&) const = default;
};
}  // namespace feedback

using Feedback = std::variant<feedback::Success, feedback::Batch, feedback::PartialBatch,
                              feedback::Stale, feedback::Failure>;

// "Killed :3000", "Killed 3 ports", "Killed 1, failed 1: ...", and so on.
std::string feedbackText(const Feedback& feedback);

}  // namespace halvo
