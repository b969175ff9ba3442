// One native discovery in a process of its own, printing "PID NAME PORT" per
// row, so that a whole scan can be timed against ss and lsof.
#include <cstdio>
#include <string>

#include "scan/native_port_discovery.h"

int main() {
    std::string out;
    for (const halvo::LsofRow& row : halvo::NativePortDiscovery().rows()) {
        out += std::to_string(row.pid);
        out += ' ';
        out += row.name;
        out += ' ';
        out += std::to_string(row.port);
        out += '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
