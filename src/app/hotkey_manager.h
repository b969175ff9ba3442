// The global shortcut Shift+Super+K, which opens the kill panel from any
// application. The manager knows nothing of the panel: it calls `action`.
//
// Mechanisms, tried once at start-up in this order, never switched later:
// the XDG desktop portal's GlobalShortcuts (the user consents; Wayland), then
// a key grab on the X11 root window when the session is X11. A keyboard remap
// on X11 redoes the grab.
#pragma once

#include <QDBusConnection>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace halvo {

class PortalGlobalShortcut;
class X11KeyGrab;

enum class HotkeyRegistrationStatus {
    portal,              // the portal holds the shortcut
    x11Grab,             // the root-window grab holds it
    permissionRequired,  // the user refused the portal's binding, or it closed the session
    unanswered,          // the portal has not answered in time (a consent dialog left open)
    failed,              // no mechanism holds it (also the status before registering)
};

// Whether Shift+Super+K opens the panel under `status`.
bool hotkeyHeld(HotkeyRegistrationStatus status);
// The diagnostics report's words for `status`: the mechanism that holds the
// key, or why none does and, on a second line, how to bind `halvo --panel`.
std::string hotkeySummary(HotkeyRegistrationStatus status);

class HotkeyManager final {
  public:
    using Action = std::function<void()>;
    using StatusChanged = std::function<void(HotkeyRegistrationStatus)>;

    // `bus` is where the portal is asked: the session bus in the application.
    // A portal silent for `portalBound` is reported as unanswered.
    HotkeyManager(Action action, StatusChanged statusChanged,
                  QDBusConnection bus = QDBusConnection::sessionBus(),
                  std::chrono::milliseconds portalBound = std::chrono::seconds(5));
    ~HotkeyManager();
    HotkeyManager(const HotkeyManager&) = delete;
    HotkeyManager& operator=(const HotkeyManager&) = delete;

    // Starts registering; called once. The status arrives through `statusChanged`: at once
    // when no portal is reachable, else when the portal answers (it may first
    // ask the user), as unanswered first when that takes longer than the
    // bound, and again as permissionRequired if the portal later closes the
    // session.
    void registerHotkey();

  private:
    void grabOnX11();

    Action action_;
    StatusChanged statusChanged_;
    QDBusConnection bus_;
    std::unique_ptr<PortalGlobalShortcut> portal_;
    QTimer portalBound_;
    std::unique_ptr<X11KeyGrab> keyGrab_;
};

}  // namespace halvo
