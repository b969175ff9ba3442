#include "scan/docker_container.h"

namespace halvo {

std::string containerCommand(std::string_view command) {
    constexpr std::string_view kEllipsis = "\u2026";
    if (command.size() <= kContainerCommandLimit) {
        return std::string(command);
    }
    size_t end = kContainerCommandLimit - kEllipsis.size();
    while (end > 0 && (static_cast<unsigned char>(command[end]) & 0xC0) == 0x80) {
        --end;  // not inside a character
    }
    return std::string(command.substr(0, end)) + std::string(kEllipsis);
}

}  // namespace halvo
