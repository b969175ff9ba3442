// The tray application's parts on the desktop of scripts/desktop-session: the
// global hotkey's X11 grab through real key events and its portal through a
// stand-in on the bus, the desktop's colour scheme through the same stand-in,
// and the single instance's hand-over.
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QTest>

#include "app/desktop_color_scheme.h"
#include "app/hotkey_manager.h"
#include "app/single_instance.h"

namespace halvo {

using Status = HotkeyRegistrationStatus;

// A connection of its own to the session bus, as another process would have.
QDBusConnection ownConnection(const QString& name) {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
}

// The stand-in portal with `arguments`; true once it owns the portal's name.
bool startPortal(QProcess& portal, const QStringList& arguments) {
    portal.setProcessChannelMode(QProcess::ForwardedChannels);
    portal.start(QStringLiteral(HALVO_STAND_IN_PORTAL), arguments);
    return QTest::qWaitFor([] {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.portal.Desktop"));
    });
}

// Drives the stand-in portal's user side.
void callPortal(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                       QStringLiteral("/org/freedesktop/portal/desktop"),
                                       QStringLiteral("com.tavlabs.halvo.test.Portal"), method);
    call.setArguments(arguments);
    QDBusConnection::sessionBus().call(call);
}

// Counts what a manager reports.
struct Reports {
    int presses = 0;
    QList<Status> statuses;
    std::unique_ptr<HotkeyManager> manager(const QString& connection) {
        auto made = std::make_unique<HotkeyManager>(
            [this] { ++presses; }, [this](Status s) { statuses << s; }, ownConnection(connection),
            std::chrono::seconds(2));
        made->registerHotkey();
        return made;
    }
};

class AppCoreTest : public QObject {
    Q_OBJECT

  private slots:
    // Its keys and bus names would reach the desktop of whoever runs it.
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("HALVO_DESKTOP_SESSION"),
                 "run it through scripts/desktop-session");
    }

    // The grab takes the key position under every lock, alone, until released.
    void theX11Grab() {
        Reports reports;
        auto manager = reports.manager(QStringLiteral("grab"));
        QTRY_COMPARE(reports.statuses, QList{Status::x11Grab});
        // Every row ends with the shortcut, so a stray match shows as one press too many.
        const struct {
            QStringList keys;
            int presses;
        } rows[] = {
            {{"super+k", "shift+k", "ctrl+shift+k", "shift+super+j", "shift+super+k"}, 1},
            {{"Num_Lock", "shift+super+k", "Num_Lock", "shift+super+k"}, 2},
            {{"Caps_Lock", "shift+super+k", "Caps_Lock", "shift+super+k"}, 2},
            {{"Num_Lock", "Caps_Lock", "shift+super+k", "Caps_Lock", "Num_Lock"}, 1},
        };
        int total = 0;
        for (const auto& row : rows) {
            QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), QStringList{"key"} + row.keys),
                     0);
            total += row.presses;
            QTRY_COMPARE(reports.presses, total);
        }
        // A remap moves NumLock to another modifier: the grab follows it.
        const auto numLockOn = [](const QString& modifier) {
            return QProcess::execute("xmodmap", {"-e", "clear mod2", "-e", "clear mod3", "-e",
                                                 "add " + modifier + " = Num_Lock"}) == 0;
        };
        QVERIFY(numLockOn("mod3"));
        QTRY_VERIFY((QProcess::execute("xdotool", {"key", "Num_Lock", "shift+super+k", "Num_Lock"}),
                     reports.presses > total));
        QVERIFY(numLockOn("mod2"));

        QTest::ignoreMessage(QtWarningMsg,
                             "halvo: Shift+Super+K is held by another "
                             "application; the hotkey is off");
        Reports second;
        const auto refused = second.manager(QStringLiteral("second"));
        QTRY_COMPARE(second.statuses, QList{Status::failed});
        manager.reset();
        Reports next;
        const auto after = next.manager(QStringLiteral("next"));
        QTRY_COMPARE(next.statuses, QList{Status::x11Grab});
    }

    void waylandWithoutPortalFails() {
        qputenv("WAYLAND_DISPLAY", "wayland-halvo-test");
        Reports reports;
        const auto manager = reports.manager(QStringLiteral("wayland"));
        QTRY_COMPARE(reports.statuses, QList{Status::failed});
        qunsetenv("WAYLAND_DISPLAY");
    }

    void portalFirst_data() {
        QTest::addColumn<int>("bindResponse");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<QList<Status>>("statuses");
        QTest::newRow("bound") << 0 << 0 << QList{Status::portal};
        QTest::newRow("refused by the user") << 1 << 0 << QList{Status::permissionRequired};
        QTest::newRow("failed: the X11 grab instead") << 2 << 0 << QList{Status::x11Grab};
        QTest::newRow("bound after the bound")
            << 0 << 4000 << QList{Status::unanswered, Status::portal};
    }
    void portalFirst() {
        QFETCH(int, bindResponse);
        QFETCH(int, delayMs);
        QFETCH(QList<Status>, statuses);
        QProcess portal;
        QVERIFY(startPortal(portal, {QString::number(bindResponse), QString::number(delayMs)}));

        Reports reports;
        const auto manager = reports.manager(QStringLiteral("portal"));
        QTRY_COMPARE_WITH_TIMEOUT(reports.statuses, statuses, 10'000);
        if (statuses.last() == Status::portal) {
            // Another shortcut, then ours; then the portal closes the session.
            callPortal(QStringLiteral("PressThenClose"));
            QTRY_COMPARE(reports.statuses, statuses + QList{Status::permissionRequired});
            QCOMPARE(reports.presses, 1);
        }
    }

    // The portal's colour scheme, read at first and followed.
    void colorScheme() {
        QProcess portal;
        QVERIFY(startPortal(portal, {"0"}));
        callPortal(QStringLiteral("SetColorScheme"), {1U});
        DesktopColorScheme scheme(ownConnection(QStringLiteral("scheme")));
        QTRY_COMPARE(scheme.current(), ColorScheme::dark);
        callPortal(QStringLiteral("SetColorScheme"), {2U});
        QTRY_COMPARE(scheme.current(), ColorScheme::light);
    }

    // Later instances hand their activation token to the first; a holder of
    // the name that does not answer is reported.
    void singleInstance() {
        QStringList shown;
        auto first = std::make_unique<SingleInstance>(
            ownConnection(QStringLiteral("first")), [&](const QString& token) { shown << token; });
        QCOMPARE(first->start(QStringLiteral("own-token")), InstanceRole::primary);
        SingleInstance second(ownConnection(QStringLiteral("second")), [](const QString&) {});
        QCOMPARE(second.start(QStringLiteral("launcher-token-42")), InstanceRole::handedOver);
        QCOMPARE(shown, QStringList{"launcher-token-42"});
        first.reset();  // the name goes with it

        QDBusConnection holder = ownConnection(QStringLiteral("holder"));
        QVERIFY(holder.registerService(QLatin1String(SingleInstance::kServiceName)));
        SingleInstance later(ownConnection(QStringLiteral("later")), [](const QString&) {});
        QCOMPARE(later.start(QString()), InstanceRole::unanswered);
        holder.unregisterService(QLatin1String(SingleInstance::kServiceName));
    }
};

}  // namespace halvo

QTEST_GUILESS_MAIN(halvo::AppCoreTest)
#include "app_core_test.moc"
