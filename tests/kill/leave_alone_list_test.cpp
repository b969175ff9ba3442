// The leave-alone list's file: what each line means, which rows it keeps from
// kills, and edits that keep what the user wrote by hand.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "kill/leave_alone_list.h"
#include "support/fixtures.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using testing::containerRow;
using testing::row;

TEST(LeaveAloneListTest, LinesRowsAndEdits) {
    const LeaveAloneList list = LeaveAloneList::parse(
        "# mine\n:5432\n 6000..6002 # range\npostgres\n0\n7000-6999\n3000 tunnel\n\n5432\n");
    std::vector<std::string> entries;
    for (const LeaveAloneEntry& entry : list.entries()) {
        entries.push_back(entry.text());
    }
    EXPECT_EQ(entries, (std::vector<std::string>{"5432", "6000-6002", "postgres"}));
    EXPECT_EQ(list.problems(),
              (std::vector<std::string>{"line 5: 0 is not a port (1-65535)",
                                        "line 6: 7000-6999 ends before it starts",
                                        "line 7: 3000 tunnel: one port, range or process name "
                                        "a line"}));

    // A process goes whole, by port or by name; a container by its name.
    std::vector<PortProcess> rows{row(1, 3000), row(1, 6002), row(2, 3001, "postgres"),
                                  row(3, 3002), containerRow(5432, "db")};
    const std::vector<LeftAloneRow> left = takeLeftAlone(rows, list);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].port, 3002);
    ASSERT_EQ(left.size(), 4u);
    EXPECT_EQ(leftAloneRefusal(left[0]),
              "Port 3000 is on your leave-alone list; halvo-cli unignore 6000-6002 to end it");

    testing::TempDir dir;
    const std::string path = dir.writeFile("halvo/leave-alone", "# keep me\n5432 # db\nnode");
    std::vector<LeaveAloneEntry> missing;
    const LeaveAloneEntry port{PortRange{5432, 5432}, {}};
    const LeaveAloneEntry named{std::nullopt, "vite"};
    EXPECT_EQ(addToLeaveAloneList(path, {named, named, port}), std::nullopt);
    EXPECT_EQ(removeFromLeaveAloneList(path, {port, {PortRange{1, 2}, {}}}, missing), std::nullopt);
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(), "# keep me\nnode\nvite\n");
    EXPECT_EQ(missing, (std::vector<LeaveAloneEntry>{{PortRange{1, 2}, {}}}));
}

}  // namespace
}  // namespace halvo
