#include "cli/mcp_tools.h"

#include <cmath>
#include <sstream>

#include "cli/port_output.h"
#include "cli/wait_free.h"
#include "kill/foreign_listeners.h"

namespace halvo {
namespace {

using nlohmann::json;

// The longest wait, as for wait-free --timeout.
constexpr double kMaxWaitSeconds = 86400;

// Schemas and annotations: what an agent reads before it calls.
constexpr const char* kTools = R"json([
{"name": "list_servers", "title": "List development servers",
 "description": "The current user's development servers listening on TCP ports (port, PID, start time, project, command), and the ports of the query that other users' processes hold. Use before kill_servers: a kill by PID needs the row's startTime.",
 "inputSchema": {"type": "object", "additionalProperties": false, "properties": {
   "query": {"type": "string", "description": "Ports (3000, :3000, 3000,5173, 5432-5434) or text to match; empty for every server"},
   "all": {"type": "boolean", "default": false, "description": "Every process of the user, not only development servers"}}},
 "outputSchema": {"type": "object", "required": ["processes", "heldByOthers", "notes"], "properties": {
   "processes": {"type": "array", "items": {"type": "object", "required": ["id", "port", "pid", "startTime", "executableName"], "properties": {
     "id": {"type": "string"}, "port": {"type": "integer"}, "pid": {"type": ["integer", "null"]},
     "startTime": {"type": "object", "required": ["seconds", "microseconds"], "properties": {
       "seconds": {"type": "integer"}, "microseconds": {"type": "integer"}}},
     "executableName": {"type": "string"}, "arguments": {"type": "array", "items": {"type": "string"}},
     "projectLabel": {"type": "string"}, "frameworkBadge": {"type": ["string", "null"]},
     "memoryBytes": {"type": ["integer", "null"], "description": "Resident memory"},
     "cpuSeconds": {"type": ["number", "null"], "description": "User and system CPU time so far"}}}},
   "heldByOthers": {"type": "array", "items": {"type": "object", "required": ["port", "owner"], "properties": {
     "port": {"type": "integer"},
     "owner": {"type": "object", "properties": {"uid": {"type": "integer"}, "user": {"type": "string"}}}}}},
   "notes": {"type": "array", "items": {"type": "string"}}}},
 "annotations": {"readOnlyHint": true, "destructiveHint": false, "idempotentHint": true, "openWorldHint": false}},
{"name": "kill_servers", "title": "End development servers",
 "description": "Ends the user's own development servers: by queries (each a port, a list, a range or text, each selecting on its own) or by pid with the started time list_servers gave, so that a recycled PID is refused. SIGTERM first, SIGKILL after a grace second. Never ends another user's process. A dry run (the default) only says what would be ended; pass dry_run false to end them.",
 "inputSchema": {"type": "object", "additionalProperties": false, "properties": {
   "queries": {"type": "array", "items": {"type": "string"}, "description": "Ports (3000, 3000,5173, 5432-5434) or text, as for list_servers"},
   "pid": {"type": "integer", "minimum": 1, "maximum": 2147483647},
   "started": {"type": "object", "required": ["seconds", "microseconds"], "additionalProperties": false, "description": "The row's startTime from list_servers; required with pid", "properties": {
     "seconds": {"type": "integer", "minimum": 0}, "microseconds": {"type": "integer", "minimum": 0, "maximum": 999999}}},
   "all": {"type": "boolean", "default": false, "description": "Also processes that are not development servers"},
   "force": {"type": "boolean", "default": false, "description": "SIGKILL at once"},
   "tree": {"type": "boolean", "default": false, "description": "End each server's whole process tree (a watcher that would start it again), not the shell"},
   "dry_run": {"type": "boolean", "default": true, "description": "Only say what would be ended"}}},
 "outputSchema": {"type": "object", "required": ["dryRun", "outcome", "rows", "messages"], "properties": {
   "dryRun": {"type": "boolean"},
   "outcome": {"enum": ["ok", "nothingMatched", "notAllEnded"]},
   "rows": {"type": "array", "items": {"type": "object", "required": ["status", "port", "pid", "name", "text"], "properties": {
     "status": {"enum": ["wouldEnd", "wouldStop", "ended", "stopped", "changed", "failed", "heldByOthers", "leftAlone"]},
     "port": {"type": "integer"}, "pid": {"type": ["integer", "null"]}, "name": {"type": "string"},
     "startTime": {"type": ["object", "null"]}, "text": {"type": "string"}}}},
   "messages": {"type": "array", "items": {"type": "string"}}}},
 "annotations": {"readOnlyHint": false, "destructiveHint": true, "idempotentHint": false, "openWorldHint": false}},
{"name": "wait_ports_free", "title": "Wait for ports to be free",
 "description": "Waits until nothing (anyone's process) listens on the ports, for a server about to start again on them; at the timeout says which are still taken and by whom.",
 "inputSchema": {"type": "object", "required": ["ports"], "additionalProperties": false, "properties": {
   "ports": {"type": "array", "minItems": 1, "items": {"type": ["integer", "string"]}, "description": "Ports, lists or ranges (3000, \"5432-5434\")"},
   "timeout_seconds": {"type": "number", "minimum": 0, "maximum": 86400, "default": 30, "description": "0 checks once"}}},
 "outputSchema": {"type": "object", "required": ["free", "taken"], "properties": {
   "free": {"type": "boolean"},
   "taken": {"type": "array", "items": {"type": "object", "required": ["port", "heldBy"], "properties": {
     "port": {"type": "integer"},
     "heldBy": {"type": "array", "items": {"type": "object", "properties": {
       "pid": {"type": ["integer", "null"]}, "name": {"type": ["string", "null"]}, "user": {"type": ["string", "null"]}}}}}}}}},
 "annotations": {"readOnlyHint": true, "destructiveHint": false, "idempotentHint": true, "openWorldHint": false}}
])json";

