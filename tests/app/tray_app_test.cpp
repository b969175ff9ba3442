// The tray application as a user's desktop runs it, on the desktop of
// scripts/desktop-session: with its stand-in tray host, whose menu the test
// reads and clicks over com.canonical.dbusmenu as a tray host does, or with
// trayer as an XEmbed tray (the XEmbed case only); real stand-in servers, keys
// and clicks from xdotool.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <functional>
#include <list>
#include <memory>
#include <nlohmann/json.hpp>

#include "support/cli_process.h"
#include "support/feed_server.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using testing::ListenerProcess;

constexpr int kBoundMs = 10'000;

// The host's answer to `method`; null when it could not give one.
QVariant callHost(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("com.tavlabs.halvo.test.Host"), method);
    call.setArguments(arguments);
    const QDBusMessage answer = QDBusConnection::sessionBus().call(call, QDBus::Block, kBoundMs);
    return answer.type() == QDBusMessage::ReplyMessage ? answer.arguments().value(0) : QVariant();
}
QStringList itemProcesses() {
    return callHost(QStringLiteral("ItemProcesses")).toStringList();
}

// The menu as the host reads it; items are found by their labels.
using Item = QJsonObject;
Item child(const Item& item, const QString& label) {
    for (const QJsonValue& c : item["children"].toArray()) {
        if (c["label"].toString() == label) {
            return c.toObject();
        }
    }
    return {};
}
// The whole menu, or the item at the path of labels.
Item menuItem(const QStringList& path = {}) {
    Item item =
        QJsonDocument::fromJson(callHost(QStringLiteral("Layout")).toString().toUtf8()).object();
    for (const QString& label : path) {
        item = child(item, label);
    }
    return item;
}
QStringList labels(const Item& item) {
    QStringList labels;
    for (const QJsonValue& c : item["children"].toArray()) {
        labels << (c["type"] == "separator" ? QStringLiteral("---") : c["label"].toString());
    }
    return labels;
}
bool checked(const QStringList& path) {
    return menuItem(path)["toggle-state"] == 1;
}

// Clicks the item at `path` until `done`. Other users' servers on this
// machine come and go, and each change rebuilds the menu with new ids, which
// makes a click on an id read just before it a click on nothing.
bool clickUntil(const QStringList& path, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (const Item item = menuItem(path); !item.isEmpty()) {
            callHost(QStringLiteral("Click"), {item["id"].toInt()});
        }
        if (QTest::qWaitFor(done, 2'000)) {
            return true;
        }
    }
    return false;
}

QStringList xdotool(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    tool.waitForFinished();
    return QString::fromLatin1(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}
QStringList windows(const QString& name) {
    return xdotool({"search", "--onlyvisible", "--name", "^" + name + "$"});
}
bool windowCountBecomes(const QString& name, int count) {
    return QTest::qWaitFor([&] { return windows(name).size() == count; }, kBoundMs);
}

// An update feed whose one item is `version`.
QByteArray feedOffering(const QByteArray& version) {
    return "<?xml version='1.0'?><rss version='2.0' "
           "xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel><item>"
           "<title>Halvo</title><sparkle:version>" +
           version + "</sparkle:version></item></channel></rss>";
}

class TrayApp : public ::testing::Test {
  protected:
    // Settings of the session's own, emptied for each test; an update feed
    // that offers nothing newer, so that no Halvo here reaches the network.
    void SetUp() override {
        QDir(config_).removeRecursively();
        writeSettings("[General]\ntavlabs.halvo.firstRunCompleted=true\n");
        feed_.serve(QStringLiteral("/current"), feedOffering("0.0.1"));
        qputenv("HALVO_UPDATE_FEED_URL", feed_.url(QStringLiteral("/current")).toEncoded());
        qputenv("no_proxy", "*");
        qputenv("QT_FORCE_STDERR_LOGGING", "1");  // its messages are read here
    }
    void TearDown() override {
        for (QProcess& app : apps_) {
            stop(app);
        }
    }
    void writeSettings(const QByteArray& content) {
        QDir().mkpath(config_);
        QFile file(config_ + "/halvo.conf");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QProcess& start(const QStringList& arguments = {},
                    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        QProcess& app = apps_.emplace_back();
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(HALVO_APP), arguments);
        app.waitForStarted();
        return app;
    }
    // Started, and its tray item registered with the host.
    QProcess& startRegistered(
        const QStringList& arguments = {},
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        QProcess& app = start(arguments, env);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return itemProcesses().contains(QString::number(app.processId())); }, kBoundMs));
        return app;
    }
    static void stop(QProcess& app) {
        app.terminate();
        app.waitForFinished();
    }

    // Stand-in dev servers named node, one port each.
    std::vector<std::unique_ptr<ListenerProcess>> servers(int count) {
        const testing::ListenerOptions options{
            .listenerArgs = {"--v4", "1"},
            .extraArgs = {"server.js"},
            .executable = testing::listenerCopy(files_, "node"),
            .argv0 = "node",
            .workingDirectory = files_.makeDir("dev/shop"),
        };
        std::vector<std::unique_ptr<ListenerProcess>> started;
        for (int i = 0; i < count; ++i) {
            started.push_back(ListenerProcess::start(options));
        }
        return started;
    }

    const QString config_ = qEnvironmentVariable("XDG_CONFIG_HOME") + "/tavlabs";
    testing::TempDir files_;
    FeedServer feed_;
    std::list<QProcess> apps_;
};

