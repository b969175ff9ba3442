#include "kill/search_filter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace halvo {
namespace {

PortProcess row(int64_t port, int32_t pid, std::string path,
                std::optional<FrameworkBadge> badge = std::nullopt) {
    PortProcess p;
    p.port = port;
    p.pid = pid;
    p.executablePath = std::move(path);
    p.executableName = p.executablePath.substr(p.executablePath.rfind('/') + 1);
    p.arguments = {p.executableName};
    p.frameworkBadge = badge;
    return p;
}

// "PID-PORT" of each row the query shows, in order, separated by spaces.
std::string filter(const std::vector<PortProcess>& rows, std::string_view query) {
    std::string out;
    for (const PortProcess& p : filterProcesses(rows, query)) {
        out += (out.empty() ? "" : " ") + p.id();
    }
    return out;
}

TEST(SearchFilterTest, PortsSelectByPortAloneAndAnythingElseIsText) {
    // Out of port order, with a PID and a path that look like ports.
    const std::vector<PortProcess> rows{
        row(5173, 900, "/usr/bin/vite", FrameworkBadge::vite),
        row(3000, 812, "/srv/app3000/node", FrameworkBadge::next),
        row(5433, 3000, "/usr/lib/postgresql/bin/postgres", FrameworkBadge::postgres),
        row(3000, 77, "/usr/bin/node", FrameworkBadge::express),
        row(5432, 70000, "/usr/lib/postgresql/bin/postgres", FrameworkBadge::postgres),
        row(8080, 42, "/home/ana/next-shop/localhost:3000/server"),
        row(5434, 43, "/usr/bin/redis-server", FrameworkBadge::redis),
    };
    for (const auto& [queries, expected] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"", " \t\n\r ", "\xC2\xA0\xE2\x80\xA8\xE3\x80\x80"},
              "900-5173 812-3000 3000-5433 77-3000 70000-5432 42-8080 43-5434"},
             // Sorted by port, then PID; two numbers are two ports, never a port and a PID.
             // As Halvo prints a port, or after a local address: never text.
             {{"3000", " 3000\n", "03000", "3000 812", "localhost:3000", "[::1]:3000", "*:3000"},
              "77-3000 812-3000"},
             {{"3000,5173", "3000; 5173", ",3000,,5173,", "3000\u00a05173", ":3000,[::]:5173"},
              "77-3000 812-3000 900-5173"},
             {{"5432-5434", "5434-5432", "5432..5434", "5434..5432", ":5432-:5434"},
              "70000-5432 3000-5433 43-5434"},
             {{"1-65535", "65535..1"},
              "77-3000 812-3000 900-5173 70000-5432 3000-5433 43-5434 42-8080"},
             // Not ports, so text: "70000" finds the PID, "0" every row holding a zero.
             {{"70000"}, "70000-5432"},
             {{"0"}, "900-5173 812-3000 3000-5433 77-3000 70000-5432 42-8080"},
             // An invalid byte is repaired, never read past.
             {{"65536", "3000 next", "1-2-3", "3000-", "3000...3005", "0-10", ",;", "::3000",
               "\xC3"},
              ""},
             {{"host:3000"}, "42-8080"},
             // Text ignores case, keeps the input order and runs across fields.
             {{"next", "NEXT", "  Next\n"}, "812-3000 42-8080"},
         }) {
        for (const std::string& query : queries) {
            EXPECT_EQ(filter(rows, query), expected) << "query: " << query;
        }
    }
}

}  // namespace
}  // namespace halvo
