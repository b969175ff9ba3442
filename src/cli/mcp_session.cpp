#include "cli/mcp_session.h"

#include <algorithm>
#include <cctype>
#include <variant>

namespace halvo {
namespace {

using nlohmann::json;

// Newest first: the versions of the protocol this server speaks.
constexpr std::string_view kProtocolVersions[] = {"2025-11-25", "2025-06-18", "2025-03-26",
                                                  "2024-11-05"};

enum ErrorCode : int {
    kParseError = -32700,
    kInvalidRequest = -32600,
    kMethodNotFound = -32601,
    kInvalidParams = -32602,
    kInternalError = -32603,
};

struct RpcError {
    ErrorCode code;
    std::string message;
};

std::string dumped(const json& message) {
    return message.dump(-1, ' ', true, json::error_handler_t::replace);
}

std::string errorReply(const json& id, const RpcError& error) {
    return dumped({{"jsonrpc", "2.0"},
                   {"id", id},
                   {"error", {{"code", error.code}, {"message", error.message}}}});
}

bool validId(const json& id) {
    return id.is_string() || id.is_number_integer();
}

// A parsed line, or nothing when it is no JSON.
std::optional<json> parsed(std::string_view line) {
    json message = json::parse(line, nullptr, false);
    return message.is_discarded() ? std::nullopt : std::optional<json>(std::move(message));
}

json initializeResult(const std::string& requested) {
    const auto known = std::find(std::begin(kProtocolVersions), std::end(kProtocolVersions),
                                 std::string_view(requested));
    // A version we do not speak is answered with our newest; the client decides.
    const std::string_view version =
        known != std::end(kProtocolVersions) ? *known : kProtocolVersions[0];
    return {{"protocolVersion", version},
            {"capabilities", {{"tools", {{"listChanged", false}}}}},
            {"serverInfo", {{"name", "halvo"}, {"title", "Halvo"}, {"version", HALVO_VERSION}}},
            {"instructions",
             "Ends the user's own development servers safely. Before starting a server on a "
             "taken port, call list_servers, then kill_servers (a dry run unless dry_run is "
             "false), then wait_ports_free. Never end a process with kill -9 by port."}};
}

}  // namespace

std::optional<std::string> McpSession::handle(std::string_view line, std::stop_token stop) {
    if (line.size() > maxMessageBytes_) {
        return errorReply(nullptr,
                          {kInvalidRequest,
                           "Message larger than " + std::to_string(maxMessageBytes_) + " bytes"});
    }
    if (std::all_of(line.begin(), line.end(), [](char c) { return std::isspace(uint8_t(c)); })) {
        return std::nullopt;
    }
    const std::optional<json> message = parsed(line);
    if (!message) {
        return errorReply(nullptr, {kParseError, "Parse error: not JSON"});
    }
    if (!message->is_object()) {
        return errorReply(nullptr, {kInvalidRequest,
                                    "Not a JSON-RPC message (batches are not "
                                    "supported)"});
    }
    const json id = message->value("id", json());
    const json replyId = validId(id) ? id : json();
    const auto method = message->find("method");
    const auto version = message->find("jsonrpc");
    if (version == message->end() || *version != "2.0" ||
        (method == message->end() && !message->contains("result") && !message->contains("error")) ||
        (method != message->end() && !method->is_string()) ||
        (message->contains("id") && !validId(id))) {
        return errorReply(replyId, {kInvalidRequest, "Invalid JSON-RPC 2.0 request"});
    }
    if (method == message->end() || !message->contains("id")) {
        return std::nullopt;  // a response to no request of ours, or a notification
    }
    const json params = message->value("params", json::object());
    if (!params.is_object()) {
        return errorReply(id, {kInvalidParams, "params must be an object"});
    }
    try {
        json result = dispatch(method->get<std::string>(), params, std::move(stop));
        if (result.contains("error")) {
            return dumped({{"jsonrpc", "2.0"}, {"id", id}, {"error", std::move(result["error"])}});
        }
        return dumped({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result["result"])}});
    } catch (const std::exception& error) {
        // A fault of ours answers this request; the session goes on.
        return errorReply(id, {kInternalError, error.what()});
    }
}

json McpSession::dispatch(const std::string& method, const json& params, std::stop_token stop) {
    const auto fail = [](ErrorCode code, std::string message) {
        return json{{"error", {{"code", code}, {"message", std::move(message)}}}};
    };
    const auto result = [](json value) { return json{{"result", std::move(value)}}; };
    if (method == "initialize") {
        const auto version = params.find("protocolVersion");
        if (version == params.end() || !version->is_string()) {
            return fail(kInvalidParams, "initialize needs a protocolVersion");
        }
        initialized_ = true;
        return result(initializeResult(version->get<std::string>()));
    }
    if (method == "ping") {
        return result(json::object());
    }
    if (!initialized_) {
        return fail(kInvalidRequest, "Not initialized: send initialize first");
    }
    if (method == "tools/list") {
        return result({{"tools", mcpToolDescriptions()}});
    }
    if (method != "tools/call") {
        return fail(kMethodNotFound, "Method not found: " + method);
    }
    const auto name = params.find("name");
    if (name == params.end() || !name->is_string()) {
        return fail(kInvalidParams, "tools/call needs a tool name");
    }
    std::optional<json> called =
        callMcpTool(name->get<std::string>(), params.value("arguments", json()), parts_, stop);
    if (!called) {
        return fail(kInvalidParams, "Unknown tool: " + name->get<std::string>());
    }
    return result(std::move(*called));
}

std::optional<json> cancelledRequestId(std::string_view line) {
    const std::optional<json> message = parsed(line);
    if (!message || !message->is_object() ||
        message->value("method", json()) != "notifications/cancelled") {
        return std::nullopt;
    }
    const json params = message->value("params", json());
    return params.is_object() && params.contains("requestId")
               ? std::optional<json>(params["requestId"])
               : std::nullopt;
}

std::optional<json> requestId(std::string_view line) {
    const std::optional<json> message = parsed(line);
    if (!message || !message->is_object() || !message->contains("method") ||
        !validId(message->value("id", json()))) {
        return std::nullopt;
    }
    return (*message)["id"];
}

}  // namespace halvo
