// The tools halvo-cli mcp offers coding agents: list_servers, kill_servers and
// wait_ports_free, with the rules and texts of list, kill and wait-free.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "scan/listening_ports.h"

namespace halvo {

struct McpToolParts {
    // The user's development servers; with `all`, every process of theirs.
    std::function<std::shared_ptr<PortScanning>(bool all)> scanner;
    ProcessKilling& engine;
    ContainerStopping& containers;
    KillHelpers helpers{};
    ListeningPortsSource listening = listeningPortsNow;
};

// The "tools" of a tools/list result: names, schemas and annotations.
nlohmann::json mcpToolDescriptions();

// The result of a tools/call of `name`; nothing for an unknown tool. Bad
// arguments give a result with isError and the CLI's text. `stop` cuts a
// wait short, never a kill (which would then force).
std::optional<nlohmann::json> callMcpTool(std::string_view name, const nlohmann::json& arguments,
                                          const McpToolParts& parts, std::stop_token stop = {});

}  // namespace halvo