// The five lowest of all the ports that a scan of the same moment lists.
TEST_F(TrayApp, TheMenuShowsWhatAScanSees) {
    const auto running = servers(10);
    startRegistered();
    // Other tests' servers come and go, so the two are read again until they agree.
    const auto lowestFive = [] {
        QStringList rows;
        for (const auto& row : nlohmann::json::parse(testing::runCli({"list", "--json"}).out)) {
            rows << QString::asprintf("%-6lld  %s", row["port"].get<long long>(),
                                      row["executableName"].get<std::string>().c_str());
        }
        std::stable_sort(rows.begin(), rows.end(), [](const QString& a, const QString& b) {
            return a.section(' ', 0, 0).toInt() < b.section(' ', 0, 0).toInt();
        });
        return rows.mid(0, 5) + QStringList{"---", "Open kill panel for all…"};
    };
    QStringList expected;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return labels(menuItem({"Listening ports"})) == (expected = lowestFive()); },
        kBoundMs))
        << labels(menuItem({"Listening ports"})).join('|').toStdString() << " vs "
        << expected.join('|').toStdString();

    EXPECT_EQ(labels(menuItem({"Listening ports", expected[0]})), QStringList{"Kill"});
}

TEST_F(TrayApp, AKillFromTheMenuIsRecordedAndAStaleOneIsNot) {
    auto running = servers(2);
    startRegistered();
    const auto row = [&](int i) {
        const QString label = QString::asprintf("%-6lld  node", (long long)running[i]->ports()[0]);
        return QStringList{"Listening ports", label, "Kill"};
    };
    if (!QTest::qWaitFor([&] { return !menuItem(row(0)).isEmpty() && !menuItem(row(1)).isEmpty(); },
                         kBoundMs)) {
        GTEST_SKIP() << "five lower ports of this machine fill the menu";
    }
    ASSERT_TRUE(clickUntil(row(0), [&] { return !running[0]->running(); }));
    const QStringList recorded{
        QStringLiteral("%1  node PID %2").arg(running[0]->ports()[0]).arg(running[0]->pid())};
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return labels(menuItem({"Recent"})) == recorded; }, kBoundMs));

    // The second server ends before its row is clicked: the kill must find it gone.
    ASSERT_TRUE(running[1]->stop());
    ASSERT_TRUE(clickUntil(row(1), [&] { return menuItem(row(1)).isEmpty(); }));
    EXPECT_EQ(labels(menuItem({"Recent"})), recorded);
}

