// The two things halvo-cli does, apart from argument parsing so that they can
// run against any scanner and kill engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "kill/container_stopper.h"
#include "kill/halvo_endings.h"
#include "kill/leave_alone_list.h"
#include "kill/process_killing.h"
#include "kill/restart_watch.h"
#include "kill/supervisor_stopper.h"
#include "scan/port_scanner.h"
#include "scan/process_tree.h"

namespace halvo {

// Like pkill's: scripts can tell "nothing there" from "could not end it".
enum class ExitStatus : int {
    ok = 0,
    nothingMatched = 1,
    usage = 2,
    notAllEnded = 3,   // some target was stale or refused
    outputFailed = 4,  // standard output could not be written
    stillTaken = 5,    // wait-free: a port was still taken when the time ran out
};

struct ListOptions {
    std::vector<std::string> query{};  // words joined with spaces
    bool json = false;
    std::optional<size_t> width{};  // a terminal's columns: COMMAND is cut to fit
    // Also the listeners of others; the JSON is then an object (see README).
    bool all = false;
    bool wide = false;            // the table adds MEMORY, CPU and UP
    LeaveAloneList leaveAlone{};  // its rows are hidden unless `all`
};

struct KillOptions {
    std::vector<std::string> query{};  // each selects on its own; the targets are the union
    std::vector<int32_t> pids{};       // select by PID
    // Refuse any process that did not start at this moment.
    std::optional<ProcessStartTime> started{};
    bool force = false;
    bool dryRun = false;
    bool tree = false;  // end each target's whole process tree
    // End a process that a systemd unit or pm2 app runs, not the supervisor.
    bool noSupervisor = false;
    LeaveAloneList leaveAlone{};  // its rows are never selected
};

// What a kill uses beyond the scanner and the engine; null parts are skipped.
struct KillHelpers {
    ProcessTreeReading* tree = nullptr;         // for KillOptions::tree
    RestartWatching* restarts = nullptr;        // watched after a kill that ended everything
    SupervisorStopping* supervisors = nullptr;  // for rows a unit or pm2 app runs
    const HalvoEndings* endings = nullptr;      // told of the targets before any signal
};

// "SECONDS.MICROSECONDS", the two numbers of the JSON's startTime; nothing
// when the text is not that.
std::optional<ProcessStartTime> parseStartTime(std::string_view text);

// What a list found: the rows shown, the listeners of others the query names,
// and the user's own listeners on its ports that the development filter hid.
struct ListResult {
    std::vector<PortProcess> shown;
    std::vector<ForeignListener> held;
    std::vector<std::string> hidden;  // "Port 5432 is held by your postgres ...; --all includes it"
    bool blankQuery = true;
};

ListResult listServers(const ListOptions& options, PortScanning& scanner);

// Prints `result` as halvo-cli list does (options.json, width and all as given).
ExitStatus printList(const ListResult& result, const ListOptions& options, std::ostream& out,
                     std::ostream& err);

ExitStatus runList(const ListOptions& options, PortScanning& scanner, std::ostream& out,
                   std::ostream& err);

// What became of one row a kill selected, or of a port others hold.
// leftAlone: on the user's leave-alone list, never a target.
enum class KillRowStatus {
    wouldEnd,
    wouldStop,
    ended,
    stopped,
    changed,
    failed,
    heldByOthers,
    leftAlone
};

struct KillRowResult {
    KillRowStatus status = KillRowStatus::failed;
    int64_t port = 0;
    std::optional<int32_t> pid{};  // nothing for a container or another user's listener
    std::string name;              // the executable, the container, or the other user
    std::optional<ProcessStartTime> startTime{};
    std::string text;  // why it was not ended, or what a dry run would do; may be empty
};

struct KillResult {
    ExitStatus status = ExitStatus::usage;
    std::vector<KillRowResult> rows;
    // The lines halvo-cli kill prints, not yet made terminal-safe; after a
    // usage error, its text alone.
    std::vector<std::string> out;
    std::vector<std::string> err;
};

KillResult killServers(const KillOptions& options, PortScanning& scanner, ProcessKilling& engine,
                       ContainerStopping& containers, KillHelpers helpers = {});

// Prints `result` as halvo-cli kill does.
ExitStatus printKill(const KillResult& result, std::ostream& out, std::ostream& err);

// Process rows go to `engine`; container rows (no PID) are stopped by `containers`.
ExitStatus runKill(const KillOptions& options, PortScanning& scanner, ProcessKilling& engine,
                   ContainerStopping& containers, std::ostream& out, std::ostream& err,
                   KillHelpers helpers = {});

}  // namespace halvo
