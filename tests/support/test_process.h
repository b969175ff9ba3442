// Real processes for tests: stand-in servers started from the test listener,
// and temporary folders they can run in.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halvo::testing {

// A folder removed with everything in it when the value goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Creates `relative` (and its parents) inside the folder; returns its path.
    std::string makeDir(const std::string& relative) const;
    // Writes `text` to `relative` with the given mode; returns its path.
    std::string writeFile(const std::string& relative, const std::string& text,
                          int mode = 0644) const;

  private:
    std::string path_;
};

struct ListenerOptions {
    std::vector<std::string> listenerArgs{};  // --v4 1, --dual 1, --udp, ...
    std::vector<std::string> extraArgs{};     // after "--": words for classification
    // The executable to run, e.g. a symlink named "node" to the listener.
    std::string executable{};
    std::optional<std::string> argv0{};
    std::optional<std::string> workingDirectory{};
    bool newSession = false;  // its own session, as a terminal's shell has
};

// A started test listener. Ends it when destroyed (stdin closed, then SIGKILL).
class ListenerProcess {
  public:
    // Starts the listener and waits until it has reported its ports.
    static std::unique_ptr<ListenerProcess> start(const ListenerOptions& options);
    ~ListenerProcess();

    pid_t pid() const { return pid_; }
    const std::vector<int64_t>& ports() const { return ports_; }
    // Closes its standard input, on which it exits by itself; does not reap it.
    void closeInput();
    // Ends the process (SIGKILL after five seconds) and reaps it; true when
    // it ended by itself.
    bool stop();
    // Whether the process is still running (not reaped, not a zombie).
    bool running() const;

  private:
    ListenerProcess() = default;
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    std::vector<int64_t> ports_;
};

// The signal that ended our child `pid`, 0 when it exited normally, -1 when it
// is still running after five seconds. Leaves it unreaped.
int endingSignal(pid_t pid);

// Whether process `pid` is gone (or a zombie) within a few seconds; sends nothing.
bool processEnds(pid_t pid);

// Whether the process whose PID a test's script wrote to `pidFile` ends
// within a few seconds (a zombie counts). One that does not is ended, since
// the test started it; so is the answer false when no PID was written.
bool recordedProcessEnds(const std::string& pidFile);

// Changes to this process's environment, undone when the value goes: for
// tests that put a stand-in tool first on PATH.
class ScopedEnvironment {
  public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    // Sets (or, with nothing, removes) `name`.
    void set(const std::string& name, const std::optional<std::string>& value);
    // `dir` first on PATH.
    void prependPath(const std::string& dir);

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The path of the test listener binary.
std::string listenerPath();
// A symlink named `name` to the test listener inside `dir`, so that the
// started process's short name is `name`.
std::string listenerNamed(const TempDir& dir, const std::string& name);
// A copy of the test listener at `dir`/bin/`name`: its executable path then
// holds no words of the build folder, which may look like a framework.
std::string listenerCopy(const TempDir& dir, const std::string& name);

}  // namespace halvo::testing
