// A stand-in Docker engine: a unix socket that answers every request with the
// same raw HTTP text, from its own thread, and keeps the request lines.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"

namespace halvo::testing {

// A unix socket listening at `path`. Until something accepts on it, a
// connection is taken and never answered: a hung engine.
UniqueFd listeningUnixSocket(const std::string& path);

class StandInEngine {
  public:
    // Serves at `socketPath` until destroyed.
    StandInEngine(const std::string& socketPath, std::string answer);
    ~StandInEngine();
    StandInEngine(const StandInEngine&) = delete;
    StandInEngine& operator=(const StandInEngine&) = delete;

    // The first line of each request so far ("GET /containers/json HTTP/1.0").
    std::vector<std::string> requests() const;

  private:
    void serve();

    UniqueFd listener_;
    UniqueFd stopRead_;
    UniqueFd stopWrite_;
    std::string answer_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A body as the engine answers it: status line, head, then `body`.
std::string engineAnswer(const std::string& body);

}  // namespace halvo::testing
