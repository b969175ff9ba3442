// The global shortcut Shift+Super+K, which opens the kill panel from any
// application. The manager knows nothing of the panel: it calls `action`.
//
// Mechanisms, tried once at start-up in this order, never switched later:
// the XDG desktop portal's GlobalShortcuts (the user consents; Wayland), then
// a key grab on the X11 root window when the session is X11.
#pragma once

#include <QDBusConnection>

#include <functional>
#include <memory>

namespace halvo {

class PortalGlobalShortcut;
class X11KeyGrab;

enum class HotkeyRegistrationStatus {
    portal,              // the portal holds the shortcut
    x11Grab,             // the root-window grab holds it
    permissionRequired,  // the user refused the portal's binding, or it closed the session
    failed,              // no mechanism holds it (also the status before registering)
};

class HotkeyManager final {
  public:
    using Action = std::function<void()>;
    using StatusChanged = std::function<void(HotkeyRegistrationStatus)>;

    // `bus` is where the portal is asked: the session bus in the application.
    HotkeyManager(Action action, StatusChanged statusChanged,
                  QDBusConnection bus = QDBusConnection::sessionBus());
    ~HotkeyManager();
    HotkeyManager(const HotkeyManager&) = delete;
    HotkeyManager& operator=(const HotkeyManager&) = delete;

    // Starts registering; called once. The status arrives through `statusChanged`: at once
    // when no portal is reachable, else when the portal answers (it may first
    // ask the user), and again as permissionRequired if the portal later
    // closes the session.
    void registerHotkey();

  private:
    void grabOnX11();

    Action action_;
    StatusChanged statusChanged_;
    QDBusConnection bus_;
    std::unique_ptr<PortalGlobalShortcut> portal_;
    std::unique_ptr<X11KeyGrab> keyGrab_;
};

}  // namespace halvo