TEST_F(TrayApp, AFoundUpdateLeadsTheMenuAndBadgesTheIcon) {
    // The icon without an update, from a Halvo whose feed offers nothing newer.
    QProcess& current = startRegistered();
    const QString plainIcon = callHost(QStringLiteral("Icon")).toString();
    ASSERT_FALSE(plainIcon.isEmpty()) << "the item shows no IconPixmap";
    stop(current);

    feed_.serve(QStringLiteral("/newer"), feedOffering("999.1.2"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HALVO_UPDATE_FEED_URL"),
               feed_.url(QStringLiteral("/newer")).toString());
    startRegistered({}, env);
    // Its first background check runs a few seconds after the start.
    const QStringList top{"Update available — Install (v999.1.2)", "---", "Open kill panel"};
    ASSERT_TRUE(QTest::qWaitFor([&] { return labels(menuItem()).mid(0, 3) == top; }, kBoundMs))
        << labels(menuItem()).join('|').toStdString();
    EXPECT_NE(callHost(QStringLiteral("Icon")).toString(), plainIcon);
    EXPECT_TRUE(clickUntil({"About Halvo"}, [] { return windows("About Halvo").size() == 1; }));
}

// The welcome window once, closed by the window manager; the kill mode, set in
// the menu, after a restart.
TEST_F(TrayApp, OnboardingAndKillModeSurviveARestart) {
    writeSettings({});
    QProcess& first = startRegistered();
    ASSERT_TRUE(windowCountBecomes("Welcome to Halvo", 1));
    xdotool({"windowactivate", "--sync", windows("Welcome to Halvo").value(0)});
    xdotool({"key", "alt+F4"});  // openbox closes it, as a user would
    ASSERT_TRUE(windowCountBecomes("Welcome to Halvo", 0));
    ASSERT_TRUE(checked({"Kill mode", "Graceful (SIGTERM)"}));  // the defaults
    ASSERT_FALSE(checked({"Kill mode", "Include process tree"}));
    for (const QString item : {"Force (SIGKILL)", "Include process tree"}) {
        ASSERT_TRUE(clickUntil({"Kill mode", item}, [&] { return checked({"Kill mode", item}); }));
    }
    ASSERT_TRUE(clickUntil({"Quit Halvo"}, [&] { return first.state() == QProcess::NotRunning; }));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().right(4000).toStdString();

    startRegistered();
    EXPECT_TRUE(checked({"Kill mode", "Force (SIGKILL)"}));
    EXPECT_FALSE(checked({"Kill mode", "Graceful (SIGTERM)"}));
    EXPECT_TRUE(checked({"Kill mode", "Include process tree"}));
    EXPECT_TRUE(windows("Welcome to Halvo").isEmpty());
}

TEST_F(TrayApp, LaterStartsHandOverAndTheHotkeyOpensAPanelThatKills) {
    auto running = servers(2);
    // `halvo --panel` with none running starts one that shows the panel.
    startRegistered({"--panel"});
    ASSERT_TRUE(windowCountBecomes("Halvo", 1));
    xdotool({"key", "Escape"});
    ASSERT_TRUE(windowCountBecomes("Halvo", 0));

    // The desktop entry clicked again, then `halvo --panel`: one panel, in the first instance.
    for (const QStringList& arguments : {QStringList{}, QStringList{"--panel"}}) {
        QProcess& again = start(arguments);
        ASSERT_TRUE(again.waitForFinished(kBoundMs));
        EXPECT_EQ(again.exitCode(), 0);
        ASSERT_TRUE(windowCountBecomes("Halvo", 1));
    }
    EXPECT_EQ(itemProcesses().size(), 1);
    xdotool({"key", "Escape"});
    ASSERT_TRUE(windowCountBecomes("Halvo", 0));

    // The hotkey's panel is active with the search field focused: typed keys
    // filter, Return ends the one match and closes it, and the kill is recorded.
    const QString port = QString::number(running[0]->ports()[0]);
    const nlohmann::json matches =
        nlohmann::json::parse(testing::runCli({"list", port.toStdString(), "--json"}).out);
    // Only the test's own process may be the target: never a port alone.
    ASSERT_TRUE(matches.size() == 1 && matches[0]["pid"] == running[0]->pid()) << matches.dump();
    xdotool({"key", "shift+super+k"});
    ASSERT_TRUE(windowCountBecomes("Halvo", 1));
    ASSERT_TRUE(
        QTest::qWaitFor([] { return xdotool({"getactivewindow"}) == windows("Halvo"); }, kBoundMs));
    xdotool({"type", "--delay", "30", port});
    xdotool({"key", "Return"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !running[0]->running(); }, kBoundMs));
    EXPECT_TRUE(running[1]->running());
    EXPECT_TRUE(windowCountBecomes("Halvo", 0));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return labels(menuItem({"Recent"})).value(0).startsWith(port + "  node PID "); },
        kBoundMs));
}

