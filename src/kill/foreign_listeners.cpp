#include "kill/foreign_listeners.h"

#include <unistd.h>

#include "kill/search_filter.h"

namespace halvo {

std::vector<ForeignListener> foreignListenersMatching(const std::vector<ForeignListener>& foreign,
                                                      std::string_view query) {
    const std::string normalized = normalizeQuery(query);
    if (normalized.empty()) {
        return foreign;
    }
    const std::optional<PortSet> ports = parsePortQuery(normalized);
    std::vector<ForeignListener> matching;
    if (!ports) {
        return matching;
    }
    for (const ForeignListener& listener : foreign) {
        if (listener.port > 0 && listener.port < static_cast<int64_t>(ports->size()) &&
            ports->test(static_cast<size_t>(listener.port))) {
            matching.push_back(listener);
        }
    }
    return matching;
}

std::string heldByOthersText(const ForeignListener& listener) {
    const std::string port = "Port " + std::to_string(listener.port);
    if (listener.uid == getuid()) {
        return port + " is taken, but no process of yours that Halvo can read holds it";
    }
    return port + " is held by user " + listener.user + "; Halvo can only end your own processes";
}

}  // namespace halvo
