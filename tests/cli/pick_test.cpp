// The terminal picker: its keys as a table over the state alone, and
// halvo-cli pick in a real terminal (tmux) against stand-in servers.
#include <gtest/gtest.h>
#define NCURSES_NOMACROS
#include <curses.h>
#include <signal.h>

#include <fstream>
#include <thread>

#include "cli/picker_layout.h"
#include "cli/picker_state.h"
#include "cli/terminal_text.h"
#include "support/fixtures.h"
#include "support/test_process.h"

namespace halvo::testing {
namespace {

using Keys = std::vector<TerminalKey>;

void append(Keys& keys, const TerminalKey& key) {
    keys.push_back(key);
}

void append(Keys& keys, std::string_view text) {
    for (const char c : text) {
        keys.push_back({false, static_cast<uint8_t>(c)});
    }
}

template <typename... Parts>
Keys seq(const Parts&... parts) {
    Keys keys;
    (append(keys, parts), ...);
    return keys;
}

TerminalKey fn(int code) {
    return {true, static_cast<uint32_t>(code)};
}

TerminalKey ctrl(char letter) {
    return {false, static_cast<uint32_t>(letter - 'a' + 1)};
}

std::string targetPids(const Picker& picker) {
    std::string pids;
    for (const KillGroup& group : picker.killTargets()) {
        pids += std::to_string(group.pid) + " ";
    }
    return pids;
}

// 30 servers on 3000...3029, ten rows in view.
TEST(PickerTest, KeysEditMoveTickAndAsk) {
    struct Case {
        std::vector<TerminalKey> keys;
        std::string query;
        int64_t highlighted;  // port; 0 for none
        size_t top;
        std::string targets;  // PIDs Enter would end
        PickerCommand last = PickerCommand::none;
        std::string modeAndTree = "graceful";
    };
    const TerminalKey del{false, 0x7F};
    const Case cases[] = {
        {seq("3012"), "3012", 3012, 0, "112 "},
        {seq("nodexy", del, fn(KEY_BACKSPACE)), "node", 3000, 0, "100 "},
        {seq("30059", "\r"), "30059", 0, 0, ""},  // no row: Enter ends nothing
        {seq("3000,3005", fn(KEY_END)), "3000,3005", 3005, 0, "105 "},
        {seq("3000,3005", ctrl('w')), "3000,", 3000, 0, "100 "},
        {seq("nodes", ctrl('u')), "", 3000, 0, "100 "},
        {seq(ctrl('a'), TerminalKey{false, 0x9B}, TerminalKey{false, 0xE9}), "\u00e9", 0, 0,
         ""},  // control characters edit nothing
        {seq(fn(KEY_DOWN), ctrl('n'), fn(KEY_DOWN), ctrl('p')), "", 3002, 0, "102 "},
        {seq(fn(KEY_UP)), "", 3029, 20, "129 "},  // round to the end, as in the panel
        {seq(fn(KEY_NPAGE), fn(KEY_NPAGE)), "", 3020, 11, "120 "},
        {seq(fn(KEY_END), fn(KEY_PPAGE), fn(KEY_HOME)), "", 3000, 0, "100 "},
        {seq(fn(KEY_END), fn(KEY_NPAGE), fn(KEY_DOWN)), "", 3000, 0, "100 "},
        {seq(" ", fn(KEY_DOWN), fn(KEY_DOWN), " ", "\r"), "", 3002, 0, "100 102 ",
         PickerCommand::kill},
        // Ticks outlive the query that showed them.
        {seq(" 3020 ", fn(KEY_ENTER)), "3020", 3020, 0, "100 120 ", PickerCommand::kill},
        {seq("  \n"), "", 3000, 0, "100 ", PickerCommand::kill},
        {seq("\t", ctrl('t')), "", 3000, 0, "100 ", PickerCommand::none, "force tree"},
        {seq("\t\t"), "", 3000, 0, "100 "},
        {seq(ctrl('r')), "", 3000, 0, "100 ", PickerCommand::rescan},
        {seq("3001\x1b"), "3001", 3001, 0, "101 ", PickerCommand::quit},
        {seq(ctrl('c')), "", 3000, 0, "100 ", PickerCommand::quit},
    };
    for (const Case& c : cases) {
        Picker picker;
        picker.setRows(rows(30));
        picker.setPageHeight(10);
        PickerCommand last = PickerCommand::none;
        for (const TerminalKey& key : c.keys) {
            last = picker.press(key);
        }
        SCOPED_TRACE(c.query + " -> " + std::to_string(c.highlighted));
        EXPECT_EQ(picker.query(), c.query);
        const bool any = picker.highlighted() < picker.shown().size();
        EXPECT_EQ(any ? picker.rows()[picker.shown()[picker.highlighted()]].port : 0,
                  c.highlighted);
        EXPECT_EQ(picker.top(), c.top);
        EXPECT_EQ(targetPids(picker), c.targets);
        EXPECT_EQ(last, c.last);
        EXPECT_EQ(std::string(picker.mode() == KillMode::force ? "force" : "graceful") +
                      (picker.tree() ? " tree" : ""),
                  c.modeAndTree);
    }
}

// A rescan keeps the highlight on its server and drops ticks of rows gone;
// the screen fits its size, with other processes' text inert.
TEST(PickerTest, RescanAndScreen) {
    Picker picker;
    std::vector<PortProcess> scanned = rows(30);
    picker.setRows(scanned);
    picker.setPageHeight(10);
    for (const TerminalKey& key : seq(fn(KEY_END), fn(KEY_UP), " ", fn(KEY_HOME), " ")) {
        picker.press(key);
    }
    scanned.erase(scanned.begin());  // 3000, ticked and highlighted, is gone
    picker.setRows(scanned);
    EXPECT_EQ(picker.tickedCount(), 1u);
    EXPECT_EQ(picker.rows()[picker.shown()[picker.highlighted()]].port, 3001);

    scanned.push_back(row(7, 4000, "ev\x1b[2Jil"));
    scanned.back().executablePath = "/home/ana/" + std::string(200, 'p') + "/bin/evil";
    scanned.push_back(containerRow(5432, "db"));
    picker.setRows(scanned);
    for (const TerminalKey& key : seq(ctrl('u'), "4000,5432")) {
        picker.press(key);
    }
    const PickerScreen screen = pickerScreen(picker, 60, 8);
    ASSERT_EQ(screen.lines.size(), 8u);
    for (const ScreenLine& line : screen.lines) {
        EXPECT_LE(displayWidth(line.text), 60u) << line.text;
    }
    EXPECT_EQ(screen.lines[0].text.substr(0, 11), "> 4000,5432");
    EXPECT_NE(screen.lines[2].text.find("ev\\x1b[2Jil"), std::string::npos);
    EXPECT_NE(screen.lines[2].text.find("/home/an\u2026in/evil"), std::string::npos);
    EXPECT_NE(screen.lines[3].text.find("\u2014    postgres"), std::string::npos);
    EXPECT_EQ(screen.lines[7].text.substr(0, 14), "Mode: graceful");
    picker.press(seq("x")[0]);
    EXPECT_EQ(pickerScreen(picker, 60, 8).lines[2].text, "No matching ports.");
}

}  // namespace
}  // namespace halvo::testing
