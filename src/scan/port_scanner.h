// Strings discovery, resolution and classification together into the ordered
// list of the current user's development servers.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scan/docker_resolver.h"
#include "scan/port_discovering.h"
#include "scan/port_records.h"
#include "scan/process_resolver.h"

namespace halvo {

// What one scan found: the user's own rows, and the listeners they cannot act on.
struct PortScan {
    std::vector<PortProcess> processes;
    std::vector<ForeignListener> foreign;  // by port, one entry per port and owner
};

class PortScanning {
  public:
    virtual ~PortScanning() = default;
    // discoverRows(), then processes(from:) of its rows. Blocking, never fails.
    virtual std::vector<PortProcess> scan() = 0;
    // scan() and, from the same discovery, the listeners that are not the user's.
    virtual PortScan scanAll() { return {scan(), {}}; }
    // The native rows; the fallback rows only when the native list is empty.
    virtual std::vector<LsofRow> discoverRows() = 0;
    virtual std::vector<PortProcess> processes(const std::vector<LsofRow>& rows) = 0;
};

// One row per PID and port: the first of each, in input order.
std::vector<LsofRow> uniqueRows(const std::vector<LsofRow>& rows);

// Whether a process looks like a development server: by name, then by markers
// in its raw command text. Exclusions win.
bool isDevelopmentProcess(std::string_view executableName, std::string_view rowName,
                          const ProcessMetadata& metadata);

struct PortScannerOptions {
    bool developmentOnly = true;  // false keeps every process of the user
    // Read when a scan begins: processes that started later are dropped.
    std::function<ProcessStartTime()> now = processClockNow;
};

class PortScanner final : public PortScanning {
  public:
    PortScanner(std::shared_ptr<ProcessResolving> processResolver,
                std::shared_ptr<DockerResolving> dockerResolver,
                std::shared_ptr<PortDiscovering> nativeDiscovery,
                std::shared_ptr<PortDiscovering> fallbackDiscovery,
                PortScannerOptions options = {});

    std::vector<PortProcess> scan() override;
    PortScan scanAll() override;
    std::vector<LsofRow> discoverRows() override;
    std::vector<PortProcess> processes(const std::vector<LsofRow>& rows) override;

  private:
    // processes(rows), asking Docker through the scan's `docker` listing.
    std::vector<PortProcess> processes(const std::vector<LsofRow>& rows, DockerListing& docker);
    // A row for each port a container publishes that no row of `rows` holds:
    // no PID, the container's command as its command text. The rootless
    // engine's ports are held by the user's own rootlesskit, which keeps its
    // row. Keeps `rows` in scan order.
    void addContainerRows(std::vector<PortProcess>& rows, DockerListing& docker);

    std::shared_ptr<ProcessResolving> processResolver_;
    std::shared_ptr<DockerResolving> dockerResolver_;
    std::shared_ptr<PortDiscovering> nativeDiscovery_;
    std::shared_ptr<PortDiscovering> fallbackDiscovery_;
    PortScannerOptions options_;
};

}  // namespace halvo