// Reads a call's arguments against what a tool takes; the first fault wins.
class Arguments final {
  public:
    Arguments(const json& arguments, std::initializer_list<std::string_view> known)
        : arguments_(arguments.is_null() ? json::object() : arguments) {
        if (!arguments_.is_object()) {
            fail("arguments must be an object");
            return;
        }
        for (const auto& [name, value] : arguments_.items()) {
            if (std::find(known.begin(), known.end(), name) == known.end()) {
                fail("unknown argument " + name);
            }
        }
    }

    bool flag(const char* name, bool fallback) {
        const json* value = find(name);
        if (value != nullptr && !value->is_boolean()) {
            fail(std::string(name) + " must be true or false");
        }
        return value != nullptr && value->is_boolean() ? value->get<bool>() : fallback;
    }

    std::optional<int64_t> integer(const char* name, int64_t min, int64_t max) {
        const json* value = find(name);
        if (value != nullptr && (!value->is_number_integer() || value->get<int64_t>() < min ||
                                 value->get<int64_t>() > max)) {
            fail(std::string(name) + " must be a whole number from " + std::to_string(min) +
                 " to " + std::to_string(max));
            return std::nullopt;
        }
        return value != nullptr ? std::optional(value->get<int64_t>()) : std::nullopt;
    }

    std::optional<std::string> text(const char* name) {
        const json* value = find(name);
        if (value != nullptr && !value->is_string()) {
            fail(std::string(name) + " must be text");
            return std::nullopt;
        }
        return value != nullptr ? std::optional(value->get<std::string>()) : std::nullopt;
    }

