// One Model Context Protocol session as JSON-RPC 2.0, one message a line: the
// lifecycle (initialize and its version negotiation first), ping, and the
// tools of mcp_tools.h. Transport-free, so that any line can be tried on it.
#pragma once

#include <cstddef>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/mcp_tools.h"

namespace halvo {

// Requests are a few hundred bytes; anything near this is no client of ours.
inline constexpr size_t kMaxMcpMessageBytes = size_t{1} << 20;

class McpSession final {
  public:
    explicit McpSession(McpToolParts parts, size_t maxMessageBytes = kMaxMcpMessageBytes)
        : parts_(std::move(parts)), maxMessageBytes_(maxMessageBytes) {}

    // The reply to one line from the client; nothing for a notification or a
    // response. Never throws: a fault in the line is an error reply.
    std::optional<std::string> handle(std::string_view line, std::stop_token stop = {});

  private:
    nlohmann::json dispatch(const std::string& method, const nlohmann::json& params,
                            std::stop_token stop);

    McpToolParts parts_;
    size_t maxMessageBytes_;
    bool initialized_ = false;
};

// The id of the request that `line` cancels when it is a notifications/cancelled.
std::optional<nlohmann::json> cancelledRequestId(std::string_view line);

// The id of the request `line` is, when it is one.
std::optional<nlohmann::json> requestId(std::string_view line);

}  // namespace halvo
