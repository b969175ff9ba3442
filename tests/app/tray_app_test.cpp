// The tray application as a user's desktop runs it: Xvfb with openbox, a
// private session bus with a stand-in tray host, real stand-in servers. The
// menu is read and clicked over com.canonical.dbusmenu, as a tray host does.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>

#include "desktop_session.h"
#include "support/cli_process.h"
#include "support/feed_server.h"
#include "support/test_process.h"

namespace halvo {
namespace {

using testing::ListenerProcess;
using testing::TempDir;

constexpr int kBoundMs = 10'000;

// An update feed whose one item is `version`.
QByteArray feedOffering(const QByteArray& version) {
    return "<?xml version='1.0'?><rss version='2.0' "
           "xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel><item>"
           "<title>Halvo</title><sparkle:version>" +
           version + "</sparkle:version></item></channel></rss>";
}

// The desktop every test shares; each test brings its own home folder.
struct Desktop {
    testing::PrivateBus bus;
    testing::X11Desktop x11;
    QProcess host;
    QDBusConnection connection{QString()};
    // The update feed every Halvo here checks, so that none reaches the network;
    // "/current" offers nothing newer.
    FeedServer feed;

    bool start() {
        feed.serve(QStringLiteral("/current"), feedOffering("0.0.1"));
        if (!bus.start() || !x11.start()) {
            return false;
        }
        connection = bus.connect(QStringLiteral("tray-test"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        host.setProcessEnvironment(environment);
        host.start(QStringLiteral(HALVO_STAND_IN_TRAY_HOST), {});
        return host.waitForReadyRead(kBoundMs);
    }
};
Desktop* desktop = nullptr;

QDBusMessage callHost(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("com.tavlabs.halvo.test.Host"), method);
    call.setArguments(arguments);
    return desktop->connection.call(call, QDBus::Block, kBoundMs);
}

// The host's digest of the tray icon's pixmaps.
std::string iconDigest() {
    return callHost(QStringLiteral("Icon")).arguments().value(0).toString().toStdString();
}

// The menu as a host reads it; children are found by their labels.
struct Menu {
    QJsonObject root;
    static Menu read() {
        const QDBusMessage answer = callHost(QStringLiteral("Layout"));
        return {QJsonDocument::fromJson(answer.arguments().value(0).toString().toUtf8()).object()};
    }
    static QJsonArray children(const QJsonObject& item) { return item["children"].toArray(); }
    static QJsonObject child(const QJsonObject& item, const QString& label) {
        for (const QJsonValue& c : children(item)) {
            if (c["label"].toString() == label) {
                return c.toObject();
            }
        }
        return {};
    }
    QJsonObject operator[](const QString& label) const { return child(root, label); }
    static QStringList labels(const QJsonObject& item) {
        QStringList labels;
        for (const QJsonValue& c : children(item)) {
            labels << (c["type"] == "separator" ? QStringLiteral("---") : c["label"].toString());
        }
        return labels;
    }
};

// Clicks the item `find` reads until `done`. Other users' servers on this
// machine come and go, and each change rebuilds the menu with new ids, which
// makes a click on an id read just before it a click on nothing.
bool clickUntil(const std::function<QJsonObject()>& find, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QJsonObject item = find();
        if (!item.isEmpty()) {
            callHost(QStringLiteral("Click"), {item["id"].toInt()});
        }
        if (QTest::qWaitFor(done, 2'000)) {
            return true;
        }
    }
    return false;
}

bool forceChecked() {
    return Menu::child(Menu::read()["Kill mode"], "Force (SIGKILL)")["toggle-state"] == 1;
}

QJsonObject forceItem() {
    return Menu::child(Menu::read()["Kill mode"], "Force (SIGKILL)");
}

class TrayApp : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        desktop = new Desktop;
        ASSERT_TRUE(desktop->start());
        qputenv("DISPLAY", desktop->x11.display());  // for xdotool
    }
    static void TearDownTestSuite() {
        testing::stop(desktop->host);
        delete desktop;
    }

