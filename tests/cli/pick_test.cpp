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
#include "scan/command_runner.h"
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

PickerCommand press(Picker& picker, const Keys& keys) {
    PickerCommand last = PickerCommand::none;
    for (const TerminalKey& key : keys) {
        last = picker.press(key);
    }
    return last;
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
        size_t top;
        std::string targets;  // PIDs Enter would end: the ticked, else the highlighted
        PickerCommand last = PickerCommand::none;
        std::string modeAndTree = "graceful";
    };
    const Case cases[] = {
        {seq("3012"), "3012", 0, "112 "},
        {seq("nodexy", TerminalKey{false, 0x7F}, fn(KEY_BACKSPACE)), "node", 0, "100 "},
        {seq("30059", "\r"), "30059", 0, ""},  // no row: Enter ends nothing
        {seq("3000,3005", ctrl('w')), "3000,", 0, "100 "},
        {seq("nodes", ctrl('u')), "", 0, "100 "},
        {seq(fn(KEY_DOWN), ctrl('n'), fn(KEY_DOWN), ctrl('p')), "", 0, "102 "},
        {seq(fn(KEY_UP)), "", 20, "129 "},  // round to the end, as in the panel
        {seq(fn(KEY_NPAGE), fn(KEY_NPAGE)), "", 11, "120 "},
        {seq(fn(KEY_END), fn(KEY_PPAGE), fn(KEY_HOME)), "", 0, "100 "},
        {seq(fn(KEY_END), fn(KEY_NPAGE), fn(KEY_DOWN)), "", 0, "100 "},
        {seq(" ", fn(KEY_DOWN), fn(KEY_DOWN), " ", "\r"), "", 0, "100 102 ", PickerCommand::kill},
        // Ticks outlive the query that showed them.
        {seq(" 3020 ", fn(KEY_ENTER)), "3020", 0, "100 120 ", PickerCommand::kill},
        {seq("\t", ctrl('t')), "", 0, "100 ", PickerCommand::none, "force tree"},
        {seq(ctrl('r')), "", 0, "100 ", PickerCommand::rescan},
        {seq("3001\x1b"), "3001", 0, "101 ", PickerCommand::quit},
        {seq(ctrl('c')), "", 0, "100 ", PickerCommand::quit},
    };
    for (const Case& c : cases) {
        Picker picker;
        picker.setScan({rows(30), {}, {}});
        picker.setPageHeight(10);
        EXPECT_EQ(press(picker, c.keys), c.last) << c.targets;
        EXPECT_EQ(picker.query(), c.query);
        EXPECT_EQ(picker.top(), c.top);
        EXPECT_EQ(targetPids(picker), c.targets);
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
    picker.setScan({scanned, {}, {}});
    picker.setPageHeight(10);
    press(picker, seq(fn(KEY_END), fn(KEY_UP), " ", fn(KEY_HOME), " "));
    scanned.erase(scanned.begin());  // 3000, ticked and highlighted, is gone
    picker.setScan({scanned, {}, {}});
    EXPECT_EQ(picker.tickedCount(), 1u);
    EXPECT_EQ(picker.rows()[picker.shown()[picker.highlighted()]].port, 3001);

    scanned.push_back(row(7, 4000, "ev\x1b[2Jil"));
    scanned.back().executablePath = "/home/ana/" + std::string(200, 'p') + "/bin/evil";
    scanned.push_back(containerRow(5432, "db"));
    picker.setScan({scanned, {}, {}});
    press(picker, seq(ctrl('u'), "4000,5432"));
    const PickerScreen screen = pickerScreen(picker, 60, 8);
    ASSERT_EQ(screen.lines.size(), 8u);
    for (const ScreenLine& line : screen.lines) {
        EXPECT_LE(displayWidth(line.text), 60u) << line.text;
    }
    EXPECT_NE(screen.lines[2].text.find("ev\\x1b[2Jil"), std::string::npos);
    EXPECT_NE(screen.lines[2].text.find("/home/an\u2026in/evil"), std::string::npos);
    EXPECT_NE(screen.lines[3].text.find("\u2014    postgres"), std::string::npos);
    EXPECT_EQ(screen.lines[7].text.substr(0, 14), "Mode: graceful");
    picker.setScan({scanned, {{4001, 105, "postgres\x1b"}}, {}});
    press(picker, seq(ctrl('u'), "4001"));
    const PickerScreen held = pickerScreen(picker, 100, 8);
    EXPECT_EQ(held.lines[2].text, "No matching ports.");
    EXPECT_EQ(held.lines[3].text,
              "Port 4001 is held by user postgres\\x1b; Halvo can only end your own processes");
}

