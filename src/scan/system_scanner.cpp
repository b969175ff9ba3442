#include "scan/system_scanner.h"

#include "scan/docker_resolver.h"
#include "scan/lsof_port_discovery.h"
#include "scan/native_port_discovery.h"
#include "scan/process_resolver.h"

namespace halvo {

std::shared_ptr<PortScanning> makeSystemScanner(PortScannerOptions options) {
    return std::make_shared<PortScanner>(
        std::make_shared<ProcessResolver>("/proc", options.supervisors),
        std::make_shared<DockerResolver>(), std::make_shared<NativePortDiscovery>(),
        std::make_shared<LsofPortDiscovery>(), options);
}

}  // namespace halvo
