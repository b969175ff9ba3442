#include "app/app_delegate.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

#include <variant>

#include "app/app_services_menu.h"
#include "app/kill_mode_setting.h"
#include "app/server_stop_watch.h"
#include "app/status_icon.h"
#include "app/stopped_server_notice.h"
#include "appkit/first_run_guard.h"
#include "kill/restart_watch.h"
#include "panel/halvo_kill_coordinator.h"
#include "scan/process_tree.h"
#include "services/app_services.h"
#include "services/first_run_onboarding.h"
#include "state/leave_alone_watcher.h"
#include "state/process_store.h"
#include "state/settings_defaults_store.h"
#include "ui/window_presenter.h"

namespace halvo {

AppDelegate::AppDelegate(std::shared_ptr<PortScanning> scanner,
                         std::shared_ptr<ProcessKilling> killEngine, QColor desktopText,
                         QObject* parent)
    : QObject(parent),
      scanner_(std::move(scanner)),
      killEngine_(std::move(killEngine)),
      desktopText_(desktopText),
      statusMenu_(StatusMenuActions{
          .openKillPanel = [this] { showPanel(); },
          .refresh = [this] { refreshMenu(); },
          .killListeningPort = [this](const PortProcess& record) { killListeningPort(record); },
          .openRecentKill = [this](int64_t port) { openRecentKill(port); },
          .selectKillMode = [this](KillMode mode) { setKillMode(mode); },
          .setKillProcessTree = [this](bool on) { store_->setKillProcessTree(on); },
          .setNotifyServerStops = [this](bool on) { setNotifyServerStops(on); },
          .quit = [] { QCoreApplication::quit(); },
      }) {}

AppDelegate::~AppDelegate() {
    HalvoKillCoordinator::shared().closePanel();
    HalvoKillCoordinator::shared().setStore(nullptr, nullptr);
}

void AppDelegate::start() {
    defaults_ = std::make_shared<SettingsDefaultsStore>();
    startServices();
    startStore();
    startHotkey();
    startStatusItem();
    startStopWatch();
    store_->refresh();
}

void AppDelegate::startServices() {
    // Null when refused; it has logged why.
    appServices_ = AppServices::create(*defaults_, presenter_);
    if (appServices_) {
        services_ = std::make_unique<AppServicesMenu>(*appServices_);
        connect(appServices_.get(), &AppServices::pendingUpdateVersionChanged, this, [this] {
            updateStatusIcon();
            updateMenu();
        });
        connect(appServices_.get(), &AppServices::canCheckForUpdatesChanged, this,
                &AppDelegate::updateMenu);
    }
}

void AppDelegate::startStore() {
    store_ = std::make_unique<ProcessStore>(scanner_, killEngine_);
    store_->setKillMode(loadKillMode(*defaults_));
    store_->setKillHelpers(std::make_shared<ProcFsProcessTree>(), std::make_shared<RestartWatch>());
    store_->setKillProcessTree(loadKillProcessTree(*defaults_));
    store_->setEndings(HalvoEndings::forThisSession());
    HalvoKillCoordinator::shared().setStore(store_.get(), defaults_);
    if (const std::optional<std::string> path = leaveAloneListPath()) {
        // Owned by the store, and so gone with it.
        auto* leaveAlone = new LeaveAloneWatcher(*path, store_.get());
        store_->setLeaveAlone(leaveAlone->list());
        connect(leaveAlone, &LeaveAloneWatcher::listChanged, store_.get(),
                [store = store_.get(), leaveAlone] { store->setLeaveAlone(leaveAlone->list()); });
    }
    connect(store_.get(), &ProcessStore::processesChanged, this, &AppDelegate::updateMenu);
    connect(store_.get(), &ProcessStore::killModeChanged, this, &AppDelegate::updateMenu);
    connect(store_.get(), &ProcessStore::killThroughSupervisorChanged, this,
            &AppDelegate::updateMenu);
    // Set from the menu or the panel; kept for the next run either way.
    connect(store_.get(), &ProcessStore::killProcessTreeChanged, this, [this] {
        storeKillProcessTree(store_->killProcessTree(), *defaults_);
        updateMenu();
    });
}

void AppDelegate::startStopWatch() {
    auto* notice = new StoppedServerNotice([this] { showPanel(); }, this);
    stopWatch_ = new ServerStopWatch(
        scanner_, HalvoEndings::forThisSession(),
        [notice](const std::vector<PortProcess>& stopped) { notice->send(stopped); }, this);
    stopWatch_->setOn(loadNotifyServerStops(*defaults_));
}

void AppDelegate::setNotifyServerStops(bool on) {
    storeNotifyServerStops(on, *defaults_);
    stopWatch_->setOn(on);
    updateMenu();
}

void AppDelegate::startHotkey() {
    QPointer<AppDelegate> self(this);
    hotkeyManager_ = std::make_unique<HotkeyManager>(
        [self] {
            // Never inside the grab's or the portal's own event handling.
            QTimer::singleShot(0, self.data(), [self] { self->showPanel(); });
        },
        [self](HotkeyRegistrationStatus status) {
            if (self) {
                self->setHotkeyStatus(status);
            }
        });
    hotkeyManager_->registerHotkey();
}

void AppDelegate::setHotkeyStatus(HotkeyRegistrationStatus status) {
    hotkeyStatus_ = status;
    if (appServices_) {
        appServices_->setHotkeySummary(hotkeySummary(status));
    }
    if (!std::exchange(hotkeyReported_, true)) {
        // Not inside registerHotkey(), which start() calls.
        QTimer::singleShot(0, this, &AppDelegate::presentOnboardingIfNeeded);
    } else if (QWidget* welcome = ui::TAVSatelliteWindowPresenter::shared().window(
                   QString::fromStdString(TAVFirstRunGuard::windowId("halvo")))) {
        welcome->findChild<TAVFirstRunOnboardingView*>()->setHighlights(
            halvoHighlights(hotkeyHeld(status)));
    }
    updateMenu();
}

void AppDelegate::startStatusItem() {
    statusItem_ = std::make_unique<QSystemTrayIcon>();
    updateStatusIcon();
    connect(&colorScheme_, &DesktopColorScheme::changed, this, &AppDelegate::updateStatusIcon);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        qWarning(
            "halvo: no system tray on this desktop; open the kill panel with Shift+Super+K "
            "or `halvo --panel`");
    }

