// The terminal the picker draws on, through ncurses: full screen while the
// value lives, and the terminal as it was afterwards, whichever way the
// process ends (a return, an exception, SIGTERM, SIGHUP or a crash).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "cli/picker_layout.h"
#include "cli/picker_state.h"

struct screen;  // ncurses' SCREEN

namespace halvo {

class PickerTerminal final {
  public:
    // Nothing when standard input and output are no terminal ncurses knows.
    static std::unique_ptr<PickerTerminal> open();
    ~PickerTerminal();
    PickerTerminal(const PickerTerminal&) = delete;
    PickerTerminal& operator=(const PickerTerminal&) = delete;

    size_t width() const;
    size_t height() const;
    void draw(const PickerScreen& screen);
    // Blocks for the next key; KEY_RESIZE after a resize. Nothing when the
    // terminal is gone.
    std::optional<TerminalKey> readKey();

  private:
    explicit PickerTerminal(screen* screen) : screen_(screen) {}
    screen* screen_;
    bool colours_ = false;
};

}  // namespace halvo
