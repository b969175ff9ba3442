// halvo-cli mcp's protocol over fixed rows and a recording engine: what a
// client's faults and misused tools get, and that none of them ends anything.
// The real server and SDK client: McpEndToEndTest.
#include "cli/mcp_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "cli/mcp_stdio.h"
#include "support/fixtures.h"

namespace halvo::testing {
namespace {

using nlohmann::json;

std::string call(const std::string& tool, const std::string& arguments) {
    return R"({"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":")" + tool +
           R"(","arguments":)" + arguments + "}}";
}

std::string initialize(const std::string& version) {
    return R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":")" +
           version + R"(","capabilities":{},"clientInfo":{"name":"t","version":"1"}}})";
}

// Whether `got` holds every field of `want` (arrays whole).
bool holds(const json& got, const json& want) {
    if (!want.is_object()) {
        return got == want;
    }
    return got.is_object() && std::all_of(want.items().begin(), want.items().end(), [&](auto item) {
               return got.contains(item.key()) && holds(got[item.key()], item.value());
           });
}

// What the reply must hold; null for no reply.
struct Case {
    bool initialized;
    std::string line;
    json expected;
};

TEST(McpSessionTest, ClientFaultsGetProtocolErrorsAndNothingIsEnded) {
    const auto error = [](json id, int code) {
        return json{{"id", id}, {"error", {{"code", code}}}};
    };
    const auto toolText = [](const std::string& text) {
        return json{
            {"result", {{"isError", true}, {"content", {{{"type", "text"}, {"text", text}}}}}}};
    };
    const auto kill = [](const std::string& outcome, std::vector<std::string> messages) {
        return json{{"result",
                     {{"isError", false},
                      {"structuredContent",
                       {{"dryRun", true}, {"outcome", outcome}, {"messages", messages}}}}}};
    };
    const std::vector<Case> cases{
        {false, "{\"jsonrpc\":", error(nullptr, -32700)},
        {false, "[" + initialize("2025-06-18") + "]", error(nullptr, -32600)},  // no batches
        {false, R"({"jsonrpc":"2.0","id":"a","method":"tools/list"})", error("a", -32600)},
        {false,
         R"({"jsonrpc":"2.0","id":2,"method":"ping"})",
         {{"id", 2}, {"result", json::object()}}},
        {false, initialize("2025-06-18"), {{"result", {{"protocolVersion", "2025-06-18"}}}}},
        {false, initialize("1999-01-01"), {{"result", {{"protocolVersion", "2025-11-25"}}}}},
        {false, R"({"jsonrpc":"2.0","id":1,"method":"initialize"})", error(1, -32602)},
        {true, R"({"jsonrpc":"2.0","method":"notifications/initialized"})", nullptr},
        {true, R"({"jsonrpc":"2.0","id":9,"result":{}})", nullptr},
        {true, R"({"jsonrpc":"2.0","id":3,"method":"resources/list"})", error(3, -32601)},
        {true, R"({"jsonrpc":"2.0","id":null,"method":"tools/list"})", error(nullptr, -32600)},
        {true, R"({"jsonrpc":"1.0","id":4,"method":"tools/list"})", error(4, -32600)},
        {true, R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":[]})", error(5, -32602)},
        {true, call("kill", "{}"), error(7, -32602)},
        {true, call("list_servers", "{\"query\":\"" + std::string(300, 'x') + "\"}"),
         error(nullptr, -32600)},
        // A misused tool is the tool's error, in the CLI's words, for the agent to read.
        {true, call("kill_servers", R"({"queries":["0"]})"), toolText("0 is not a port (1–65535)")},
        {true, call("wait_ports_free", R"({"ports":["web"]})"),
         toolText("web is not a port, a list or a range of ports")},
        {true, call("list_servers", R"({"all":"yes"})"), toolText("all must be true or false")},
        {true, call("kill_servers", R"({"queries":["3000"],"dry_run":"false"})"),
         toolText("dry_run must be true or false")},
        {true, call("kill_servers", R"({"queries":["3000"],"dryRun":false})"),
         toolText("unknown argument dryRun")},
        {true, call("kill_servers", R"({"pid":812})"),
         toolText("pid needs started, the startTime list_servers gave for it")},
        // A kill is a dry run unless asked, and refuses a PID that started at another time.
        {true, call("kill_servers", R"({"queries":["3000"]})"),
         kill("ok", {"Would kill :3000 node PID 812"})},
        {true, call("kill_servers", R"({"pid":812,"started":{"seconds":1000,"microseconds":1}})"),
         kill("notAllEnded", {"Process on :3000 (PID 812) changed since the scan — nothing sent"})},
    };
    for (const Case& c : cases) {
        RecordingEngine engine;
        RecordingStopper containers;
        McpSession session({.scanner =
                                [](bool) {
                                    return std::make_shared<FixedScanner>(
                                        std::vector{row(812, 3000), row(9000, 8080)});
                                },
                            .engine = engine,
                            .containers = containers},
                           256);
        if (c.initialized) {
            ASSERT_TRUE(session.handle(initialize("2025-11-25")));
        }
        const std::optional<std::string> reply = session.handle(c.line);
        SCOPED_TRACE(c.line);
        if (c.expected.is_null()) {
            EXPECT_EQ(reply, std::nullopt);
        } else {
            ASSERT_TRUE(reply);
            EXPECT_TRUE(holds(json::parse(*reply), {{"jsonrpc", "2.0"}})) << *reply;
            EXPECT_TRUE(holds(json::parse(*reply), c.expected)) << *reply;
        }
        EXPECT_EQ(engine.calls + containers.calls, "");
    }
}

