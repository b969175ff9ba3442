// halvo-cli mcp's transport: lines from standard input to a session, each
// reply alone on a line of standard output, and nothing else there.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "cli/mcp_session.h"

namespace halvo {

// Lines from a file descriptor. A line longer than `cap` comes as its first
// cap + 1 bytes, so that it is seen as too long; the rest of it is dropped.
class LineReader final {
  public:
    LineReader(int fd, size_t cap) : fd_(fd), cap_(cap) {}

    // The next line without its newline; nothing at the end of the input, on
    // a read error, or once `wakeFd` is readable.
    std::optional<std::string> next(int wakeFd);

  private:
    int fd_;
    size_t cap_;
    std::string buffer_;
    bool dropping_ = false;  // inside the rest of a line too long
};

// Serves `session` until the client closes its end of `in` or of `out`.
// A call the client cancels is cut short (a wait, not a kill) and not
// answered; the client's going cuts a wait short too. Returns 0.
int serveMcp(McpSession& session, int in, int out);

// serveMcp on standard input and output, with the system's scanner and kill engine.
int serveMcpOnStdio();

}  // namespace halvo
