// The tray application as a user's desktop runs it, on the desktop of
// scripts/desktop-session with its stand-in tray host, whose menu the test
// reads and clicks over com.canonical.dbusmenu as a tray host does; real
// stand-in servers, keys and clicks from xdotool.
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
#include <QSettings>
#include <QTest>

#include <signal.h>

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

// The menu as the host reads it: the whole, or the item at the path of labels.
using Item = QJsonObject;
Item menuItem(const QStringList& path = {}) {
    Item item =
        QJsonDocument::fromJson(callHost(QStringLiteral("Layout")).toString().toUtf8()).object();
    for (const QString& label : path) {
        const QJsonArray children = item["children"].toArray();
        const auto found = std::find_if(children.begin(), children.end(),
                                        [&](const QJsonValue& c) { return c["label"] == label; });
        item = found == children.end() ? Item() : found->toObject();
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
    return "<rss xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel>"
           "<item><sparkle:version>" +
           version + "</sparkle:version></item></channel></rss>";
}

class TrayApp : public ::testing::Test {
  protected:
    // Settings of the session's own, emptied for each test; an update feed
    // that offers nothing newer, so that no Halvo here reaches the network.
    void SetUp() override {
        QDir(config_).removeRecursively();
        QSettings(config_ + "/halvo.conf", QSettings::IniFormat)
            .setValue("tavlabs.halvo.firstRunCompleted", true);
        feed_.serve(QStringLiteral("/current"), feedOffering("0.0.1"));
        qputenv("HALVO_UPDATE_FEED_URL", feed_.url(QStringLiteral("/current")).toEncoded());
        qputenv("no_proxy", "*");
        qputenv("QT_FORCE_STDERR_LOGGING", "1");  // its messages are read here
    }
    void TearDown() override {
        for (QProcess& app : apps_) {
            app.terminate();
            app.waitForFinished();
        }
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

// The welcome window once, closed by the window manager; an update the first
// check finds leads the menu, badges the icon and is named in its tool tip;
// the kill mode, set in the menu, after a restart; the menu shows the five
// lowest ports that a scan of the same moment lists, and records its kills,
// not a stale one.
TEST_F(TrayApp, FirstRunThenTheMenuAfterARestart) {
    auto running = servers(10);
    QFile::remove(config_ + "/halvo.conf");
    feed_.serve(QStringLiteral("/current"), feedOffering("999.1.2"));
    QProcess& first = startRegistered();
    ASSERT_TRUE(windowCountBecomes("Welcome to Halvo", 1));
    xdotool({"windowactivate", "--sync", windows("Welcome to Halvo").value(0)});
    xdotool({"key", "alt+F4"});  // openbox closes it, as a user would
    ASSERT_TRUE(windowCountBecomes("Welcome to Halvo", 0));
    const QStringList top{"Update available — Install (v999.1.2)", "---", "Open kill panel"};
    ASSERT_TRUE(QTest::qWaitFor([&] { return labels(menuItem()).mid(0, 3) == top; }, kBoundMs))
        << labels(menuItem()).join('|').toStdString();
    const QString badgedIcon = callHost(QStringLiteral("Icon")).toString();
    EXPECT_EQ(callHost(QStringLiteral("ToolTip")).toString(), "Halvo, update available");
    EXPECT_TRUE(clickUntil({"About Halvo"}, [] { return windows("About Halvo").size() == 1; }));
    ASSERT_TRUE(checked({"Kill mode", "Graceful (SIGTERM)"}));  // the defaults
    for (const QString item : {"Force (SIGKILL)", "Include process tree"}) {
        ASSERT_TRUE(clickUntil({"Kill mode", item}, [&] { return checked({"Kill mode", item}); }));
    }
    ASSERT_TRUE(clickUntil({"Quit Halvo"}, [&] { return first.state() == QProcess::NotRunning; }));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().right(4000).toStdString();

    // The next check is a day away: no update, no badge.
    startRegistered();
    const QString plainIcon = callHost(QStringLiteral("Icon")).toString();
    EXPECT_TRUE(!plainIcon.isEmpty() && plainIcon != badgedIcon) << "no IconPixmap, or the same";
    EXPECT_EQ(callHost(QStringLiteral("ToolTip")).toString(), "Halvo");
    EXPECT_TRUE(checked({"Kill mode", "Force (SIGKILL)"}));
    EXPECT_TRUE(checked({"Kill mode", "Include process tree"}));
    EXPECT_TRUE(windows("Welcome to Halvo").isEmpty());

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
    // Only servers of the test's own may be the targets.
    const auto kill = [](const auto& server) {
        const long long port = server->ports()[0];
        return QStringList{"Listening ports", QString::asprintf("%-6lld  node", port), "Kill"};
    };
    std::vector<ListenerProcess*> shown;
    for (const auto& server : running) {
        if (expected.contains(kill(server)[1])) {
            shown.push_back(server.get());
        }
    }
    if (shown.size() < 2) {
        GTEST_SKIP() << "lower ports of this machine fill the menu";
    }
    ASSERT_TRUE(clickUntil(kill(shown[0]), [&] { return !shown[0]->running(); }));
    const QStringList recorded{
        QStringLiteral("%1  node PID %2").arg(shown[0]->ports()[0]).arg(shown[0]->pid())};
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return labels(menuItem({"Recent"})) == recorded; }, kBoundMs));
    // The second ends before its row is clicked: the kill must find it gone.
    ASSERT_TRUE(shown[1]->stop());
    ASSERT_TRUE(clickUntil(kill(shown[1]), [&] { return menuItem(kill(shown[1])).isEmpty(); }));
    EXPECT_EQ(labels(menuItem({"Recent"})), recorded);
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

// With notifications on, two servers ended together from outside are one
// notification, whose action opens the panel; a server Halvo ends is none.
TEST_F(TrayApp, ServersThatStopOnTheirOwnAreToldOfOnce) {
    QProcess service;
    service.start(QStringLiteral(HALVO_STAND_IN_NOTIFICATIONS));
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.canReadLine(); }, kBoundMs));
    ASSERT_EQ(service.readLine(), "ready\n");
    QSettings(config_ + "/halvo.conf", QSettings::IniFormat)
        .setValue("tavlabs.halvo.notifyServerStops", "true");
    auto running = servers(3);
    startRegistered();
    ASSERT_TRUE(checked({"Notify When a Server Stops"}));
    QTest::qWait(3'000);  // a look and the scan it leads to
    // Other servers of this user's come and go: only lines that name ours count.
    std::vector<nlohmann::json> notices;
    const auto naming = [&](int server) {
        const QString port = ":" + QString::number(running[server]->ports()[0]);
        while (service.canReadLine()) {
            notices.push_back(nlohmann::json::parse(service.readLine().toStdString()));
        }
        std::vector<nlohmann::json> found;
        for (const auto& notice : notices) {
            const QString text = QString::fromStdString(notice["summary"].get<std::string>() +
                                                        "\n" + notice["body"].get<std::string>());
            const QStringList lines = text.split('\n');
            if (std::any_of(lines.begin(), lines.end(),
                            [&](const QString& line) { return line.endsWith(port); })) {
                found.push_back(notice);
            }
        }
        return found;
    };
    for (int i : {0, 1}) {
        ::kill(running[i]->pid(), SIGKILL);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !naming(0).empty(); }, kBoundMs));
    const auto ended = testing::runCli({"kill", "--pid", std::to_string(running[2]->pid())});
    EXPECT_EQ(ended.status, 0) << ended.err;
    QTest::qWait(5'000);  // two looks at least
    ASSERT_EQ(naming(0).size(), 1u);
    EXPECT_EQ(naming(1), naming(0)) << "one notification for the two";
    EXPECT_TRUE(naming(2).empty());
    const nlohmann::json notice = naming(0)[0];

    QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                       "/org/freedesktop/Notifications",
                                       "com.tavlabs.halvo.test.Notifications", "Click")
        << uint(notice["id"].get<int>()));
    EXPECT_TRUE(windowCountBecomes("Halvo", 1));
    service.kill();
    service.waitForFinished();
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
