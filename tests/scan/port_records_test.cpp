#include "scan/port_records.h"

#include <gtest/gtest.h>

namespace halvo {
namespace {

PortProcess record() {
    PortProcess p;
    p.port = 3000;
    p.pid = 77;
    p.executableName = "Node";
    p.executablePath = "/usr/local/bin/node";
    p.arguments = {"node", "server.js"};
    p.frameworkBadge = FrameworkBadge::express;
    return p;
}

TEST(PortProcessTest, ProjectLabelPrefersDockerThenHintThenDirectories) {
    PortProcess p = record();
    p.projectHint = "hint";
    p.dockerContext = DockerContext{};
    EXPECT_EQ(p.projectLabel(), "docker");
    p.dockerContext = DockerContext{"web-1", "web"};
    EXPECT_EQ(p.projectLabel(), "web");
    p.dockerContext = DockerContext{"web-1", std::nullopt};
    EXPECT_EQ(p.projectLabel(), "web-1");

    p.dockerContext.reset();
    EXPECT_EQ(p.projectLabel(), "hint");
    p.projectHint.reset();
    p.workingDirectory = "/Users/ana/shop/";
    EXPECT_EQ(p.projectLabel(), "shop");
    p.workingDirectory = "/";
    EXPECT_EQ(p.projectLabel(), "/");
    p.workingDirectory.reset();
    p.executablePath = "/opt/homebrew/bin/node";
    EXPECT_EQ(p.projectLabel(), "bin");
    // A bare name is a file in the root, wherever this tool runs.
    p.executablePath = "node";
    EXPECT_EQ(p.projectLabel(), "/");
}

TEST(PortProcessTest, SearchTextKeepsThePlacesOfAbsentValues) {
    EXPECT_EQ(record().searchText(), "3000 77 node /usr/local/bin/node node server.js   express ");
    PortProcess p = record();
    p.dockerContext = DockerContext{};
    EXPECT_EQ(p.searchText().substr(p.searchText().size() - 7), " docker");
    p.arguments.clear();
    p.frameworkBadge.reset();
    p.dockerContext.reset();
    EXPECT_EQ(p.searchText(), "3000 77 node /usr/local/bin/node node    ");
}

TEST(FrameworkBadgeTest, RawValuesRoundTripExactly) {
    for (FrameworkBadge badge : allFrameworkBadges()) {
        EXPECT_EQ(frameworkBadgeFromRaw(rawValue(badge)), badge);
    }
    EXPECT_EQ(rawValue(FrameworkBadge::boot), "SPRING");
    EXPECT_EQ(frameworkBadgeFromRaw("spring"), std::nullopt);
    EXPECT_EQ(frameworkBadgeFromRaw("BOOT"), std::nullopt);
}

}  // namespace
}  // namespace halvo
