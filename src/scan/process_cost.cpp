#include "scan/process_cost.h"

#include <cmath>
#include <cstdio>

namespace halvo {
namespace {

std::string withUnit(double value, const char* unit) {
    char text[32];
    if (value < 10) {
        std::snprintf(text, sizeof(text), "%.1f %s", value, unit);
    } else {
        std::snprintf(text, sizeof(text), "%.0f %s", value, unit);
    }
    return text;
}

}  // namespace

std::string memoryText(uint64_t bytes) {
    constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1000 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    return withUnit(value, kUnits[unit]);
}

std::string durationText(double seconds) {
    if (!(seconds >= 0)) {
        seconds = 0;
    }
    if (seconds < 60) {
        return withUnit(seconds, "s");
    }
    const auto whole = static_cast<uint64_t>(std::llround(seconds));
    const auto two = [](uint64_t big, const char* bigUnit, uint64_t small, const char* smallUnit) {
        std::string text = std::to_string(big) + ' ' + bigUnit;
        if (small != 0) {
            text += ' ' + std::to_string(small) + ' ' + smallUnit;
        }
        return text;
    };
    if (whole < 3600) {
        return two(whole / 60, "min", whole % 60, "s");
    }
    if (whole < 86400) {
        return two(whole / 3600, "h", whole / 60 % 60, "min");
    }
    return two(whole / 86400, "d", whole / 3600 % 24, "h");
}

CostTexts costTexts(const PortProcess& row, ProcessStartTime now) {
    if (!row.cost) {
        return {"-", "-", "-"};
    }
    const double up = static_cast<double>(now.seconds - row.startTime.seconds) +
                      (now.microseconds - row.startTime.microseconds) / 1e6;
    return {memoryText(row.cost->residentBytes), durationText(row.cost->cpuSeconds),
            durationText(up)};
}

}  // namespace halvo