TEST_F(TrayApp, WithoutASessionBusItRunsOnTheHotkey) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + QString::fromStdString(files_.path()) + "/no-bus");
    QProcess& app = start({}, env);
    // No tray host can be reached: it says so once and stays.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return app.readAllStandardError().contains("no system tray"); }, kBoundMs));
    xdotool({"key", "shift+super+k"});
    ASSERT_TRUE(windowCountBecomes("Halvo", 1));
    EXPECT_EQ(app.state(), QProcess::Running);
}

TEST_F(TrayApp, WaylandUnderAHeadlessCompositor) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString socket = QStringLiteral("halvo-test-%1").arg(QCoreApplication::applicationPid());
    QProcess& weston = apps_.emplace_back();
    weston.start(QStringLiteral("weston"), {"--backend=headless-backend.so", "--socket=" + socket,
                                            "--idle-time=0", "--debug"});
    const QString runtime = env.value(QStringLiteral("XDG_RUNTIME_DIR"));
    if (!weston.waitForStarted() ||
        !QTest::qWaitFor([&] { return QFile::exists(runtime + "/" + socket); }, kBoundMs)) {
        GTEST_SKIP() << "weston's headless backend cannot run here";
    }
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    env.remove(QStringLiteral("DISPLAY"));
    startRegistered({}, env);
    ASSERT_TRUE(start({"--panel"}, env).waitForFinished(kBoundMs));
    // The compositor's own account of its windows.
    const auto mapped = [&] {
        QProcess sceneGraph;
        sceneGraph.setProcessEnvironment(env);
        sceneGraph.start(QStringLiteral("weston-debug"), {"scene-graph"});
        sceneGraph.waitForFinished(kBoundMs);
        return sceneGraph.readAllStandardOutput().contains(
            "top-level window 'Halvo' of com.tavlabs.halvo");
    };
    EXPECT_TRUE(QTest::qWaitFor(mapped, kBoundMs));
}

// Run on a desktop with trayer and no StatusNotifier host: Qt embeds the icon.
TEST_F(TrayApp, XEmbedWithARealTray) {
    QProcess& app = start();
    const QStringList own{"search", "--onlyvisible", "--pid", QString::number(app.processId())};
    ASSERT_TRUE(QTest::qWaitFor([&] { return xdotool(own).size() == 1; }, kBoundMs));
    const QString icon = xdotool(own)[0];
    // A right click on the embedded icon opens the menu, a window of its own; the
    // icon may take a moment to listen once mapped.
    bool menuShown = false;
    for (int attempt = 0; attempt < 5 && !menuShown; ++attempt) {
        // Press and release apart: a menu that opens on the press takes a release
        // that comes with it as a click outside.
        xdotool({"mousemove", "--window", icon, "4", "4"});
        xdotool({"mousedown", "3"});
        xdotool({"mouseup", "3"});
        menuShown = QTest::qWaitFor([&] { return xdotool(own).size() == 2; }, 2'000);
    }
    EXPECT_TRUE(menuShown);
    xdotool({"key", "Escape"});
    EXPECT_FALSE(app.readAllStandardError().contains("no system tray"));
}

}  // namespace
}  // namespace halvo

int main(int argc, char** argv) {
    // Its keys and clicks would land on the desktop of whoever runs it.
    if (!qEnvironmentVariableIsSet("HALVO_DESKTOP_SESSION")) {
        qCritical("run it through scripts/desktop-session");
        return 2;
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
