// Shift+Super+K through a passive key grab on the X11 root window: no
// permission is asked, and the X server sends this client nothing but the
// grabbed combination and keyboard remaps, so other key presses cost nothing
// here. A remap may move the lock keys to other modifiers: it redoes the grab.
#pragma once

#include <QSocketNotifier>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct xcb_connection_t;

namespace halvo {

// Whether the desktop session is X11, where a root-window grab sees every key
// press; under Wayland an X server only sees keys meant for X clients.
bool isX11Session();

enum class X11GrabError {
    noDisplay,    // no X server to connect to
    alreadyHeld,  // another client holds the combination (BadAccess)
    refused,      // the server refused the grab otherwise
};

class X11KeyGrab final {
  public:
    // evdev KEY_K + 8: the K key position whatever the layout prints on it.
    static constexpr uint8_t kKeycode = 45;

    // Connects to `display` ($DISPLAY when null) and grabs Shift+Super+K under
    // every combination of NumLock, CapsLock and ScrollLock; all or nothing.
    static std::unique_ptr<X11KeyGrab> grab(std::function<void()> pressed, X11GrabError& error,
                                            const char* display = nullptr);
    ~X11KeyGrab();
    X11KeyGrab(const X11KeyGrab&) = delete;
    X11KeyGrab& operator=(const X11KeyGrab&) = delete;

  private:
    X11KeyGrab(xcb_connection_t* connection, uint32_t root, std::function<void()> pressed);
    bool grabAll(X11GrabError& error);
    void releaseAll();
    void readEvents();

    xcb_connection_t* connection_;
    uint32_t root_;
    std::function<void()> pressed_;
    std::vector<uint16_t> grabbed_;  // modifier sets to release
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace halvo
