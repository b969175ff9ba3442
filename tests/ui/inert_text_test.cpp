// Text from processes as the panel and the tray menu show it.
#include "ui/inert_text.h"

#include <gtest/gtest.h>

#include "app/status_menu.h"

namespace halvo::ui {
namespace {

TEST(InertText, ShowsEveryCharacterThatActsAndCutsLongText) {
    const struct {
        std::string text;
        qsizetype maxChars;
        std::string shown;
    } cases[] = {
        {" \t node \n", 512, "node"},
        {"a\u200Bzero\uFEFFw\u2060", 512, R"(a\u200bzero\ufeffw\u2060)"},
        {"/srv/\u202Eexe.txt", 512, R"(/srv/\u202eexe.txt)"},
        {"tag\U000E0041", 512, R"(tag\ue0041)"},  // a format character beyond the BMP
        {"a\x1b[2Jb\nc\u2028d", 512, "a\uFFFD[2Jb\uFFFDc\uFFFDd"},
        {"bad\xFF\xFEutf8", 512, "bad\uFFFD\uFFFDutf8"},
        {"caf\u00E9 \U0001F680", 512, "caf\u00E9 \U0001F680"},
        {"abcdef", 4, "abc\u2026"},
        {"abcd", 4, "abcd"},
        {"ab\U0001F680cd", 4, "ab\u2026"},  // never half a surrogate pair
        {"\u200B\u200B", 8, "\\u200b\\\u2026"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(inertText(c.text, c.maxChars).toStdString(), c.shown) << c.text;
    }
}

// The marked-up texts, with what Qt's menu shows for them and what a desktop
// shows for Qt's export (whose first "&" becomes "_").
TEST(InertText, MenuEntriesShowNamesAsTheyAre) {
    const struct {
        std::string name;
        MenuDrawnBy drawnBy;
        std::string markedUp;
    } cases[] = {
        {"k&ill", MenuDrawnBy::qt, "k&&ill"},          // "k&ill", no mnemonic
        {"x&&y", MenuDrawnBy::qt, "x&&&&y"},           // "x&&y"
        {"a_b", MenuDrawnBy::qt, "a_b"},               // "a_b"
        {"k&ill", MenuDrawnBy::desktop, "k&&ill"},     // sent as "k_&ill": "k&ill"
        {"x&&y_z", MenuDrawnBy::desktop, "x&&&y__z"},  // sent as "x_&&y__z": "x&&y_z"
        {"a\u200Bb", MenuDrawnBy::desktop, R"(a\u200bb)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(inertMenuText(c.name, c.drawnBy).toStdString(), c.markedUp) << c.name;
    }
    PortProcess record;
    record.port = 80;
    record.executableName = "k&ill\u200B";
    EXPECT_EQ(portItemTitle(record, MenuDrawnBy::qt).toStdString(), R"(80      k&&ill\u200b)");
    EXPECT_EQ(recentKillTitle({3000, "x&&y_z PID 7", {}}, MenuDrawnBy::desktop).toStdString(),
              "3000  x&&&y__z PID 7");
}

}  // namespace
}  // namespace halvo::ui
