// One HTTP GET over a unix stream socket: how Halvo asks a local Docker
// engine without paying for a run of its Go client on every scan.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "scan/command_runner.h"

namespace halvo {

struct HttpAnswer {
    int status = 0;
    std::string body;
};

// Connects to the socket at `socketPath`, sends "GET `target` HTTP/1.0" and
// reads the answer until the server closes the connection, as HTTP/1.0 has
// it do (and so sends the body whole, never chunked). None when the socket
// does not answer, the answer is no HTTP, longer than `cap`, or not complete
// by `bound`; the call never blocks past it.
std::optional<HttpAnswer> httpGetOverUnixSocket(const std::string& socketPath,
                                                std::string_view target,
                                                std::chrono::milliseconds bound,
                                                size_t cap = kOutputCap);

// The status and body of a raw HTTP/1.x answer (status line, head, blank
// line, body); none when it is not one.
std::optional<HttpAnswer> parseHttpAnswer(std::string_view raw);

}  // namespace halvo
