#include "cli/picker_state.h"

#define NCURSES_NOMACROS  // erase() and the like would hit the standard library
#include <curses.h>

#include <algorithm>
#include <cctype>

#include "base/text.h"
#include "cli/terminal_text.h"
#include "kill/search_filter.h"

namespace halvo {
namespace {

constexpr uint32_t ctrl(char letter) {
    return static_cast<uint32_t>(letter - 'a' + 1);
}

void dropLastCharacter(std::string& text) {
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
        text.pop_back();  // continuation bytes of a UTF-8 sequence
    }
    if (!text.empty()) {
        text.pop_back();
    }
}

// As a shell's Ctrl+W would, with the separators of port lists ("3000,5173")
// between words too: letters, digits and any non-ASCII character make words.
void dropLastWord(std::string& text) {
    const auto inWord = [](char c) {
        return static_cast<unsigned char>(c) >= 0x80 || std::isalnum(static_cast<unsigned char>(c));
    };
    while (!text.empty() && !inWord(text.back())) {
        text.pop_back();
    }
    while (!text.empty() && inWord(text.back())) {
        text.pop_back();
    }
}

}  // namespace

void Picker::setScan(PortScan scan) {
    std::optional<std::pair<int32_t, int64_t>> kept;
    if (highlighted_ < shown_.size()) {
        const PortProcess& row = rows()[shown_[highlighted_]];
        kept.emplace(row.pid, row.port);
    }
    scan_ = std::move(scan);
    texts_ = canonicalSearchTexts(rows());
    shown_ = matchingRows(rows(), texts_, query_);
    std::set<std::string> present;
    for (const PortProcess& row : rows()) {
        if (ticked_.contains(row.id())) {
            present.insert(row.id());
        }
    }
    ticked_ = std::move(present);
    const auto same = std::find_if(shown_.begin(), shown_.end(), [&](size_t i) {
        return kept && rows()[i].pid == kept->first && rows()[i].port == kept->second;
    });
    moveTo(same == shown_.end() ? static_cast<int64_t>(highlighted_) : same - shown_.begin());
}

void Picker::setPageHeight(size_t rows) {
    page_ = std::max<size_t>(rows, 1);
    scrollToHighlight();
}

void Picker::editQuery(std::string query) {
    if (query == query_) {
        return;
    }
    query_ = std::move(query);
    shown_ = matchingRows(rows(), texts_, query_);
    // The best match is the first: a new query starts from the top.
    top_ = 0;
    moveTo(0);
}

void Picker::moveTo(int64_t index) {
    const auto last = static_cast<int64_t>(shown_.size()) - 1;
    highlighted_ = static_cast<size_t>(std::clamp<int64_t>(index, 0, std::max<int64_t>(last, 0)));
    scrollToHighlight();
}

void Picker::scrollToHighlight() {
    top_ = std::min(top_, shown_.size() > page_ ? shown_.size() - page_ : 0);
    if (highlighted_ < top_) {
        top_ = highlighted_;
    } else if (highlighted_ >= top_ + page_) {
        top_ = highlighted_ - page_ + 1;
    }
}

PickerCommand Picker::press(TerminalKey key) {
    const auto at = static_cast<int64_t>(highlighted_);
    const auto page = static_cast<int64_t>(page_);
    const auto count = static_cast<int64_t>(shown_.size());
    // Up and Down go round, as in the kill panel; the others stop at the ends.
    const auto step = [&](int64_t delta) {
        if (count > 0) {
            moveTo(((at + delta) % count + count) % count);
        }
    };
    if (key.function) {
        switch (key.code) {
            case KEY_UP:
                step(-1);
                break;
            case KEY_DOWN:
                step(1);
                break;
            case KEY_PPAGE:
                moveTo(at - page);
                break;
            case KEY_NPAGE:
                moveTo(at + page);
                break;
            case KEY_HOME:
                moveTo(0);
                break;
            case KEY_END:
                moveTo(count - 1);
                break;
            case KEY_BACKSPACE: {
                std::string query = query_;
                dropLastCharacter(query);
                editQuery(std::move(query));
                break;
            }
            case KEY_ENTER:
                return killTargets().empty() ? PickerCommand::none : PickerCommand::kill;
            default:
                break;
        }
        return PickerCommand::none;
    }
    std::string query = query_;
    switch (key.code) {
        case 0x1B:  // Esc
        case ctrl('c'):
            return PickerCommand::quit;
        case '\r':
        case '\n':
            return killTargets().empty() ? PickerCommand::none : PickerCommand::kill;
        case ctrl('r'):
            return PickerCommand::rescan;
        case ctrl('p'):
            step(-1);
            break;
        case ctrl('n'):
            step(1);
            break;
        case '\t':
            mode_ = mode_ == KillMode::graceful ? KillMode::force : KillMode::graceful;
            break;
        case ctrl('t'):
            tree_ = !tree_;
            break;
        case ' ':
            if (highlighted_ < shown_.size()) {
                const std::string id = rows()[shown_[highlighted_]].id();
                if (!ticked_.erase(id)) {
                    ticked_.insert(id);
                }
            }
            break;
        case 0x7F:
        case ctrl('h'):
            dropLastCharacter(query);
            break;
        case ctrl('u'):
            query.clear();
            break;
        case ctrl('w'):
            dropLastWord(query);
            break;
        default:
            // Other control characters (C0, DEL, C1) edit nothing.
            if (key.code >= 0x20 && !(key.code >= 0x7F && key.code < 0xA0) &&
                key.code <= 0x10FFFF) {
                appendUtf8(query, key.code);
            }
            break;
    }
    editQuery(std::move(query));
    return PickerCommand::none;
}

std::vector<KillGroup> Picker::killTargets() const {
    if (!ticked_.empty()) {
        return killGroups(rows(), ticked_);
    }
    if (highlighted_ >= shown_.size()) {
        return {};
    }
    return killGroups(rows(), {rows()[shown_[highlighted_]].id()});
}

void Picker::showReport(const KillReport& report) {
    ticked_.clear();
    if (report.feedback) {
        feedback_ = PickerFeedback{terminalSafe(feedbackText(*report.feedback)), !report.allEnded};
    }
}

}  // namespace halvo
