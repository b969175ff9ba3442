// How front ends write what a listed process costs (see ProcessCost).
#pragma once

#include <cstdint>
#include <string>

#include "scan/port_records.h"

namespace halvo {

// "212 MB", "12.5 GB", "840 KB": powers of 1024, as top and ps count.
std::string memoryText(uint64_t bytes);
// "0.4 s", "12 s", "3 min 5 s", "2 h 10 min", "3 d 4 h": two units at most.
std::string durationText(double seconds);

struct CostTexts {
    std::string memory;
    std::string cpu;
    std::string up;  // how long the process has run
};

// A row's costs at `now`; "-" for what it does not have (a container row).
CostTexts costTexts(const PortProcess& row, ProcessStartTime now);

}  // namespace halvo
