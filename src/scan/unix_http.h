// One HTTP GET over a unix stream socket: how Halvo asks a local Docker
// engine without paying for a run of its Go client on every scan.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace halvo {

// The most an answer may hold, head and body; a longer one counts as none.
inline constexpr size_t kHttpAnswerCap = size_t{8} << 20;

struct HttpAnswer {
    int status = 0;
    std::string body;  // de-chunked when the server chunked it
};

// Connects to the socket at `socketPath`, sends "GET `target` HTTP/1.0" and
// reads the answer until the server closes the connection (HTTP/1.0 asks it
// to). None when the socket does not answer, the answer is no HTTP, longer
// than `cap`, or not complete by `bound`; the call never blocks past it.
std::optional<HttpAnswer> httpGetOverUnixSocket(const std::string& socketPath,
                                                std::string_view target,
                                                std::chrono::milliseconds bound,
                                                size_t cap = kHttpAnswerCap);

// The body of a raw HTTP answer `raw` (head, blank line, body), or none when
// it is no HTTP/1.x answer or its chunked body is cut short or malformed.
std::optional<HttpAnswer> parseHttpAnswer(std::string_view raw);

}  // namespace halvo
