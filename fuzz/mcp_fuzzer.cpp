// halvo-cli mcp's session over fixed rows and recording fakes, fed any lines:
// each reply is one line of JSON-RPC 2.0, a notification gets none, and
// nothing is ended unless a kill_servers call asked for dry_run false.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "check.h"
#include "cli/mcp_session.h"
#include "support/fixtures.h"

using nlohmann::json;

static bool asksForRealKill(const json& message) {
    const json params = message.value("params", json());
    return message.value("method", json()) == "tools/call" && params.is_object() &&
           params.value("name", json()) == "kill_servers" &&
           params.value("arguments", json()).is_object() &&
           params["arguments"].value("dry_run", json()) == false;
}

// The tools read the user's leave-alone list: keep runs from depending on this machine's.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("XDG_CONFIG_HOME", "/nonexistent/halvo-fuzz", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace halvo::testing;
    RecordingEngine engine;
    RecordingStopper containers;
    halvo::McpSession session(
        {.scanner =
             [](bool) {
                 return std::make_shared<FixedScanner>(
                     std::vector{row(812, 3000), row(9000, 8080), containerRow(5432, "db")});
             },
         .engine = engine,
         .containers = containers,
         .listening = [] { return std::set<int64_t>{}; }},
        512);
    bool mayKill = false;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(rest.size(), line.size() + 1));
        const json message = json::parse(line, nullptr, false);
        const bool isObject = message.is_object();
        mayKill = mayKill || (isObject && asksForRealKill(message));
        const std::optional<std::string> reply = session.handle(line);
        const bool notification = isObject && message.value("jsonrpc", json()) == "2.0" &&
                                  !message.contains("id") &&
                                  message.value("method", json()).is_string();
        FUZZ_CHECK(!(notification && reply));
        const json parsed = json::parse(reply.value_or("{}"), nullptr, false);
        FUZZ_CHECK(!reply || (reply->find('\n') == std::string::npos && parsed.is_object() &&
                              parsed.value("jsonrpc", json()) == "2.0"));
        FUZZ_CHECK(mayKill || (engine.calls.empty() && containers.calls.empty()));
    }
    return 0;
}