    // A start time as list_servers gives it.
    std::optional<ProcessStartTime> startTime(const char* name) {
        const json* value = find(name);
        if (value == nullptr) {
            return std::nullopt;
        }
        Arguments fields(*value, {"seconds", "microseconds"});
        const std::optional<int64_t> seconds = fields.integer("seconds", 0, INT64_MAX);
        const std::optional<int64_t> micros = fields.integer("microseconds", 0, 999'999);
        if (fields.error() || !seconds || !micros) {
            fail(std::string(name) +
                 " must be a startTime from list_servers: {seconds, microseconds}");
            return std::nullopt;
        }
        return ProcessStartTime{*seconds, static_cast<int32_t>(*micros)};
    }

    // Strings; numbers too when `numbers` (ports).
    std::vector<std::string> words(const char* name, bool numbers) {
        std::vector<std::string> words;
        const json* value = find(name);
        if (value == nullptr) {
            return words;
        }
        if (!value->is_array() && !value->is_string()) {
            fail(std::string(name) + " must be a list");
            return words;
        }
        for (const json& word : value->is_array() ? *value : json::array({*value})) {
            if (word.is_string()) {
                words.push_back(word.get<std::string>());
            } else if (numbers && word.is_number_integer()) {
                words.push_back(std::to_string(word.get<int64_t>()));
            } else {
                fail(std::string(name) + (numbers ? " must hold ports" : " must hold text"));
            }
        }
        return words;
    }

    const json* find(const char* name) const {
        const auto it = arguments_.find(name);
        return it == arguments_.end() || it->is_null() ? nullptr : &*it;
    }
    void fail(std::string why) {
        if (!error_) {
            error_ = std::move(why);
        }
    }
    const std::optional<std::string>& error() const { return error_; }

  private:
    json arguments_;
    std::optional<std::string> error_;
};

json textContent(const std::string& text) {
    return json::array({{{"type", "text"}, {"text", text}}});
}

json toolError(const std::string& why) {
    return {{"content", textContent(why)}, {"isError", true}};
}

json toolResult(json structured, const std::string& text) {
    return {{"content", textContent(text)},
            {"structuredContent", std::move(structured)},
            {"isError", false}};
}

std::string joinedLines(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::string text;
    for (const auto* lines : {&a, &b}) {
        for (const std::string& line : *lines) {
            text += line + '\n';
        }
    }
    return text;
}

json listServers(const json& arguments, const McpToolParts& parts) {
    Arguments args(arguments, {"query", "all"});
    ListOptions options{.all = args.flag("all", false), .leaveAlone = usersLeaveAloneList()};
    if (const std::optional<std::string> query = args.text("query")) {
        options.query = {*query};
    }
    if (args.error()) {
        return toolError(*args.error());
    }
    const ListResult result = listServers(options, *parts.scanner(options.all));
    // The text names what the structured content holds, others' ports too.
    ListOptions shown = options;
    shown.all = true;
    std::ostringstream out, err;
    printList(result, shown, out, err);
    json structured = portScanObject(result.shown, result.held);
    structured["notes"] = result.hidden;
    return toolResult(std::move(structured), out.str() + err.str());
}

// By KillRowStatus.
constexpr const char* kRowStatus[] = {"wouldEnd", "wouldStop", "ended",        "stopped",
                                      "changed",  "failed",    "heldByOthers", "leftAlone"};
const char* outcomeName(ExitStatus status) {
    switch (status) {
        case ExitStatus::ok:
            return "ok";
        case ExitStatus::nothingMatched:
            return "nothingMatched";
        default:
            return "notAllEnded";  // a kill's only other status, after usage
    }
}

json killServers(const json& arguments, const McpToolParts& parts) {
    Arguments args(arguments, {"queries", "pid", "started", "all", "force", "tree", "dry_run"});
    KillOptions options{.query = args.words("queries", false),
                        .force = args.flag("force", false),
                        .dryRun = args.flag("dry_run", true),
                        .tree = args.flag("tree", false),
                        .leaveAlone = usersLeaveAloneList()};
    const bool all = args.flag("all", false);
    if (const std::optional<int64_t> pid = args.integer("pid", 1, INT32_MAX)) {
        options.pids.push_back(static_cast<int32_t>(*pid));
    }
    options.started = args.startTime("started");
    if (!options.pids.empty() && !options.started) {
        args.fail("pid needs started, the startTime list_servers gave for it");
    }
    if (args.error()) {
        return toolError(*args.error());
    }
    const KillResult result = halvo::killServers(options, *parts.scanner(all), parts.engine,
                                                 parts.containers, parts.helpers);
    if (result.status == ExitStatus::usage) {
        return toolError(result.err.empty() ? "bad query" : result.err.front());
    }
    json rows = json::array();
    for (const KillRowResult& row : result.rows) {
        rows.push_back(
            {{"status", kRowStatus[static_cast<int>(row.status)]},
             {"port", row.port},
             {"pid", row.pid ? json(*row.pid) : json(nullptr)},
             {"name", row.name},
             {"startTime", row.startTime ? startTimeJson(*row.startTime) : json(nullptr)},
             {"text", row.text}});
    }
    std::vector<std::string> messages = result.out;
    messages.insert(messages.end(), result.err.begin(), result.err.end());
    return toolResult({{"dryRun", options.dryRun},
                       {"outcome", outcomeName(result.status)},
                       {"rows", std::move(rows)},
                       {"messages", std::move(messages)}},
                      joinedLines(result.out, result.err));
}

// Who holds `port`: the user's own processes (any, not only servers) and
// other users; a line for each goes to `text`.
json holdersOf(int64_t port, const PortScan& scan, std::string& text) {
    json holders = json::array();
    for (const PortProcess& p : scan.processes) {
        if (p.port != port) {
            continue;
        }
        if (p.isContainer()) {
            const std::string name = p.dockerContext->containerName.value_or("");
            holders.push_back({{"pid", nullptr}, {"name", name}, {"user", nullptr}});
            text += "Port " + std::to_string(port) + " is published by container " + name + '\n';
        } else {
            holders.push_back({{"pid", p.pid}, {"name", p.executableName}, {"user", nullptr}});
            text += "Port " + std::to_string(port) + " is held by your " + p.executableName +
                    " (PID " + std::to_string(p.pid) + ")\n";
        }
    }
    for (const ForeignListener& listener : scan.foreign) {
        if (listener.port == port) {
            holders.push_back({{"pid", nullptr}, {"name", nullptr}, {"user", listener.user}});
            text += heldByOthersText(listener) + '\n';
        }
    }
    return holders;
}

json waitPortsFree(const json& arguments, const McpToolParts& parts, std::stop_token stop) {
    Arguments args(arguments, {"ports", "timeout_seconds"});
    const std::vector<std::string> words = args.words("ports", true);
    double seconds = 30;
    if (const json* timeout = args.find("timeout_seconds")) {
        if (timeout->is_number() && timeout->get<double>() >= 0 &&
            timeout->get<double>() <= kMaxWaitSeconds) {
            seconds = timeout->get<double>();
        } else {
            args.fail("timeout_seconds must be a number from 0 to 86400");
        }
    }
    if (args.error()) {
        return toolError(*args.error());
    }
    const std::variant<PortSet, std::string> wanted = portsToWaitFor(words);
    if (const std::string* why = std::get_if<std::string>(&wanted)) {
        return toolError(*why);
    }
    const std::vector<int64_t> taken = waitUntilFree(
        std::get<PortSet>(wanted), std::chrono::milliseconds(std::llround(seconds * 1000)),
        parts.listening, std::move(stop));
    if (taken.empty()) {
        return toolResult({{"free", true}, {"taken", json::array()}}, "The ports are free.");
    }
    std::string text = stillTakenText(taken) + '\n';
    const PortScan scan = parts.scanner(true)->scanAll();
    json rows = json::array();
    for (int64_t port : taken) {
        rows.push_back({{"port", port}, {"heldBy", holdersOf(port, scan, text)}});
    }
    return toolResult({{"free", false}, {"taken", std::move(rows)}}, text);
}

}  // namespace

json mcpToolDescriptions() {
    static const json tools = json::parse(kTools);
    return tools;
}

std::optional<json> callMcpTool(std::string_view name, const json& arguments,
                                const McpToolParts& parts, std::stop_token stop) {
    if (name == "list_servers") {
        return listServers(arguments, parts);
    }
    if (name == "kill_servers") {
        return killServers(arguments, parts);
    }
    if (name == "wait_ports_free") {
        return waitPortsFree(arguments, parts, std::move(stop));
    }
    return std::nullopt;
}

}  // namespace halvo