    void SetUp() override {
        QDir().mkpath(configFile().section('/', 0, -2));
        markOnboardingDone();
    }
    void TearDown() override {
        for (auto& app : apps_) {
            testing::stop(*app);
        }
    }

    QString configFile() const { return home_ + "/config/tavlabs/halvo.conf"; }
    void markOnboardingDone() { writeSettings("tavlabs.halvo.firstRunCompleted=true\n"); }
    void writeSettings(const QByteArray& values) {
        QFile file(configFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\n" + values);
    }
    QString readSettings() const {
        QFile file(configFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home_);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home_ + "/config");
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_);
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(desktop->x11.display()));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), desktop->bus.address());
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
        environment.insert(QStringLiteral("HALVO_UPDATE_FEED_URL"),
                           desktop->feed.url(QStringLiteral("/current")).toString());
        environment.insert(QStringLiteral("no_proxy"), QStringLiteral("*"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        // Under the sanitizers: whole stacks, so that Qt's own cached leaks can be told apart.
        if (environment.contains(QStringLiteral("ASAN_OPTIONS"))) {
            environment.insert(QStringLiteral("ASAN_OPTIONS"),
                               environment.value(QStringLiteral("ASAN_OPTIONS")) +
                                   QStringLiteral(":fast_unwind_on_malloc=0"));
            environment.insert(QStringLiteral("LSAN_OPTIONS"),
                               QStringLiteral("suppressions=" HALVO_LSAN_SUPPRESSIONS));
        }
        // Its messages are read here, not from a journal the machine may run.
        environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        return environment;
    }

    QProcess& start(const QStringList& arguments = {},
                    const QProcessEnvironment& env = QProcessEnvironment()) {
        apps_.push_back(std::make_unique<QProcess>());
        QProcess& app = *apps_.back();
        app.setProcessEnvironment(env.isEmpty() ? environment() : env);
        app.start(QStringLiteral(HALVO_APP), arguments);
        app.waitForStarted();
        return app;
    }

    // The tray item that `app` registered with the host, or empty.
    static bool registered(const QProcess& app) {
        const QStringList items =
            callHost(QStringLiteral("Items")).arguments().value(0).toStringList();
        return std::any_of(items.begin(), items.end(), [&](const QString& item) {
            return desktop->connection.interface()->servicePid(item).value() ==
                   static_cast<uint>(app.processId());
        });
    }
    static QStringList visibleWindows(const QString& name) {
        QProcess search;
        search.start(QStringLiteral("xdotool"),
                     {"search", "--onlyvisible", "--name", "^" + name + "$"});
        search.waitForFinished();
        return QString::fromLatin1(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
    static void key(const QString& keys) {
        QProcess::execute(QStringLiteral("xdotool"), {"key", keys});
    }

    // Stand-in dev servers named node, one port each.
    std::vector<std::unique_ptr<ListenerProcess>> servers(int count) {
        std::vector<std::unique_ptr<ListenerProcess>> started;
        testing::ListenerOptions options;
        options.executable = testing::listenerCopy(files_, "node");
        options.argv0 = "node";
        options.workingDirectory = files_.makeDir("dev/shop");
        options.listenerArgs = {"--v4", "1"};
        options.extraArgs = {"server.js"};
        for (int i = 0; i < count; ++i) {
            started.push_back(ListenerProcess::start(options));
        }
        return started;
    }

    TempDir files_;
    QString home_ = QString::fromStdString(files_.makeDir("home"));
    QString runtime_ = QString::fromStdString(files_.makeDir("runtime"));
    bool runtimePrivate_ = QFile::setPermissions(
        runtime_, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    std::vector<std::unique_ptr<QProcess>> apps_;
};

QString portLabel(int64_t port, const std::string& name) {
    return QString::asprintf("%-6lld  %s", static_cast<long long>(port), name.c_str());
}

TEST_F(TrayApp, MenuRowsOverStatusNotifier) {
    const auto running = servers(10);
    QProcess& app = start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return registered(app); }, kBoundMs));

    // The five lowest of all that the scanner sees besides ours. Other tests'
    // servers come and go, so the two are read again until they agree.
    const auto lowestFive = [] {
        const nlohmann::json listed =
            nlohmann::json::parse(testing::runCli({"list", "--json"}).out);
        QStringList rows;
        for (const auto& row : listed) {
            rows << portLabel(row["port"].get<int64_t>(), row["executableName"]);
        }
        std::stable_sort(rows.begin(), rows.end(), [](const QString& a, const QString& b) {
            return a.section(' ', 0, 0).toInt() < b.section(' ', 0, 0).toInt();
        });
        return rows.mid(0, 5) + QStringList{"---", "Open kill panel for all…"};
    };
    QStringList expected;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            expected = lowestFive();
            return Menu::labels(Menu::read()["Listening ports"]) == expected;
        },
        kBoundMs))
        << Menu::labels(Menu::read()["Listening ports"]).join('|').toStdString() << " vs "
        << expected.join('|').toStdString();

    const Menu menu = Menu::read();
    EXPECT_EQ(
        Menu::labels(menu.root),
        (QStringList{"Open kill panel", "Listening ports", "Refresh", "---", "Kill mode", "Recent",
                     "---", "Check for Updates…", "Support", "About Halvo", "---", "Quit Halvo"}));
    EXPECT_NE(menu["Check for Updates…"]["enabled"], false);
    const struct {
        const char* label;
        QJsonArray shortcut;
        const char* icon;
    } rows[] = {
        {"Open kill panel", {QJsonArray{"Super", "Shift", "K"}}, "edit-cut"},
        {"Listening ports", {}, "network-transmit-receive"},
        {"Refresh", {QJsonArray{"Control", "R"}}, "view-refresh"},
        {"Kill mode", {}, "preferences-system"},
        {"Recent", {}, "document-open-recent"},
        {"Quit Halvo", {QJsonArray{"Control", "Q"}}, ""},
    };
    for (const auto& row : rows) {
        const QJsonObject item = menu[row.label];
        EXPECT_EQ(item["shortcut"].toArray(), row.shortcut) << row.label;
        EXPECT_EQ(item["icon-name"].toString(), row.icon) << row.label;
    }
    const QJsonObject port = Menu::children(menu["Listening ports"])[0].toObject();
    EXPECT_EQ(port["children-display"], "submenu");
    EXPECT_EQ(Menu::labels(port), QStringList{"Kill"});
    EXPECT_EQ(Menu::child(menu["Kill mode"], "Graceful (SIGTERM)")["toggle-state"], 1);
    EXPECT_EQ(Menu::child(menu["Kill mode"], "Force (SIGKILL)")["toggle-state"], 0);
    const QJsonObject none = Menu::child(menu["Recent"], "No recent kills");
    EXPECT_EQ(none["enabled"], false);
    EXPECT_EQ(Menu::labels(menu["Recent"]).size(), 1);
}

