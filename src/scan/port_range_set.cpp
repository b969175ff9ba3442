#include "scan/port_range_set.h"

#include <algorithm>

namespace halvo {

PortRangeSet::PortRangeSet(std::initializer_list<PortRange> ranges) {
    for (PortRange range : ranges) {
        add(range);
    }
}

void PortRangeSet::add(PortRange range) {
    addNew(range);
}

std::vector<PortRange> PortRangeSet::addNew(PortRange range) {
    if (range.first < 1 || range.last > 65535 || range.first > range.last) {
        return {};
    }
    // The held ranges that overlap `range` or touch it merge with it.
    const auto begin =
        std::lower_bound(ranges_.begin(), ranges_.end(), range.first,
                         [](const PortRange& held, int64_t port) { return held.last + 1 < port; });
    const auto end =
        std::upper_bound(begin, ranges_.end(), range.last,
                         [](int64_t port, const PortRange& held) { return port + 1 < held.first; });
    std::vector<PortRange> fresh;
    int64_t next = range.first;
    for (auto held = begin; held != end; ++held) {
        if (held->first > next) {
            fresh.push_back({next, std::min(held->first - 1, range.last)});
        }
        next = std::max(next, held->last + 1);
    }
    if (next <= range.last) {
        fresh.push_back({next, range.last});
    }
    if (begin == end) {
        ranges_.insert(begin, range);
        return fresh;
    }
    begin->first = std::min(begin->first, range.first);
    begin->last = std::max(std::prev(end)->last, range.last);
    ranges_.erase(begin + 1, end);
    return fresh;
}

bool PortRangeSet::contains(int64_t port) const {
    const auto after =
        std::upper_bound(ranges_.begin(), ranges_.end(), port,
                         [](int64_t wanted, const PortRange& held) { return wanted < held.first; });
    return after != ranges_.begin() && std::prev(after)->last >= port;
}

}  // namespace halvo
