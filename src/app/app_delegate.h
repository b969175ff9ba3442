// The root of the running tray application. It builds every long-lived object
// once, in the start-up order, owns them for the whole run and is the target
// of every menu row. Main thread only.
#pragma once

#include <QColor>
#include <QCoro/QCoroTask>
#include <QObject>
#include <QSystemTrayIcon>

#include <cstdint>
#include <memory>

#include "app/desktop_color_scheme.h"
#include "app/hotkey_manager.h"
#include "app/status_menu.h"
#include "kill/process_killing.h"
#include "scan/port_scanner.h"
#include "ui/window_presenter.h"

namespace halvo {

class AppServices;
class ProcessStore;
class ServerStopWatch;
class SettingsDefaultsStore;

class AppDelegate final : public QObject {
    Q_OBJECT
  public:
    // `desktopText` draws the tray icon where the desktop states no light or
    // dark preference: its own text colour, which its panel is made to carry
    // (a tray tints nothing itself).
    AppDelegate(std::shared_ptr<PortScanning> scanner, std::shared_ptr<ProcessKilling> killEngine,
                QColor desktopText, QObject* parent = nullptr);
    ~AppDelegate() override;

    // Builds the application services (the run goes on without them when they
    // cannot be built), the store, the hotkey, the tray icon and its menu, and
    // starts the first scan; the onboarding follows once the hotkey's status
    // is known, whose words depend on it.
    void start();

    // Shows the kill panel; `activationToken` (from a launcher) lets a
    // Wayland compositor raise it.
    void showPanel(const QString& activationToken = QString());

    HotkeyRegistrationStatus hotkeyStatus() const { return hotkeyStatus_; }

  private:
    // The parts of start(), in its order.
    void startServices();
    void startStore();
    void startHotkey();
    void setHotkeyStatus(HotkeyRegistrationStatus status);
    void startStatusItem();
    // The watch for servers that stop on their own, on as the settings say.
    void startStopWatch();
    void setNotifyServerStops(bool on);
    // Rebuilds the menu once the current event is handled; several changes in
    // a row rebuild it once.
    void updateMenu();
    void rebuildMenu();
    void updateStatusIcon();
    void setKillMode(KillMode mode);
    QCoro::Task<> refreshMenu();
    QCoro::Task<> killListeningPort(PortProcess record);
    QCoro::Task<> openRecentKill(int64_t port);
    void presentOnboardingIfNeeded();

    std::shared_ptr<PortScanning> scanner_;
    std::shared_ptr<ProcessKilling> killEngine_;
    QColor desktopText_;
    DesktopColorScheme colorScheme_;
    std::shared_ptr<SettingsDefaultsStore> defaults_;
    // The about and support windows' own presenter.
    ui::TAVSatelliteWindowPresenter presenter_;
    // After what they reference, so that they go first.
    std::unique_ptr<AppServices> appServices_;
    std::unique_ptr<AppServicesOffering> services_;  // null without them: their rows stay out
    std::unique_ptr<ProcessStore> store_;
    std::unique_ptr<HotkeyManager> hotkeyManager_;
    ServerStopWatch* stopWatch_ = nullptr;  // a child of this
    HotkeyRegistrationStatus hotkeyStatus_ = HotkeyRegistrationStatus::failed;
    bool hotkeyReported_ = false;
    StatusMenu statusMenu_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    bool menuUpdatePending_ = false;
};

}  // namespace halvo