TEST_F(TrayApp, AKillFromTheMenuIsRecordedAndAStaleOneIsNot) {
    auto running = servers(2);
    QProcess& app = start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return registered(app); }, kBoundMs));
    const auto row = [&](const ListenerProcess& server) {
        return Menu::child(Menu::read()["Listening ports"], portLabel(server.ports()[0], "node"));
    };
    if (!QTest::qWaitFor([&] { return !row(*running[0]).isEmpty() && !row(*running[1]).isEmpty(); },
                         kBoundMs)) {
        GTEST_SKIP() << "five lower ports of this machine fill the menu";
    }

    ASSERT_TRUE(clickUntil([&] { return Menu::child(row(*running[0]), "Kill"); },
                           [&] { return !running[0]->running(); }));
    const QStringList recorded{
        QStringLiteral("%1  node PID %2").arg(running[0]->ports()[0]).arg(running[0]->pid())};
    ASSERT_TRUE(QTest::qWaitFor([&] { return Menu::labels(Menu::read()["Recent"]) == recorded; },
                                kBoundMs));

    // The second server ends before its row is clicked: the kill must find it gone.
    ASSERT_TRUE(running[1]->stop());
    ASSERT_TRUE(clickUntil([&] { return Menu::child(row(*running[1]), "Kill"); },
                           [&] { return row(*running[1]).isEmpty(); }));
    EXPECT_EQ(Menu::labels(Menu::read()["Recent"]), recorded);
}

