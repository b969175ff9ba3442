// The primary discovery back-end: reads the process table in-process.
#pragma once

#include <memory>

#include "scan/port_discovering.h"
#include "scan/process_table_reading.h"

namespace halvo {

class NativePortDiscovery final : public PortDiscovering {
  public:
    // Uses the /proc process table when none is given.
    explicit NativePortDiscovery(std::shared_ptr<ProcessTableReading> table = nullptr);

    // One row per listening socket with a non-zero port, in process-table
    // order and, within a process, in descriptor order. A dual-stack server
    // gives two equal rows.
    std::vector<LsofRow> rows() override;
    // The rows, and every listening socket with a non-zero port with the
    // processes holding it, in no particular order. None when the table has
    // no socket table or no process list to give.
    std::optional<Discovery> discover() override;

  private:
    std::shared_ptr<ProcessTableReading> table_;
};

}  // namespace halvo
