// The global hotkey on the desktop of scripts/desktop-session: the X11 grab
// through real key events, and the portal through a stand-in on the bus.
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QTest>

#include "app/hotkey_manager.h"
#include "app/x11_key_grab.h"

namespace halvo {

using Status = HotkeyRegistrationStatus;

// Counts what a manager reports.
struct Reports {
    int presses = 0;
    QList<Status> statuses;
    std::unique_ptr<HotkeyManager> manager(QDBusConnection bus) {
        auto made = std::make_unique<HotkeyManager>([this] { ++presses; },
                                                    [this](Status s) { statuses << s; }, bus);
        made->registerHotkey();
        return made;
    }
};

class HotkeyManagerTest : public QObject {
    Q_OBJECT

  private slots:
    // Its keys and bus names would reach the desktop of whoever runs it.
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("HALVO_DESKTOP_SESSION"),
                 "run it through scripts/desktop-session");
    }

    void grabsTheKeyPositionUnderEveryLock() {
        Reports reports;
        const auto manager = reports.manager(ownConnection(QStringLiteral("grab")));
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
    }

    void aCombinationHeldElsewhereFails() {
        Reports holder;
        auto held = holder.manager(ownConnection(QStringLiteral("holder")));
        QTRY_COMPARE(holder.statuses, QList{Status::x11Grab});

        X11GrabError error = X11GrabError::noDisplay;
        QCOMPARE(X11KeyGrab::grab([] {}, error), nullptr);
        QCOMPARE(error, X11GrabError::alreadyHeld);
        Reports second;
        const auto refused = second.manager(ownConnection(QStringLiteral("second")));
        QTRY_COMPARE(second.statuses, QList{Status::failed});

        held.reset();  // releases every grab
        Reports next;
        const auto after = next.manager(ownConnection(QStringLiteral("next")));
        QTRY_COMPARE(next.statuses, QList{Status::x11Grab});
    }

    void waylandWithoutPortalFails() {
        qputenv("WAYLAND_DISPLAY", "wayland-halvo-test");
        Reports reports;
        const auto manager = reports.manager(ownConnection(QStringLiteral("wayland")));
        QTRY_COMPARE(reports.statuses, QList{Status::failed});
        qunsetenv("WAYLAND_DISPLAY");
    }

    void portalFirst_data() {
        QTest::addColumn<int>("bindResponse");
        QTest::addColumn<Status>("status");
        QTest::newRow("bound") << 0 << Status::portal;
        QTest::newRow("refused by the user") << 1 << Status::permissionRequired;
        QTest::newRow("failed: the X11 grab instead") << 2 << Status::x11Grab;
    }

    void portalFirst() {
        QFETCH(int, bindResponse);
        QFETCH(Status, status);
        QProcess portal;
        portal.setProcessChannelMode(QProcess::ForwardedChannels);
        portal.start(QStringLiteral(HALVO_STAND_IN_PORTAL), {QString::number(bindResponse)});
        const QDBusConnection bus = ownConnection(QStringLiteral("portal"));
        QTRY_VERIFY(bus.interface()->isServiceRegistered(QLatin1String(kPortal)));

        Reports reports;
        const auto manager = reports.manager(bus);
        QTRY_COMPARE(reports.statuses, QList{status});
        if (status == Status::portal) {
            // Another shortcut, then ours; then the portal closes the session.
            bus.call(QDBusMessage::createMethodCall(
                QLatin1String(kPortal), QStringLiteral("/org/freedesktop/portal/desktop"),
                QStringLiteral("com.tavlabs.halvo.test.Portal"), QStringLiteral("PressThenClose")));
            QTRY_COMPARE(reports.statuses, (QList{Status::portal, Status::permissionRequired}));
            QCOMPARE(reports.presses, 1);
        }
        portal.terminate();
        portal.waitForFinished();
    }

  private:
    static constexpr char kPortal[] = "org.freedesktop.portal.Desktop";

    // A connection of its own to the session bus, as another process would have.
    static QDBusConnection ownConnection(const QString& name) {
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }
};

}  // namespace halvo

QTEST_GUILESS_MAIN(halvo::HotkeyManagerTest)
#include "hotkey_manager_test.moc"
