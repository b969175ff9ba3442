#include "kill/foreign_listeners.h"

#include <unistd.h>

#include "kill/search_filter.h"

namespace halvo {
namespace {

template <typename Listener>
std::vector<Listener> onPorts(const std::vector<Listener>& listeners, const PortSet& ports) {
    std::vector<Listener> matching;
    for (const Listener& listener : listeners) {
        if (listener.port > 0 && listener.port < static_cast<int64_t>(ports.size()) &&
            ports.test(static_cast<size_t>(listener.port))) {
            matching.push_back(listener);
        }
    }
    return matching;
}

}  // namespace

std::vector<ForeignListener> foreignListenersMatching(const std::vector<ForeignListener>& foreign,
                                                      std::string_view query) {
    const std::string normalized = normalizeQuery(query);
    if (normalized.empty()) {
        return foreign;
    }
    const std::optional<PortSet> ports = parsePortQuery(normalized);
    return ports ? onPorts(foreign, *ports) : std::vector<ForeignListener>{};
}

std::string heldByOthersText(const ForeignListener& listener) {
    const std::string port = "Port " + std::to_string(listener.port);
    if (listener.uid == getuid()) {
        return port + " is taken, but no process of yours that Halvo can read holds it";
    }
    return port + " is held by user " + listener.user + "; Halvo can only end your own processes";
}

std::vector<LsofRow> hiddenListenersMatching(const std::vector<LsofRow>& hidden,
                                             std::string_view query) {
    const std::optional<PortSet> ports = parsePortQuery(normalizeQuery(query));
    return ports ? onPorts(hidden, *ports) : std::vector<LsofRow>{};
}

std::string notDevelopmentText(const LsofRow& listener) {
    return "Port " + std::to_string(listener.port) + " is held by your " + listener.name +
           " (PID " + std::to_string(listener.pid) + "), not a development server";
}

}  // namespace halvo
