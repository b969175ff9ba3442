// A stand-in Docker engine: a unix socket that answers every request with the
// same raw HTTP text, from its own thread, and keeps the request lines.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"

namespace halvo::testing {

class StandInEngine {
  public:
    // Serves at `socketPath` until destroyed.
    StandInEngine(const std::string& socketPath, std::string answer);
    ~StandInEngine();
    StandInEngine(const StandInEngine&) = delete;
    StandInEngine& operator=(const StandInEngine&) = delete;

    // The first line of each request so far ("GET /v1.24/containers/json HTTP/1.0").
    std::vector<std::string> requests() const;

  private:
    void serve();

    int listener_ = -1;
    int stop_[2] = {-1, -1};
    std::string answer_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A listening unix socket at `path` that never accepts: a hung engine.
UniqueFd silentUnixSocket(const std::string& path);

// A body as the engine answers it: status line, head, then `body`.
std::string engineAnswer(const std::string& body);

}  // namespace halvo::testing