    QMenu* menu = statusMenu_.menu();
    connect(menu, &QMenu::aboutToShow, this, [this] {
        rebuildMenu();
        // The list is empty after the panel closes; show what listens now.
        store_->refresh();
    });
    rebuildMenu();
    statusItem_->setContextMenu(menu);
    // A left click opens the menu where the pointer is; a Wayland client
    // cannot know where that is, so there it opens the panel.
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this,
            [this, menu](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger || menu->isVisible()) {
                    return;
                }
                if (QGuiApplication::platformName() == QLatin1String("wayland")) {
                    showPanel();
                } else {
                    menu->popup(QCursor::pos());
                }
            });
    statusItem_->show();
    // Shown, the menu may be exported to the desktop, which reads its texts otherwise.
    updateMenu();
}

void AppDelegate::showPanel(const QString& activationToken) {
    if (!activationToken.isEmpty()) {
        // Read by the Wayland platform when the window next asks to be activated.
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    }
    HalvoKillCoordinator::shared().showPanel();
}

void AppDelegate::updateMenu() {
    if (!std::exchange(menuUpdatePending_, true)) {
        QMetaObject::invokeMethod(this, &AppDelegate::rebuildMenu, Qt::QueuedConnection);
    }
}

void AppDelegate::rebuildMenu() {
    menuUpdatePending_ = false;
    statusMenu_.rebuild(StatusMenuState{
        .processes = store_->processes(),
        // The mode kills use: it stays right when the settings cannot be written.
        .killMode = store_->killMode(),
        .killProcessTree = store_->killProcessTree(),
        .killThroughSupervisor = store_->killThroughSupervisor(),
        .notifyServerStops = stopWatch_ != nullptr && stopWatch_->isOn(),
        .recentKills = loadRecentKills(*defaults_),
        .services = services_.get(),
    });
}

void AppDelegate::updateStatusIcon() {
    if (!statusItem_) {
        return;
    }
    const bool updateAvailable = services_ != nullptr && services_->pendingUpdateVersion();
    statusItem_->setIcon(
        statusImage(updateAvailable, trayInk(colorScheme_.current(), desktopText_)));
    // The item's description, which trays show as its tool tip.
    statusItem_->setToolTip(updateAvailable ? QStringLiteral("Halvo, update available")
                                            : QStringLiteral("Halvo"));
}

void AppDelegate::setKillMode(KillMode mode) {
    storeKillMode(mode, *defaults_);
    store_->setKillMode(mode);
    updateMenu();
}

QCoro::Task<> AppDelegate::refreshMenu() {
    QPointer<AppDelegate> self(this);
    auto reloading = store_->reload();
    co_await reloading;
    if (self) {
        updateMenu();
    }
}

QCoro::Task<> AppDelegate::killListeningPort(PortProcess record) {
    QPointer<AppDelegate> self(this);
    auto killing = store_->kill(record);
    // The kill's own answer, not the feedback: that may still hold an earlier kill's success.
    const bool killed = co_await killing;
    if (!self) {
        co_return;
    }
    if (killed) {
        recordRecentKill(record.port, record.pid, record.executableName, *defaults_);
    }
    updateMenu();
}

QCoro::Task<> AppDelegate::openRecentKill(int64_t port) {
    QPointer<AppDelegate> self(this);
    showPanel();
    auto reloading = store_->reload();
    co_await reloading;
    if (!self) {
        co_return;
    }
    const std::vector<PortProcess>& visible = store_->filteredProcesses();
    const auto found = std::find_if(visible.begin(), visible.end(),
                                    [port](const PortProcess& p) { return p.port == port; });
    if (found != visible.end()) {
        store_->setSelectedIndex(static_cast<int>(found - visible.begin()));
    } else {
        store_->setFeedback(feedback::Failure{"No process on :" + std::to_string(port)});
    }
    updateMenu();
}

void AppDelegate::presentOnboardingIfNeeded() {
    TAVFirstRunOnboarding::presentIfNeeded(
        TAVFirstRunOnboarding{
            .slug = QStringLiteral("halvo"),
            .displayName = QStringLiteral("Halvo"),
            .kind = TAVFirstRunOnboarding::Kind::tray,
            .primaryActionLabel = QStringLiteral("Open kill panel"),
            .highlights = halvoHighlights(hotkeyHeld(hotkeyStatus_)),
            .onPrimaryAction = [this] { showPanel(); },
        },
        *defaults_, TAVLaunchAtLoginToggle::forCurrentUser(),
        ui::TAVSatelliteWindowPresenter::shared());
}

}  // namespace halvo
