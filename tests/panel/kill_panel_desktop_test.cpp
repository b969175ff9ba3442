// The kill panel on a real X server with a window manager (run through
// desktop-session), against real processes this test starts: a query typed
// with real key events, Return ends the selected process and only it, the
// panel closes, and the kill is in the settings file.
#include "kill/kill_engine.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "panel/halvo_kill_coordinator.h"
#include "scan/system_scanner.h"
#include "state/process_store.h"
#include "state/settings_defaults_store.h"
#include "support/test_process.h"
#include "ui/style.h"
#include "ui/window_presenter.h"

using namespace halvo;
using halvo::testing::ListenerProcess;

namespace {

// Runs xdotool with `args` and lets the application handle events meanwhile.
bool xdotool(const QStringList& args) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), args);
    return QTest::qWaitFor([&] { return tool.state() == QProcess::NotRunning; }, 20000) &&
           tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

}  // namespace

class KillPanelDesktopTest : public QObject {
    Q_OBJECT

  private slots:
    void returnEndsTheSelectedProcessAndRecordsIt() {
        QVERIFY2(qEnvironmentVariable("QT_QPA_PLATFORM") == "xcb", "run through desktop-session");
        halvo::testing::TempDir dir;
        halvo::testing::ListenerOptions options;
        options.listenerArgs = {"--v4", "1"};
        options.executable = halvo::testing::listenerCopy(dir, "node");
        options.workingDirectory = dir.makeDir("home/dev/shop");
        auto target = ListenerProcess::start(options);
        auto bystander = ListenerProcess::start(options);
        QVERIFY(target && bystander);
        const int64_t port = target->ports().at(0);

        ui::applyStyle(*qApp);
        ProcessStore store(makeSystemScanner(), std::make_shared<KillEngine>());
        auto defaults = std::make_shared<SettingsDefaultsStore>();
        auto& coordinator = HalvoKillCoordinator::shared();
        coordinator.setStore(&store, defaults);
        coordinator.showPanel();
        QWidget* window =
            ui::TAVSatelliteWindowPresenter::shared().window(HalvoKillCoordinator::kPanelId);
        QVERIFY(window != nullptr);
        QVERIFY(QTest::qWaitForWindowActive(window, 10000));
        QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QLineEdit*>("search")->hasFocus(), 5000);

        QVERIFY(xdotool({"type", "--delay", "30", QString::number(port)}));
        QTRY_COMPARE_WITH_TIMEOUT(store.query(), QString::number(port), 10000);
        // Only the test's own process may be the target: never a port alone.
        QTRY_VERIFY_WITH_TIMEOUT(store.filteredProcesses().size() == 1, 10000);
        QCOMPARE(store.selectedProcess()->pid, target->pid());

        QVERIFY(xdotool({"key", "Return"}));
        QTRY_VERIFY_WITH_TIMEOUT(!target->running(), 10000);
        QVERIFY(bystander->running());
        QTRY_COMPARE_WITH_TIMEOUT(
            ui::TAVSatelliteWindowPresenter::shared().window(HalvoKillCoordinator::kPanelId),
            nullptr, 10000);
        QVERIFY(store.processes().empty());

        defaults->sync();
        QFile settings(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                       "/tavlabs/halvo.conf");
        QVERIFY2(settings.open(QIODevice::ReadOnly), qPrintable(settings.fileName()));
        const QByteArray written = settings.readAll();
        QVERIFY2(written.contains("node PID " + QByteArray::number(target->pid())), written);
        QVERIFY2(written.contains(QByteArray::number(port)), written);
        coordinator.setStore(nullptr, nullptr);
    }
};

QTEST_MAIN(KillPanelDesktopTest)
#include "kill_panel_desktop_test.moc"
