// The tray's pure parts: the port rows' choice and titles, and the glyph an
// installed icon theme gives.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/status_icon.h"
#include "app/status_menu.h"
#include "support/fixtures.h"

namespace halvo {
namespace {

using testing::row;

// Ports 22, 80, 443, 8080 (twice, in the scan's order) and not 9000.
TEST(StatusMenuPorts, FiveLowestInStableOrder) {
    std::vector<int32_t> pids;
    for (const PortProcess& p : menuPorts(
             {row(9, 8080), row(1, 80), row(2, 8080), row(3, 9000), row(4, 443), row(5, 22)})) {
        pids.push_back(p.pid);
    }
    EXPECT_EQ(pids, (std::vector<int32_t>{5, 1, 4, 9, 2}));
}

TEST(StatusMenuPorts, TitlesPadThePortToSixColumnsAndShowNamesInert) {
    EXPECT_EQ(portItemTitle(row(1, 54321)), "54321   node");
    EXPECT_EQ(portItemTitle(row(1, 80, "a\x1b[2Jb")), "80      a\uFFFD[2Jb");
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
