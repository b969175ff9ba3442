// SIGTERM (logout, systemd), SIGINT and SIGHUP end the event loop instead of
// the process, so that settings still in memory reach the disk and the tray
// item leaves the bus in order.
#pragma once

namespace halvo {

// Call once, after the QCoreApplication exists.
void quitOnTerminationSignals();

}  // namespace halvo
