#include "app/hotkey_manager.h"

#include <QDebug>
#include <QObject>

#include "app/portal_global_shortcut.h"
#include "app/x11_key_grab.h"

namespace halvo {

namespace {
// On a line of its own, short enough for the about window's report.
constexpr char kBindHint[] = "\n  bind `halvo --panel` to a key in the keyboard settings";
}  // namespace

bool hotkeyHeld(HotkeyRegistrationStatus status) {
    return status == HotkeyRegistrationStatus::portal ||
           status == HotkeyRegistrationStatus::x11Grab;
}

std::string hotkeySummary(HotkeyRegistrationStatus status) {
    switch (status) {
        case HotkeyRegistrationStatus::portal:
            return "Shift+Super+K (desktop portal)";
        case HotkeyRegistrationStatus::x11Grab:
            return "Shift+Super+K (X11 key grab)";
        case HotkeyRegistrationStatus::permissionRequired:
            return std::string("off (the desktop portal's binding was refused)") + kBindHint;
        case HotkeyRegistrationStatus::unanswered:
            return std::string("off (the desktop portal has not answered)") + kBindHint;
        case HotkeyRegistrationStatus::failed:
            break;
    }
    return std::string("off (neither the desktop portal nor X11 took it)") + kBindHint;
}

HotkeyManager::HotkeyManager(Action action, StatusChanged statusChanged, QDBusConnection bus,
                             std::chrono::milliseconds portalBound)
    : action_(std::move(action)), statusChanged_(std::move(statusChanged)), bus_(std::move(bus)) {
    portalBound_.setSingleShot(true);
    portalBound_.setInterval(portalBound);
    QObject::connect(&portalBound_, &QTimer::timeout,
                     [this] { statusChanged_(HotkeyRegistrationStatus::unanswered); });
}

HotkeyManager::~HotkeyManager() = default;

void HotkeyManager::registerHotkey() {
    portal_ = std::make_unique<PortalGlobalShortcut>(
        bus_, QStringLiteral("com.tavlabs.halvo"),
        PortalGlobalShortcut::Shortcut{QStringLiteral("open-kill-panel"),
                                       QStringLiteral("Open the Halvo kill panel"),
                                       QStringLiteral("SHIFT+LOGO+k")});
    PortalGlobalShortcut* portal = portal_.get();
    QObject::connect(portal, &PortalGlobalShortcut::activated, [this] { action_(); });
    QObject::connect(portal, &PortalGlobalShortcut::sessionClosed,
                     [this] { statusChanged_(HotkeyRegistrationStatus::permissionRequired); });
    QObject::connect(
        portal, &PortalGlobalShortcut::finished, [this](PortalGlobalShortcut::Outcome outcome) {
            // A late answer is taken all the same.
            portalBound_.stop();
            switch (outcome) {
                case PortalGlobalShortcut::Outcome::bound:
                    statusChanged_(HotkeyRegistrationStatus::portal);
                    break;
                case PortalGlobalShortcut::Outcome::declined:
                    // Grabbing the key anyway would overrule the user.
                    statusChanged_(HotkeyRegistrationStatus::permissionRequired);
                    break;
                case PortalGlobalShortcut::Outcome::unavailable:
                    // A session the portal made before failing is not ours
                    // to watch; the portal object closes it when it goes.
                    QObject::disconnect(portal_.get(), &PortalGlobalShortcut::sessionClosed,
                                        nullptr, nullptr);
                    grabOnX11();
                    break;
            }
        });
    portalBound_.start();
    portal->bind();
}

void HotkeyManager::grabOnX11() {
    X11GrabError error = X11GrabError::noDisplay;
    if (isX11Session()) {
        keyGrab_ = X11KeyGrab::grab(action_, error);
    }
    if (keyGrab_ == nullptr && error == X11GrabError::alreadyHeld) {
        qWarning("halvo: Shift+Super+K is held by another application; the hotkey is off");
    }
    statusChanged_(keyGrab_ ? HotkeyRegistrationStatus::x11Grab : HotkeyRegistrationStatus::failed);
}

}  // namespace halvo