TEST_F(TrayApp, AFoundUpdateLeadsTheMenuAndBadgesTheIcon) {
    // The icon without an update, from a Halvo whose feed offers nothing newer.
    QProcess& current = start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return registered(current); }, kBoundMs));
    const std::string plainIcon = iconDigest();
    ASSERT_FALSE(plainIcon.empty()) << "the item shows no IconPixmap";
    testing::stop(current);

    desktop->feed.serve(QStringLiteral("/newer"), feedOffering("999.1.2"));
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("HALVO_UPDATE_FEED_URL"),
               desktop->feed.url(QStringLiteral("/newer")).toString());
    QProcess& app = start({}, env);
    ASSERT_TRUE(QTest::qWaitFor([&] { return registered(app); }, kBoundMs));
    // Its first background check runs a few seconds after the start.
    const QStringList top{"Update available — Install (v999.1.2)", "---", "Open kill panel"};
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Menu::labels(Menu::read().root).mid(0, 3) == top; }, kBoundMs))
        << Menu::labels(Menu::read().root).join('|').toStdString();
    EXPECT_NE(iconDigest(), plainIcon);

    EXPECT_TRUE(clickUntil([] { return Menu::read()["About Halvo"]; },
                           [] { return visibleWindows("About Halvo").size() == 1; }));
}

TEST_F(TrayApp, KillModeSurvivesARestart) {
    QProcess& first = start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return registered(first); }, kBoundMs));
    ASSERT_TRUE(clickUntil(forceItem, forceChecked));
    const auto treeItem = [] {
        return Menu::child(Menu::read()["Kill mode"], "Include process tree");
    };
    ASSERT_EQ(treeItem()["toggle-state"], 0);  // off until asked for
    ASSERT_TRUE(clickUntil(treeItem, [&] { return treeItem()["toggle-state"] == 1; }));
    ASSERT_TRUE(clickUntil([] { return Menu::read()["Quit Halvo"]; },
                           [&] { return first.state() == QProcess::NotRunning; }));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().right(4000).toStdString();
    EXPECT_TRUE(readSettings().contains("killMode=force"));
    EXPECT_TRUE(readSettings().contains("killProcessTree=true"));

    QProcess& second = start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return registered(second); }, kBoundMs));
    const QJsonObject modes = Menu::read()["Kill mode"];
    EXPECT_EQ(Menu::child(modes, "Force (SIGKILL)")["toggle-state"], 1);
    EXPECT_EQ(Menu::child(modes, "Graceful (SIGTERM)")["toggle-state"], 0);
    EXPECT_EQ(Menu::child(modes, "Include process tree")["toggle-state"], 1);
}

