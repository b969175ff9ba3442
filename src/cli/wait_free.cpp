#include "cli/wait_free.h"

#include <thread>

#include "cli/terminal_text.h"
#include "kill/search_filter.h"

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

ExitStatus runWaitFree(const WaitFreeOptions& options, const ListeningPortsSource& listening,
                       std::ostream& err) {
    PortSet wanted;
    for (const std::string& word : options.ports) {
        const std::string query = normalizeQuery(word);
        const std::optional<PortSet> ports = parsePortQuery(query);
        if (!ports) {
            const std::string why = portExpressionError(query).value_or(
                word + " is not a port, a list or a range of ports");
            err << "halvo-cli wait-free: " << terminalSafe(why) << '\n';
            return ExitStatus::usage;
        }
        wanted |= *ports;
    }
    if (wanted.none()) {
        err << "halvo-cli wait-free: a port is required\n";
        return ExitStatus::usage;
    }

    const Clock::time_point deadline = Clock::now() + options.timeout;
    for (;;) {
        const std::vector<int64_t> taken = takenPorts(wanted, listening());
        if (taken.empty()) {
            return ExitStatus::ok;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            err << (taken.size() == 1 ? "Port " : "Ports ");
            for (size_t i = 0; i < taken.size(); ++i) {
                err << (i > 0 ? ", " : "") << taken[i];
            }
            err << (taken.size() == 1 ? " is" : " are") << " still taken\n";
            return ExitStatus::stillTaken;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(kPollInterval, deadline - now));
    }
}

}  // namespace halvo
