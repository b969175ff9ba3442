// Strings discovery, resolution and classification together into the ordered
// list of the current user's development servers.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "scan/docker_resolver.h"
#include "scan/port_discovering.h"
#include "scan/port_records.h"
#include "scan/process_resolver.h"
#include "scan/project_root.h"

namespace halvo {

// What one scan found: the user's own rows, and the listeners they cannot act on.
struct PortScan {
    std::vector<PortProcess> processes;
    std::vector<ForeignListener> foreign;  // by port, one entry per port and owner
    // The user's own listeners that the development filter left out (PID,
    // executable name, port), so that a port they hold is not called free.
    std::vector<LsofRow> notDevelopment;
};

class PortScanning {
  public:
    virtual ~PortScanning() = default;
    // discoverRows(), then processes(from:) of its rows. Blocking, never fails.
    virtual std::vector<PortProcess> scan() = 0;
    // scan() and, from the same discovery, the listeners that are not the user's
    // (none when the fallback had to look).
    virtual PortScan scanAll() { return {scan(), {}, {}}; }
    // The native rows; the fallback rows only when native discovery could not look.
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
    // Where project roots stop being looked for (see ProjectRootResolver).
    // Read once: the environment may change under a scan on another thread.
    std::string home = homeFolder();
    // Off only to measure what the lookup costs (the system scanner reads it).
    SupervisorLookup supervisors = SupervisorLookup::on;
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
    // PID -> identity of the user's own readable processes (nothing for
    // the others), as read once in a scan.
    using Identities = std::unordered_map<int32_t, std::optional<ProcessIdentitySnapshot>>;

    // processes(rows), reading identities not yet in `identities` into it and
    // asking Docker through the scan's `docker` listing; the listeners the
    // development filter leaves out go to `notDevelopment` when given.
    std::vector<PortProcess> processes(const std::vector<LsofRow>& rows, Identities& identities,
                                       DockerListing& docker,
                                       std::vector<LsofRow>* notDevelopment = nullptr);
    // The identity of `pid` when it is a readable process of the user's,
    // read into `identities` once a scan.
    const std::optional<ProcessIdentitySnapshot>& ownIdentity(int32_t pid, Identities& identities);
    // The native discovery; the fallback's rows, with no sockets, when the
    // native one could not look.
    Discovery discover();
    // The sockets of `seen` that no process of the user held when the scan
    // began, one per port and owner, by port then owner.
    std::vector<ForeignListener> foreignListeners(const std::vector<SeenListener>& seen,
                                                  Identities& identities, ProcessStartTime began);
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
