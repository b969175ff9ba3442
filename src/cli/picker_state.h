// The terminal picker without a terminal: the rows of the last scan, the
// query matched as the user types, the highlighted row and the scroll
// position, the ticks, the kill mode and the last feedback. Keys move it from
// one state to the next; the caller does what a key asks for (kill, rescan,
// quit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kill/kill_batch.h"
#include "kill/kill_sequence.h"
#include "scan/port_scanner.h"

namespace halvo {

// A key as ncurses' wget_wch reports it: a function key (KEY_UP, KEY_RESIZE,
// ...) or a character, control characters included.
struct TerminalKey {
    bool function = false;
    uint32_t code = 0;
};

// What a key asks of the caller beyond a redraw.
enum class PickerCommand { none, kill, rescan, quit };

struct PickerFeedback {
    std::string text;  // terminal-safe
    bool failed = false;
};

class Picker final {
  public:
    explicit Picker(KillMode mode = KillMode::graceful) : mode_(mode) {}

    // A new scan. The highlight stays on its process and port while rows
    // around it come and go; ticks of rows that are gone are dropped.
    void setScan(PortScan scan);
    // How many rows the list shows at once; keeps the highlight in view.
    void setPageHeight(size_t rows);
    PickerCommand press(TerminalKey key);
    // What Enter ends: the ticked rows, or the highlighted one when none is.
    std::vector<KillGroup> killTargets() const;
    // The outcome of a kill of killTargets(): its feedback, ticks cleared.
    void showReport(const KillReport& report);

    const std::vector<PortProcess>& rows() const { return scan_.processes; }
    // The listeners of the scan that are no rows, for a port no row shows.
    const PortScan& scan() const { return scan_; }
    const std::string& query() const { return query_; }
    // Indices into rows() of the rows the query shows, in the order shown.
    const std::vector<size_t>& shown() const { return shown_; }
    // Index into shown() of the highlight, and of the first row in view.
    size_t highlighted() const { return highlighted_; }
    size_t top() const { return top_; }
    bool isTicked(const PortProcess& row) const { return ticked_.contains(row.id()); }
    size_t tickedCount() const { return ticked_.size(); }
    KillMode mode() const { return mode_; }
    bool tree() const { return tree_; }
    const std::optional<PickerFeedback>& feedback() const { return feedback_; }

  private:
    void editQuery(std::string query);
    void moveTo(int64_t index);
    void scrollToHighlight();

    PortScan scan_;
    std::vector<std::string> texts_;  // canonicalSearchTexts(rows())
    std::string query_;
    std::vector<size_t> shown_;
    size_t highlighted_ = 0;
    size_t top_ = 0;
    size_t page_ = 1;
    std::set<std::string> ticked_;
    KillMode mode_;
    bool tree_ = false;
    std::optional<PickerFeedback> feedback_;
};

}  // namespace halvo
