// Who started whom: the parent, session, owner and start time of every
// process, and the walks over them that a tree kill and the restart watch need.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scan/port_records.h"

namespace halvo {

struct ProcessTreeEntry {
    int32_t pid = 0;
    int32_t parentPid = 0;
    int32_t sessionId = 0;
    int32_t processGroup = 0;    // the shell's job
    uint32_t uid = 0;            // effective user id
    ProcessStartTime startTime;  // as the scan reads it, so a kill's identity check holds
    std::string name;            // the short name, /proc/PID/comm

    bool operator==(const ProcessTreeEntry&) const = default;
};

// The process table as a tree, behind a role so that tests can give their own.
class ProcessTreeReading {
  public:
    virtual ~ProcessTreeReading() = default;
    // One process; nothing when it is gone or cannot be read.
    virtual std::optional<ProcessTreeEntry> entry(int32_t pid) = 0;
    // Every readable process.
    virtual std::vector<ProcessTreeEntry> entries() = 0;
};

// Reads /proc/PID/stat and /proc/PID/status.
class ProcFsProcessTree final : public ProcessTreeReading {
  public:
    explicit ProcFsProcessTree(std::string procRoot = "/proc");

    std::optional<ProcessTreeEntry> entry(int32_t pid) override;
    std::vector<ProcessTreeEntry> entries() override;

  private:
    std::string procRoot_;
};

// The parent, session, process group and name fields of a /proc/PID/stat text (pid and uid
// are not in it; start time is left zero); nothing when it does not parse or
// names a process that has exited (a zombie).
std::optional<ProcessTreeEntry> parseStatTreeFields(std::string_view stat);

// Whether a process above a development server is part of it: a package
// manager, task runner or watcher, or an interpreter running a script file
// or module (not a prompt: `python3 -i`, `node --inspect`, `rails console`, a
// Jupyter kernel), known by its short name (/proc/PID/comm). A command line that only
// mentions "server" or "dev" (an editor opened on server.js) never counts:
// being wrong here ends the process the user works in.
bool isServerRunner(std::string_view name, const std::vector<std::string>& arguments);

// Whether a process may count as part of a development server's tree, beyond
// its name (the tree reader has no command line). The system check reads the
// process's arguments and applies isServerRunner.
using DevelopmentCheck = std::function<bool(const ProcessTreeEntry&)>;
DevelopmentCheck systemDevelopmentCheck();

// The shells, by short name.
bool isShellName(std::string_view name);

// Shells, terminals, multiplexers, editors and IDEs, login and init: the tree
// of a server never reaches past one of these, whatever its command line says.
bool isSessionProcessName(std::string_view name);

// One snapshot of the table, with the walks over it.
class ProcessTree final {
  public:
    explicit ProcessTree(std::vector<ProcessTreeEntry> entries);

    const ProcessTreeEntry* find(int32_t pid) const;
    // Nothing for init (PID 1), the kernel's threads and unknown parents.
    const ProcessTreeEntry* parent(int32_t pid) const;

    // The highest ancestor of `pid` that still belongs to the same
    // development server: walks up while the parent is the same user's, in
    // the same session and process group (the shell's job), not the session's
    // leader, not PID 1 and not a session process, and passes `isDevelopment`. A shell is crossed
    // only where it merely runs a script for a development parent (`npm run dev` -> `sh -c vite`
    // -> node). `pid` itself when nothing above qualifies or it is unknown.
    int32_t topDevelopmentAncestor(int32_t pid, const DevelopmentCheck& isDevelopment) const;

    // `root` and everything below it that belongs to the same user and stays
    // in root's session and process group (no session leader, no other job,
    // no terminal, editor or multiplexer, nor anything under one), deepest
    // first (children before their parents), `root` last. Empty when `root`
    // is unknown.
    std::vector<ProcessTreeEntry> subtree(int32_t root) const;

  private:
    std::unordered_map<int32_t, ProcessTreeEntry> byPid_;
    std::unordered_map<int32_t, std::vector<int32_t>> children_;
};

}  // namespace halvo
