// The tray's pure parts: the kill mode's stored text, the port rows' choice
// and titles, and the update badge cut into the glyph.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include "app/kill_mode_setting.h"
#include "app/status_icon.h"
#include "app/status_menu.h"

namespace halvo {
namespace {

TEST(KillModeSetting, OnlyExactlyForceIsForce) {
    const struct {
        std::optional<std::string> stored;
        KillMode mode;
    } cases[] = {
        {"graceful", KillMode::graceful}, {"force", KillMode::force},     {"FORCE", KillMode::graceful},
        {"", KillMode::graceful},         {std::nullopt, KillMode::graceful},
    };
    for (const auto& c : cases) {
        InMemoryDefaultsStore defaults;
        if (c.stored) {
            defaults.setValue(kKillModeKey, *c.stored);
        }
        EXPECT_EQ(loadKillMode(defaults), c.mode) << c.stored.value_or("(none)");
        storeKillMode(c.mode, defaults);
        EXPECT_EQ(loadKillMode(defaults), c.mode) << "written back";
    }
}

PortProcess record(int64_t port, int32_t pid, std::string name = "node") {
    PortProcess p;
    p.port = port;
    p.pid = pid;
    p.executableName = std::move(name);
    return p;
}

TEST(StatusMenuPorts, FiveLowestInStableOrder) {
    const auto ports = [](const std::vector<PortProcess>& shown) {
        std::vector<std::pair<int64_t, int32_t>> out;
        for (const PortProcess& p : shown) {
            out.emplace_back(p.port, p.pid);
        }
        return out;
    };
    std::vector<PortProcess> ten;
    for (int i = 10; i > 0; --i) {
        ten.push_back(record(3000 + i, i));
    }
    EXPECT_EQ(ports(menuPorts(ten)), (std::vector<std::pair<int64_t, int32_t>>{
                                         {3001, 1}, {3002, 2}, {3003, 3}, {3004, 4}, {3005, 5}}));
    // Records of one port keep the scan's order.
    EXPECT_EQ(ports(menuPorts({record(8080, 9), record(80, 1), record(8080, 2)})),
              (std::vector<std::pair<int64_t, int32_t>>{{80, 1}, {8080, 9}, {8080, 2}}));
    EXPECT_EQ(menuPorts(std::vector<PortProcess>(6, record(1, 1))).size(), 5u);
}

TEST(StatusMenuPorts, TitlesPadThePortToSixColumns) {
    EXPECT_EQ(portItemTitle(record(3000, 1)), "3000    node");
    EXPECT_EQ(portItemTitle(record(54321, 1)), "54321   node");
    EXPECT_EQ(portItemTitle(record(80, 1)), "80      node");
    // A name from a process is shown inert.
    EXPECT_EQ(portItemTitle(record(80, 1, "a\x1b[2Jb")), "80      a\uFFFD[2Jb");
}

TEST(StatusIcon, TheBadgeCutsARingIntoTheGlyph) {
    const QColor ink(0x11, 0x22, 0x33);
    QImage plain = glyphImage(ink, 18);
    ASSERT_FALSE(plain.isNull());
    QImage badged = plain.copy();
    {
        QPainter painter(&badged);
        drawUpdateBadge(painter, QRectF(0, 0, 18, 18), ink);
    }
    const struct {
        QPoint at;  // in the 18-pixel design
        bool glyphBefore;
        int alphaAfter;
    } cases[] = {
        {{10, 2}, true, 0},     // the glyph's top edge inside the ring: cut away
        {{13, 5}, false, 255},  // inside the badge: filled
        {{2, 10}, true, 255},   // the left edge, far from the badge: untouched
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qAlpha(plain.pixel(c.at)) > 128, c.glyphBefore) << c.at.x() << "," << c.at.y();
        EXPECT_EQ(qAlpha(badged.pixel(c.at)), c.alphaAfter) << c.at.x() << "," << c.at.y();
    }
    EXPECT_EQ(QColor(badged.pixel(13, 5)).rgb(), ink.rgb());
    EXPECT_TRUE(glyphImage(ink, 18, ":/no/such/glyph.svg").isNull());
}

TEST(StatusIcon, AnInstalledSymbolicIconWinsOverTheBuiltInGlyph) {
    const QColor ink(0x11, 0x22, 0x33);
    ASSERT_EQ(qAlpha(glyphImage(ink, 18).pixel(0, 0)), 0);  // the built-in corner is empty
    QTemporaryDir data;
    const QString apps = data.path() + "/icons/hicolor/scalable/apps";
    ASSERT_TRUE(QDir().mkpath(apps));
    QFile icon(apps + "/com.tavlabs.halvo-symbolic.svg");
    ASSERT_TRUE(icon.open(QIODevice::WriteOnly));
    icon.write(R"(<svg xmlns="http://www.w3.org/2000/svg" width="18" height="18">)"
               R"(<rect width="18" height="18" fill="#2e3436"/></svg>)");
    icon.close();
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const QImage installed = glyphImage(ink, 18);
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_EQ(installed.pixel(0, 0), ink.rgb());  // the square, in the tray's colour
}

}  // namespace
}  // namespace halvo
