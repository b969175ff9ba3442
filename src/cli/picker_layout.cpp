#include "cli/picker_layout.h"

#include <algorithm>
#include <array>

#include "cli/terminal_text.h"
#include "kill/foreign_listeners.h"
#include "kill/search_filter.h"

namespace halvo {
namespace {

// Query, column titles, then the list; the feedback and the keys below it.
constexpr size_t kLinesAbove = 2;
constexpr size_t kLinesBelow = 2;

enum Column { port, process, project, badge, pid, path, columnCount };
using Cells = std::array<std::string, columnCount>;
// Beyond these the path, which says most, would be squeezed out.
constexpr std::array<size_t, columnCount> kMaxWidths{5, 18, 20, 8, 7, 0};

std::string trimmedOrDash(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return "\u2014";
    }
    return terminalSafe(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

Cells cellsOf(const PortProcess& p) {
    // A container's executable is not on this machine; what it runs says more.
    return {std::to_string(p.port),
            terminalSafe(p.executableName),
            trimmedOrDash(p.projectLabel()),
            p.frameworkBadge ? std::string(rawValue(*p.frameworkBadge)) : "",
            p.isContainer() ? "\u2014" : std::to_string(p.pid),
            trimmedOrDash(p.isContainer() ? p.commandLine() : p.executablePath)};
}

std::string padded(const std::string& text, size_t width) {
    const size_t used = displayWidth(text);
    return used >= width ? text : text + std::string(width - used, ' ');
}

std::string lineOf(const std::string& mark, const Cells& cells,
                   const std::array<size_t, columnCount>& widths, size_t width) {
    std::string line = mark;
    for (size_t i = 0; i + 1 < columnCount; ++i) {
        line += padded(cutToWidth(cells[i], widths[i]), widths[i]) + "  ";
    }
    const size_t used = displayWidth(line);
    line += cutMiddleToWidth(cells[path], width > used ? width - used : 0);
    return cutToWidth(line, width);
}

std::string footerText(const Picker& picker) {
    return std::string("Mode: ") + (picker.mode() == KillMode::force ? "force" : "graceful") +
           " (Tab) \u00b7 Process tree: " + (picker.tree() ? "on" : "off") +
           " (^T) \u00b7 Enter end \u00b7 Space tick \u00b7 ^R rescan \u00b7 Esc quit";
}

}  // namespace

size_t pickerPageHeight(size_t height) {
    return height > kLinesAbove + kLinesBelow ? height - kLinesAbove - kLinesBelow : 1;
}

std::string cutMiddleToWidth(std::string_view text, size_t width) {
    if (displayWidth(text) <= width || width < 3) {
        return cutToWidth(text, width);
    }
    const size_t tailWidth = (width - 1) / 2;
    std::string head = cutToWidth(text, width - tailWidth);  // ends in the ellipsis
    size_t start = text.size();
    size_t used = 0;
    while (start > 0) {
        size_t begin = start - 1;
        while (begin > 0 && (static_cast<unsigned char>(text[begin]) & 0xC0) == 0x80) {
            --begin;
        }
        const size_t w = displayWidth(text.substr(begin, start - begin));
        if (used + w > tailWidth) {
            break;
        }
        used += w;
        start = begin;
    }
    return head + std::string(text.substr(start));
}

PickerScreen pickerScreen(const Picker& picker, size_t width, size_t height,
                          std::string_view status) {
    PickerScreen screen;
    const auto add = [&](std::string text, LineStyle style) {
        if (screen.lines.size() < height) {
            screen.lines.push_back({cutToWidth(text, width), style});
        }
    };
    const std::string query = terminalSafe(picker.query());
    std::string count =
        std::to_string(picker.shown().size()) + "/" + std::to_string(picker.rows().size());
    if (picker.tickedCount() > 0) {
        count += " \u00b7 " + std::to_string(picker.tickedCount()) + " ticked";
    }
    const size_t left = 2 + displayWidth(query);
    const size_t countWidth = displayWidth(count);
    add("> " + query +
            (left + countWidth + 2 <= width ? std::string(width - left - countWidth, ' ') + count
                                            : ""),
        LineStyle::query);
    screen.cursorColumn = std::min(left, width > 0 ? width - 1 : 0);

    const size_t page = pickerPageHeight(height);
    const size_t end = std::min(picker.shown().size(), picker.top() + page);
    std::vector<Cells> cells;
    std::array<size_t, columnCount> widths{};
    const Cells titles{"PORT", "PROCESS", "PROJECT", "BADGE", "PID", "PATH"};
    for (size_t i = 0; i < columnCount; ++i) {
        widths[i] = displayWidth(titles[i]);
    }
    for (size_t i = picker.top(); i < end; ++i) {
        cells.push_back(cellsOf(picker.rows()[picker.shown()[i]]));
        for (size_t c = 0; c + 1 < columnCount; ++c) {
            widths[c] = std::min(std::max(widths[c], displayWidth(cells.back()[c])), kMaxWidths[c]);
        }
    }
    add(lineOf("    ", titles, widths, width), LineStyle::header);
    for (size_t i = picker.top(); i < end; ++i) {
        const bool ticked = picker.isTicked(picker.rows()[picker.shown()[i]]);
        add(lineOf(ticked ? "[x] " : "[ ] ", cells[i - picker.top()], widths, width),
            i == picker.highlighted() ? LineStyle::highlighted
            : ticked                  ? LineStyle::ticked
                                      : LineStyle::row);
    }
    if (picker.shown().empty()) {
        const bool blank = normalizeQuery(picker.query()).empty();
        add(blank ? "Nothing listening right now." : "No matching ports.", LineStyle::note);
        // A port that is taken is never left looking free: whose it is, yours first.
        std::vector<std::string> held;
        if (!blank) {
            for (const LsofRow& row :
                 hiddenListenersMatching(picker.scan().notDevelopment, picker.query())) {
                held.push_back(notDevelopmentText(row));
            }
            for (const ForeignListener& listener :
                 foreignListenersMatching(picker.scan().foreign, picker.query())) {
                held.push_back(heldByOthersText(listener));
            }
        }
        for (size_t i = 0; i < held.size() && screen.lines.size() + kLinesBelow < height; ++i) {
            add(terminalSafe(held[i]), LineStyle::note);
        }
    }
    while (screen.lines.size() + kLinesBelow < height) {
        add("", LineStyle::row);
    }
    const std::optional<PickerFeedback>& feedback = picker.feedback();
    if (!status.empty()) {
        add(std::string(status), LineStyle::feedback);
    } else {
        add(feedback ? feedback->text : "",
            feedback && feedback->failed ? LineStyle::failure : LineStyle::feedback);
    }
    add(footerText(picker), LineStyle::footer);
    return screen;
}

}  // namespace halvo
