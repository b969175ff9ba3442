#include "scan/unix_http.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/stand_in_engine.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using namespace std::chrono_literals;

TEST(UnixHttpTest, ReadsStatusAndBodyAndRefusesTheRest) {
    const struct {
        std::string raw;
        std::optional<int> status;
        std::string body;
    } cases[] = {
        {"HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n[]\r\n", 200, "[]\r\n"},
        {"HTTP/1.1 404\r\n\r\n", 404, ""},
        {"SSH-2.0-OpenSSH_9.2\r\n\r\n", std::nullopt, ""},
        {"HTTP/1.1 2000 OK\r\n\r\n", std::nullopt, ""},
        {"HTTP/1.1 2x0 OK\r\n\r\n", std::nullopt, ""},
        {"HTTP/1.1 +20 OK\r\n\r\n", std::nullopt, ""},
        {"HTTP/1.1 200 OK\r\n", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        const std::optional<HttpAnswer> answer = parseHttpAnswer(c.raw);
        ASSERT_EQ(answer.has_value(), c.status.has_value());
        if (answer) {
            EXPECT_EQ(answer->status, *c.status);
            EXPECT_EQ(answer->body, c.body);
        }
    }
}

TEST(UnixHttpTest, AsksOverTheSocketWithinTheCap) {
    testing::TempDir dir;
    const std::string socket = dir.path() + "/engine.sock";
    testing::StandInEngine engine(socket, testing::engineAnswer(std::string(100'000, 'x')));
    const auto whole = httpGetOverUnixSocket(socket, "/_ping", 5s);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->body.size(), 100'000u);
    EXPECT_FALSE(httpGetOverUnixSocket(socket, "/_ping", 5s, 50'000)) << "over the cap";
    EXPECT_EQ(engine.requests(),
              (std::vector<std::string>{"GET /_ping HTTP/1.0", "GET /_ping HTTP/1.0"}));
    EXPECT_FALSE(httpGetOverUnixSocket(dir.path() + "/none.sock", "/_ping", 5s));
    EXPECT_FALSE(httpGetOverUnixSocket(dir.path() + std::string(200, 'a'), "/_ping", 5s));
}

}  // namespace
}  // namespace halvo