TEST_F(TrayApp, LaterStartsHandOverAndTheHotkeyOpensThePanel) {
    // `halvo --panel` with none running starts one that shows the panel.
    QProcess& first = start({"--panel"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return registered(first); }, kBoundMs));
    ASSERT_TRUE(QTest::qWaitFor([] { return visibleWindows("Halvo").size() == 1; }, kBoundMs));
    key("Escape");
    ASSERT_TRUE(QTest::qWaitFor([] { return visibleWindows("Halvo").isEmpty(); }, kBoundMs));

    // The desktop entry clicked again, then `halvo --panel`: one panel, in the first instance.
    for (const QStringList& arguments : {QStringList{}, QStringList{"--panel"}}) {
        QProcess& again = start(arguments);
        ASSERT_TRUE(again.waitForFinished(kBoundMs));
        EXPECT_EQ(again.exitCode(), 0);
        ASSERT_TRUE(QTest::qWaitFor([] { return visibleWindows("Halvo").size() == 1; }, kBoundMs));
    }
    EXPECT_EQ(callHost(QStringLiteral("Items")).arguments().value(0).toStringList().size(), 1);

    key("Escape");
    ASSERT_TRUE(QTest::qWaitFor([] { return visibleWindows("Halvo").isEmpty(); }, kBoundMs));
    key("shift+super+k");
    ASSERT_TRUE(QTest::qWaitFor([] { return visibleWindows("Halvo").size() == 1; }, kBoundMs));
}

TEST_F(TrayApp, OnboardingShowsOnceThenNever) {
    writeSettings("");
    QProcess& first = start();
    ASSERT_TRUE(
        QTest::qWaitFor([] { return visibleWindows("Welcome to Halvo").size() == 1; }, kBoundMs));
    const QString window = visibleWindows("Welcome to Halvo").value(0);
    QProcess::execute(QStringLiteral("xdotool"), {"windowactivate", "--sync", window});
    key("alt+F4");  // openbox closes it, as a user would
    ASSERT_TRUE(
        QTest::qWaitFor([] { return visibleWindows("Welcome to Halvo").isEmpty(); }, kBoundMs));
    testing::stop(first);
    EXPECT_TRUE(readSettings().contains("firstRunCompleted=true"));

    QProcess& second = start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return registered(second); }, kBoundMs));
    Menu::read();  // a round trip: the turn of its event loop after start-up is over
    EXPECT_TRUE(visibleWindows("Welcome to Halvo").isEmpty());
}

// Settings it cannot read or write: it starts, shows the defaults and keeps working.
TEST_F(TrayApp, BadSettingsFallBackToDefaults) {
    const struct {
        const char* name;
        std::function<void(const QString& config)> spoil;
    } cases[] = {
        {"settings file is a folder",
         [](const QString& config) {
             QFile::remove(config + "/tavlabs/halvo.conf");
             QDir().mkpath(config + "/tavlabs/halvo.conf");
         }},
        {"corrupt settings file",
         [](const QString& config) {
             QFile file(config + "/tavlabs/halvo.conf");
             file.open(QIODevice::WriteOnly);
             file.write("\x01\xff[tavlabs.halvo\nkillMode\nrecentKills=@ByteArray(\\x\n\0\0", 48);
         }},
        {"recent kills of the wrong type",
         [](const QString& config) {
             QFile file(config + "/tavlabs/halvo.conf");
             file.open(QIODevice::WriteOnly);
             // An object, not a list; a list of modes, not one.
             file.write(
                 "[General]\ntavlabs.halvo.firstRunCompleted=true\n"
                 "tavlabs.halvo.recentKills=\"{\\\"port\\\": 3000}\"\n"
                 "tavlabs.halvo.killMode=force, graceful\n");
         }},
        {"no folder can be made for the settings",
         [](const QString& config) {
             QDir(config + "/tavlabs").removeRecursively();
             QFile file(config + "/tavlabs");
             file.open(QIODevice::WriteOnly);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.spoil(home_ + "/config");
        QProcess& app = start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return registered(app); }, kBoundMs));
        const Menu menu = Menu::read();
        EXPECT_EQ(Menu::child(menu["Kill mode"], "Graceful (SIGTERM)")["toggle-state"], 1);
        EXPECT_EQ(Menu::labels(menu["Recent"]), QStringList{"No recent kills"});
        EXPECT_TRUE(clickUntil(forceItem, forceChecked));
        testing::stop(app);
        // Windows it may have shown (onboarding) go with it.
        ASSERT_TRUE(
            QTest::qWaitFor([] { return visibleWindows("Welcome to Halvo").isEmpty(); }, kBoundMs));
        QDir(home_ + "/config").removeRecursively();
        QDir().mkpath(home_ + "/config/tavlabs");
    }
}

