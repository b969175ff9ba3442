// The scanner over the real system: /proc first, lsof only when /proc or the
// socket table cannot be read, the resolvers reading /proc and asking docker.
#pragma once

#include <memory>

#include "scan/port_scanner.h"

namespace halvo {

std::shared_ptr<PortScanning> makeSystemScanner(PortScannerOptions options = {});

}  // namespace halvo
