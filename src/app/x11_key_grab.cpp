#include "app/x11_key_grab.h"

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QtGlobal>

#include <algorithm>
#include <cstdlib>

namespace halvo {
namespace {

constexpr uint16_t kShiftSuper = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_4;
constexpr uint8_t kBadAccess = 10;

// The modifier bit that a lock key is mapped to in this server's modifier
// map; 0 when the key is absent or maps to none (often so for ScrollLock).
uint16_t modifierOf(xcb_connection_t* connection, xcb_keysym_t keysym) {
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
    xcb_keycode_t* keycodes = xcb_key_symbols_get_keycode(symbols, keysym);
    xcb_key_symbols_free(symbols);
    xcb_get_modifier_mapping_reply_t* map =
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr);
    uint16_t mask = 0;
    if (keycodes != nullptr && map != nullptr) {
        const xcb_keycode_t* mapped = xcb_get_modifier_mapping_keycodes(map);
        const int perModifier = map->keycodes_per_modifier;
        for (int i = 0; i < 8 * perModifier; ++i) {
            for (const xcb_keycode_t* k = keycodes; *k != XCB_NO_SYMBOL; ++k) {
                if (mapped[i] == *k) {
                    mask |= static_cast<uint16_t>(1U << (i / perModifier));
                }
            }
        }
    }
    free(map);
    free(keycodes);
    return mask;
}

}  // namespace

bool isX11Session() {
    if (qgetenv("XDG_SESSION_TYPE") == "wayland" ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        return false;
    }
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}

std::unique_ptr<X11KeyGrab> X11KeyGrab::grab(std::function<void()> pressed, X11GrabError& error,
                                             const char* display) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display, &screenNumber);
    xcb_screen_iterator_t screen{};
    if (!xcb_connection_has_error(connection)) {
        screen = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && screen.rem > 0; ++i) {
            xcb_screen_next(&screen);
        }
    }
    if (screen.rem == 0) {
        xcb_disconnect(connection);
        error = X11GrabError::noDisplay;
        return nullptr;
    }
    std::unique_ptr<X11KeyGrab> grab(
        new X11KeyGrab(connection, screen.data->root, std::move(pressed)));
    if (!grab->grabAll(error)) {
        return nullptr;
    }
    X11KeyGrab* held = grab.get();
    grab->notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection),
                                                        QSocketNotifier::Read);
    QObject::connect(grab->notifier_.get(), &QSocketNotifier::activated,
                     [held] { held->readEvents(); });
    grab->readEvents();  // events read while waiting for the checks are already queued
    return grab;
}

X11KeyGrab::X11KeyGrab(xcb_connection_t* connection, uint32_t root, std::function<void()> pressed)
    : connection_(connection), root_(root), pressed_(std::move(pressed)) {}

X11KeyGrab::~X11KeyGrab() {
    releaseAll();
    xcb_disconnect(connection_);
}

void X11KeyGrab::releaseAll() {
    for (uint16_t modifiers : grabbed_) {
        xcb_ungrab_key(connection_, kKeycode, root_, modifiers);
    }
    grabbed_.clear();
    xcb_flush(connection_);
}

bool X11KeyGrab::grabAll(X11GrabError& error) {
    // The X server matches modifiers exactly, so a lock that is on would hide
    // the combination: grab it under each subset of the lock modifiers.
    const uint16_t locks[] = {modifierOf(connection_, XK_Num_Lock), XCB_MOD_MASK_LOCK,
                              modifierOf(connection_, XK_Scroll_Lock)};
    std::vector<uint16_t> sets;
    for (unsigned subset = 0; subset < 8; ++subset) {
        uint16_t modifiers = kShiftSuper;
        for (unsigned bit = 0; bit < 3; ++bit) {
            modifiers |= (subset & (1U << bit)) ? locks[bit] : 0;
        }
        if (std::find(sets.begin(), sets.end(), modifiers) == sets.end()) {
            sets.push_back(modifiers);
        }
    }
    std::vector<xcb_void_cookie_t> cookies;
    for (uint16_t modifiers : sets) {
        cookies.push_back(xcb_grab_key_checked(connection_, 1, root_, modifiers, kKeycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    error = X11GrabError::refused;
    for (size_t i = 0; i < sets.size(); ++i) {
        if (xcb_generic_error_t* failure = xcb_request_check(connection_, cookies[i])) {
            if (failure->error_code == kBadAccess) {
                error = X11GrabError::alreadyHeld;
            }
            free(failure);
        } else {
            grabbed_.push_back(sets[i]);
        }
    }
    // Short of all, the destructor or the next grab releases the part that was grabbed.
    return grabbed_.size() == sets.size();
}

void X11KeyGrab::readEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const uint8_t type = event->response_type & 0x7f;
        const bool ours = type == XCB_KEY_PRESS &&
                          reinterpret_cast<xcb_key_press_event_t*>(event)->detail == kKeycode;
        free(event);
        if (ours) {
            pressed_();
        } else if (type == XCB_MAPPING_NOTIFY) {
            releaseAll();
            X11GrabError error{};
            if (!grabAll(error)) {
                qWarning("halvo: after a keyboard remap Shift+Super+K could not be grabbed again");
            }
        }
    }
    if (xcb_connection_has_error(connection_)) {
        notifier_->setEnabled(false);  // the server went away: nothing more will come
    }
}

}  // namespace halvo