TEST_F(TrayApp, WithoutASessionBusItRunsOnTheHotkey) {
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + runtime_ + "/no-bus");
    QProcess& app = start({}, env);
    // No tray host can be reached: it says so once and stays.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return app.readAllStandardError().contains("no system tray"); }, kBoundMs));
    key("shift+super+k");
    ASSERT_TRUE(QTest::qWaitFor([] { return visibleWindows("Halvo").size() == 1; }, kBoundMs));
    EXPECT_EQ(app.state(), QProcess::Running);
}

TEST_F(TrayApp, XEmbedWithARealTray) {
    // A bus without a StatusNotifier host: Qt embeds the icon in trayer instead.
    testing::PrivateBus plainBus;
    ASSERT_TRUE(plainBus.start());
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), plainBus.address());
    QProcess trayer;
    trayer.setProcessEnvironment(env);
    trayer.start(QStringLiteral("trayer"),
                 {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"});
    if (!trayer.waitForStarted() ||
        !QTest::qWaitFor([] { return !visibleWindows("panel").isEmpty(); }, kBoundMs)) {
        GTEST_SKIP() << "trayer cannot run here";
    }
    QProcess& app = start({}, env);
    const auto windows = [&] {
        QProcess search;
        search.start(QStringLiteral("xdotool"),
                     {"search", "--onlyvisible", "--pid", QString::number(app.processId())});
        search.waitForFinished();
        return QString::fromLatin1(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return windows().size() == 1; }, kBoundMs));
    const QString icon = windows()[0];
    // A right click on the embedded icon opens the menu, a window of its own; the
    // icon may take a moment to listen once mapped.
    bool menuShown = false;
    for (int attempt = 0; attempt < 5 && !menuShown; ++attempt) {
        // Press and release apart: a menu that opens on the press takes a release
        // that comes with it as a click outside.
        QProcess::execute(QStringLiteral("xdotool"), {"mousemove", "--window", icon, "4", "4"});
        QProcess::execute(QStringLiteral("xdotool"), {"mousedown", "3"});
        QProcess::execute(QStringLiteral("xdotool"), {"mouseup", "3"});
        menuShown = QTest::qWaitFor([&] { return windows().size() == 2; }, 2'000);
    }
    EXPECT_TRUE(menuShown);
    key("Escape");
    EXPECT_FALSE(app.readAllStandardError().contains("no system tray"));
    testing::stop(trayer);
}

TEST_F(TrayApp, WaylandUnderAHeadlessCompositor) {
    QProcessEnvironment env = environment();
    const QString socket = QStringLiteral("halvo-test-%1").arg(QCoreApplication::applicationPid());
    QProcess weston;
    weston.setProcessEnvironment(env);
    weston.start(QStringLiteral("weston"), {"--backend=headless-backend.so", "--socket=" + socket,
                                            "--idle-time=0", "--debug"});
    if (!weston.waitForStarted() ||
        !QTest::qWaitFor([&] { return QFile::exists(runtime_ + "/" + socket); }, kBoundMs)) {
        GTEST_SKIP() << "weston's headless backend cannot run here";
    }
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    env.remove(QStringLiteral("DISPLAY"));
    QProcess& app = start({}, env);
    ASSERT_TRUE(QTest::qWaitFor([&] { return registered(app); }, kBoundMs));

    QProcess& panel = start({"--panel"}, env);
    ASSERT_TRUE(panel.waitForFinished(kBoundMs));
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
    testing::stop(weston);
}

}  // namespace
}  // namespace halvo

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
