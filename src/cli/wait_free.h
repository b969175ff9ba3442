// halvo-cli wait-free: waits until nothing listens on some ports any more,
// for scripts that end a server and start the next one on the same port.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace halvo {

struct WaitFreeOptions {
    std::vector<std::string> ports{};  // port expressions, as for list
    // Zero checks once.
    std::chrono::milliseconds timeout = std::chrono::seconds(30);
};

// The ports listening now, anyone's (listeningPortsNow in the program).
using ListeningPortsSource = std::function<std::set<int64_t>()>;

// ok once no port of `options` is listened on; stillTaken at the timeout,
// naming the taken ports on `err`; usage when a word is no port expression.
ExitStatus runWaitFree(const WaitFreeOptions& options, const ListeningPortsSource& listening,
                       std::ostream& err);

}  // namespace halvo
