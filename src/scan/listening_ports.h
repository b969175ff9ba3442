// Which TCP ports something listens on right now, anyone's: the listening
// socket table alone, without the walk over every process that says whose.
// A few milliseconds, so it can be polled.
#pragma once

#include <cstdint>
#include <functional>
#include <set>

#include "scan/listening_sockets.h"

namespace halvo {

// From one sock_diag dump, else from /proc/net/tcp and tcp6.
ListeningSockets listeningSocketsNow();
std::set<int64_t> listeningPortsNow();

// Where a caller takes the sockets from: listeningSocketsNow, or a test's table.
using ListeningSocketsSource = std::function<ListeningSockets()>;

// Where a caller takes those ports from: listeningPortsNow, or a test's list.
using ListeningPortsSource = std::function<std::set<int64_t>()>;

}  // namespace halvo
