// halvo-cli wait-free: waits until nothing listens on some ports any more,
// for scripts that end a server and start the next one on the same port.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "scan/listening_ports.h"

namespace halvo {

struct WaitFreeOptions {
    std::vector<std::string> ports{};  // port expressions, as for list
    // Zero checks once.
    std::chrono::milliseconds timeout = std::chrono::seconds(30);
};

// ok once no port of `options` is listened on (anyone's listener counts); stillTaken at the
// timeout, naming the taken ports on `err`; usage when a word is no port expression.
ExitStatus runWaitFree(const WaitFreeOptions& options, const ListeningPortsSource& listening,
                       std::ostream& err);

}  // namespace halvo