// halvo-cli pick in tmux, a real terminal: what it shows, and after it, its
// exit status and the terminal's modes.
class PickSession {
  public:
    PickSession(const TempDir& dir, const std::string& options) : socket_(dir.path() + "/tmux") {
        const std::string pick = "sh -c 'echo $$ >pid; exec \"$0\" pick " + options + "' " +
                                 HALVO_CLI + "; echo $? >status; stty -a >modes; sleep 60";
        tmux({"-f", "/dev/null", "new-session", "-d", "-x", "100", "-y", "30", "-c", dir.path(),
              "-e", "LANG=C.UTF-8", pick});
    }
    ~PickSession() { tmux({"kill-server"}); }
    std::string tmux(std::vector<std::string> args) {
        args.insert(args.begin(), {"-S", socket_});
        return runCommand("/usr/bin/tmux", args, std::chrono::seconds(10)).output.value_or("");
    }
    // Whether the screen shows `text` within ten seconds.
    bool shows(const std::string& text) {
        for (int i = 0; i < 100; ++i) {
            if (tmux({"capture-pane", "-p"}).find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << "not on screen: " << text << "\n" << tmux({"capture-pane", "-p"});
        return false;
    }

  private:
    std::string socket_;
};

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::unique_ptr<ListenerProcess> server(const TempDir& root, const std::string& name) {
    return ListenerProcess::start({.listenerArgs = {"--v4", "1"},
                                   .extraArgs = {"vite", "halvo-pick-test"},
                                   .executable = listenerCopy(root, name),
                                   .argv0 = name,
                                   .workingDirectory = root.path()});
}

// The typed port ended or spared, inert names, a resize, and after each exit
// its status and the terminal's modes as they were.
TEST(PickEndToEndTest, KeysInARealTerminal) {
    struct Case {
        std::string options, name;
        // After the port is typed and its row shown: keys, or a new size.
        std::vector<std::string> keys;
        std::string shown;  // then on screen
        std::string quit;   // a key, or TERM for the signal
        int status;
        int ending;  // the server's ending signal; -1 for still running
    };
    const Case cases[] = {
        {"", "node", {"Enter"}, "Killed :", "Escape", 0, SIGTERM},
        {"", "node", {"Tab", "C-t"}, "force (Tab) \u00b7 Process tree: on", "Escape", 1, -1},
        {"", "ev\x1b[2Jil", {"End"}, "ev\\x1b[2Jil", "C-c", 1, -1},  // inert: no screen cleared
        {"--once --force", "node", {"Enter"}, "Killed :", "", 0, SIGKILL},
        {"", "node", {"End"}, "", "TERM", 128 + SIGTERM, -1},
        // A resize redraws at the new size: the footer is cut to 50 columns.
        {"", "node", {"-x", "50", "-y", "12"}, "(^T) \u00b7 E\u2026", "Escape", 1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options + " " + c.quit);
        TempDir dir;
        auto listener = server(dir, c.name);
        const std::string port = std::to_string(listener->ports()[0]);
        PickSession session(dir, c.options);
        ASSERT_TRUE(session.shows("Mode: "));
        session.tmux({"send-keys", "-l", port});
        ASSERT_TRUE(session.shows("] " + port + "  "));
        std::vector<std::string> action{c.keys[0] == "-x" ? "resize-window" : "send-keys"};
        action.insert(action.end(), c.keys.begin(), c.keys.end());
        session.tmux(action);
        EXPECT_TRUE(session.shows(c.shown + (c.shown == "Killed :" ? port : "")));
        if (c.quit == "TERM") {
            kill(std::stoi(fileText(dir.path() + "/pid")), SIGTERM);
        } else if (!c.quit.empty()) {
            session.tmux({"send-keys", c.quit});
        }
        for (int i = 0; i < 100 && fileText(dir.path() + "/modes").empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(fileText(dir.path() + "/status"), std::to_string(c.status) + "\n");
        const std::string modes = fileText(dir.path() + "/modes");
        EXPECT_TRUE(modes.find(" icanon") != std::string::npos &&
                    modes.find(" -echo ") == std::string::npos)
            << "the terminal is given back: " << modes;
        EXPECT_EQ(c.ending < 0 && listener->running() ? -1 : endingSignal(listener->pid()),
                  c.ending);
    }
}

}  // namespace
}  // namespace halvo::testing
