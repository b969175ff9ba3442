#include "cli/wait_free.h"

#include <thread>

#include "cli/terminal_text.h"

namespace halvo {
namespace {

using Clock = std::chrono::steady_clock;

// The socket table costs a few milliseconds; a script waiting on a restart
// wants to go on soon after the port frees.
constexpr std::chrono::milliseconds kPollInterval{25};

std::vector<int64_t> takenPorts(const PortSet& wanted, const std::set<int64_t>& listening) {
    std::vector<int64_t> taken;
    for (int64_t port : listening) {
        if (port > 0 && port < static_cast<int64_t>(wanted.size()) &&
            wanted.test(static_cast<size_t>(port))) {
            taken.push_back(port);
        }
    }
    return taken;
}

}  // namespace

std::variant<PortSet, std::string> portsToWaitFor(const std::vector<std::string>& words) {
    PortSet wanted;
    for (const std::string& word : words) {
        const std::string query = normalizeQuery(word);
        const std::optional<PortSet> ports = parsePortQuery(query);
        if (!ports) {
            return portExpressionError(query).value_or(
                word + " is not a port, a list or a range of ports");
        }
        wanted |= *ports;
    }
    if (wanted.none()) {
        return std::string("a port is required");
    }
    return wanted;
}

std::vector<int64_t> waitUntilFree(const PortSet& wanted, std::chrono::milliseconds timeout,
                                   const ListeningPortsSource& listening, std::stop_token stop) {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        std::vector<int64_t> taken = takenPorts(wanted, listening());
        const Clock::time_point now = Clock::now();
        if (taken.empty() || now >= deadline || stop.stop_requested()) {
            return taken;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(kPollInterval, deadline - now));
    }
}

std::string stillTakenText(const std::vector<int64_t>& taken) {
    std::string text = taken.size() == 1 ? "Port " : "Ports ";
    for (size_t i = 0; i < taken.size(); ++i) {
        text += (i > 0 ? ", " : "") + std::to_string(taken[i]);
    }
    return text + (taken.size() == 1 ? " is" : " are") + " still taken";
}

ExitStatus runWaitFree(const WaitFreeOptions& options, const ListeningPortsSource& listening,
                       std::ostream& err) {
    const std::variant<PortSet, std::string> wanted = portsToWaitFor(options.ports);
    if (const std::string* why = std::get_if<std::string>(&wanted)) {
        err << "halvo-cli wait-free: " << terminalSafe(*why) << '\n';
        return ExitStatus::usage;
    }
    const std::vector<int64_t> taken =
        waitUntilFree(std::get<PortSet>(wanted), options.timeout, listening);
    if (taken.empty()) {
        return ExitStatus::ok;
    }
    err << stillTakenText(taken) << '\n';
    return ExitStatus::stillTaken;
}

}  // namespace halvo
