// The terminal picker's screen as lines of text, before anything is drawn:
// the query, the column titles, the rows in view (port, process, project,
// badge, PID, and the path shortened in the middle to fit), the feedback and
// the keys. Every text from other processes is made terminal-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/picker_state.h"

namespace halvo {

// How a line is drawn; the drawing picks attributes and colours for each.
enum class LineStyle { query, header, row, highlighted, ticked, note, feedback, failure, footer };

struct ScreenLine {
    std::string text;  // at most the screen's width in columns
    LineStyle style = LineStyle::row;
};

struct PickerScreen {
    std::vector<ScreenLine> lines;  // one per terminal line, top to bottom
    size_t cursorColumn = 0;        // after the query, on the first line
};

// The lines the list has on a screen `height` lines high.
size_t pickerPageHeight(size_t height);

// The screen of `picker`; `status`, when not empty, stands in for the feedback
// (while a kill or a scan runs).
PickerScreen pickerScreen(const Picker& picker, size_t width, size_t height,
                          std::string_view status = {});

// The text cut to `width` columns in the middle, "/home/ana/…/bin/node", when
// it is longer.
std::string cutMiddleToWidth(std::string_view text, size_t width);

}  // namespace halvo
