// A set of TCP ports kept as ranges: what a container publishes. A published
// range costs one entry however wide it is and however often a listing repeats
// it, so the set never outgrows the 65,535 ports there are.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace halvo {

// Ports first to last, both included.
struct PortRange {
    int64_t first = 0;
    int64_t last = 0;

    bool operator==(const PortRange&) const = default;
};

class PortRangeSet {
  public:
    PortRangeSet() = default;
    PortRangeSet(std::initializer_list<PortRange> ranges);

    // Adds `range`; one outside 1..65535 or with first > last adds nothing.
    void add(PortRange range);
    // add(range), and the parts of it the set did not hold before, ascending.
    std::vector<PortRange> addNew(PortRange range);
    bool contains(int64_t port) const;
    bool empty() const { return ranges_.empty(); }
    // Ascending, each apart from the next by at least one port.
    const std::vector<PortRange>& ranges() const { return ranges_; }

    bool operator==(const PortRangeSet&) const = default;

  private:
    std::vector<PortRange> ranges_;
};

}  // namespace halvo
