// halvo-cli wait-free: waits until nothing listens on some ports any more,
// for scripts that end a server and start the next one on the same port.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <stop_token>
#include <string>
#include <variant>
#include <vector>

#include "cli/commands.h"
#include "kill/search_filter.h"
#include "scan/listening_ports.h"

namespace halvo {

struct WaitFreeOptions {
    std::vector<std::string> ports{};  // port expressions, as for list
    // Zero checks once.
    std::chrono::milliseconds timeout = std::chrono::seconds(30);
};

// The ports `words` name together, or why they name none (a usage error's text).
std::variant<PortSet, std::string> portsToWaitFor(const std::vector<std::string>& words);

// The ports of `wanted` still taken: none once all are free, else those taken at the
// timeout or when `stop` is requested.
std::vector<int64_t> waitUntilFree(const PortSet& wanted, std::chrono::milliseconds timeout,
                                   const ListeningPortsSource& listening,
                                   std::stop_token stop = {});

// "Port 3000 is still taken", "Ports 3000, 5173 are still taken".
std::string stillTakenText(const std::vector<int64_t>& taken);

// ok once no port of `options` is listened on (anyone's listener counts); stillTaken at the
// timeout, naming the taken ports on `err`; usage when a word is no port expression.
ExitStatus runWaitFree(const WaitFreeOptions& options, const ListeningPortsSource& listening,
                       std::ostream& err);

}  // namespace halvo