// A line too long is cut and the rest dropped; a client that goes mid-wait
// ends the wait and the server, with the answer written if it can be.
TEST(McpSessionTest, LongLinesAndAClientThatGoes) {
    int in[2], out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const std::string lines = "a\n" + std::string(300, 'x') + "\nb";
    ASSERT_EQ(write(in[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    close(in[1]);
    LineReader reader(in[0], 256);
    EXPECT_EQ(reader.next(out[0]), "a");
    EXPECT_EQ(reader.next(out[0]), std::string(257, 'x'));
    EXPECT_EQ(reader.next(out[0]), "b");
    EXPECT_EQ(reader.next(out[0]), std::nullopt);
    close(in[0]);

    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    RecordingEngine engine;
    RecordingStopper containers;
    McpSession session({.scanner = [](bool) { return std::make_shared<FixedScanner>(); },
                        .engine = engine,
                        .containers = containers,
                        .listening = [] { return std::set<int64_t>{3000}; }});
    std::thread server([&] { EXPECT_EQ(serveMcp(session, in[0], out[1]), 0); });
    const std::string wait =
        initialize("2025-11-25") + "\n" +
        call("wait_ports_free", R"({"ports":[3000],"timeout_seconds":86400})") + "\n";
    ASSERT_EQ(write(in[1], wait.data(), wait.size()), static_cast<ssize_t>(wait.size()));
    close(in[1]);
    server.join();
    close(out[1]);
    std::string written(4096, '\0');
    written.resize(static_cast<size_t>(read(out[0], written.data(), written.size())));
    EXPECT_NE(written.find(R"("text":"Port 3000 is still taken\n")"), std::string::npos) << written;
    close(out[0]);

    // An output nobody reads: no SIGPIPE, the server ends.
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    close(out[0]);
    server = std::thread([&] { EXPECT_EQ(serveMcp(session, in[0], out[1]), 0); });
    const std::string ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})"
                             "\n";
    ASSERT_EQ(write(in[1], ping.data(), ping.size()), static_cast<ssize_t>(ping.size()));
    server.join();
    close(in[0]);
    close(in[1]);
    close(out[1]);
}

}  // namespace
}  // namespace halvo::testing
