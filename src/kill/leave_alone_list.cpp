#include "kill/leave_alone_list.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>

#include "base/error_text.h"
#include "base/file_reading.h"
#include "base/file_writing.h"
#include "base/text.h"

namespace halvo {
namespace {

constexpr int64_t kLastPort = 65535;

std::optional<int64_t> portNumber(std::string_view text, std::string& why) {
    const std::optional<uint64_t> n = parseUint64(text);
    if (!n || *n < 1 || *n > kLastPort) {
        why = std::string(text.empty() ? "a missing number" : text) + " is not a port (1-65535)";
        return std::nullopt;
    }
    return static_cast<int64_t>(*n);
}

std::optional<PortRange> portRange(std::string_view text, std::string& why) {
    size_t split = text.find("..");
    size_t width = 2;
    if (split == std::string_view::npos) {
        split = text.find('-');
        width = 1;
    }
    const auto first = portNumber(text.substr(0, split), why);
    if (!first) {
        return std::nullopt;
    }
    if (split == std::string_view::npos) {
        return PortRange{*first, *first};
    }
    const auto last = portNumber(text.substr(split + width), why);
    if (!last) {
        return std::nullopt;
    }
    if (*last < *first) {
        why = std::string(text) + " ends before it starts";
        return std::nullopt;
    }
    return PortRange{*first, *last};
}

// The entry of one line, comment and surrounding white space removed: nothing
// for a blank line, else the entry or why the line is none.
std::optional<std::optional<LeaveAloneEntry>> lineEntry(std::string_view line, std::string& why) {
    line = trimWhiteSpace(line.substr(0, line.find('#')));
    if (line.empty()) {
        return std::nullopt;
    }
    return parseLeaveAloneEntry(line, &why);
}

// The file's text; empty when there is none yet. Nothing, with `why`, when it
// exists and cannot be read.
std::optional<std::string> currentText(const std::string& path, std::string& why) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOENT) {
            return std::string();
        }
        why = "cannot read " + path + ": " + errorText(errno);
        return std::nullopt;
    }
    std::optional<std::string> text = readAll(std::move(fd));
    if (!text) {
        why = "cannot read " + path;
    }
    return text;
}

// Replaces the file at once: a reader never sees half of it, and the tray and
// halvo-cli writing at the same moment never share a temporary.
std::optional<std::string> replaceFile(const std::string& path, const std::string& text) {
    if (auto why = replaceFileAtomically(path, text)) {
        return "cannot write " + path + ": " + *why;
    }
    return std::nullopt;
}

}  // namespace

std::string LeaveAloneEntry::text() const {
    if (!ports) {
        return name;
    }
    std::string text = std::to_string(ports->first);
    if (ports->last != ports->first) {
        text += '-' + std::to_string(ports->last);
    }
    return text;
}

std::optional<LeaveAloneEntry> parseLeaveAloneEntry(std::string_view word, std::string* why) {
    std::string ignored;
    std::string& reason = why ? *why : ignored;
    if (word.empty()) {
        reason = "an empty entry";
        return std::nullopt;
    }
    if (std::any_of(word.begin(), word.end(), [](char c) { return c == ' ' || c == '\t'; })) {
        reason = std::string(word) + ": one port, range or process name a line";
        return std::nullopt;
    }
    if (word.front() == ':' || (word.front() >= '0' && word.front() <= '9')) {
        const auto range = portRange(word.front() == ':' ? word.substr(1) : word, reason);
        return range ? std::optional(LeaveAloneEntry{range, {}}) : std::nullopt;
    }
    return LeaveAloneEntry{std::nullopt, std::string(word)};
}

LeaveAloneList LeaveAloneList::parse(std::string_view text) {
    LeaveAloneList list;
    size_t number = 0;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        ++number;
        std::string why;
        if (auto entry = lineEntry(text.substr(start, end - start), why)) {
            if (!*entry) {
                list.problems_.push_back("line " + std::to_string(number) + ": " + why);
            } else if (std::none_of(list.entries_.begin(), list.entries_.end(),
                                    [&](const auto& e) { return e == **entry; })) {
                if ((*entry)->ports) {
                    list.ports_.add(*(*entry)->ports);
                }
                list.entries_.push_back(std::move(**entry));
            }
        }
        start = end + 1;
    }
    return list;
}

std::optional<LeaveAloneEntry> LeaveAloneList::entryCovering(const PortProcess& row) const {
    // Most rows are on no listed port: the set says so without a walk.
    const bool portCovered = ports_.contains(row.port);
    for (const LeaveAloneEntry& entry : entries_) {
        const bool covers =
            entry.ports
                ? portCovered && entry.ports->first <= row.port && row.port <= entry.ports->last
                : entry.name == row.executableName ||
                      (row.dockerContext && entry.name == row.dockerContext->containerName);
        if (covers) {
            return entry;
        }
    }
    return std::nullopt;
}

std::vector<LeftAloneRow> takeLeftAlone(std::vector<PortProcess>& rows,
                                        const LeaveAloneList& list) {
    if (list.entries().empty()) {
        return {};
    }
    // PID -> the entry that covers one of its rows; container rows go alone.
    std::map<int32_t, LeaveAloneEntry> processes;
    for (const PortProcess& row : rows) {
        if (row.pid != 0 && !processes.contains(row.pid)) {
            if (auto entry = list.entryCovering(row)) {
                processes.emplace(row.pid, std::move(*entry));
            }
        }
    }
    std::vector<LeftAloneRow> left;
    std::erase_if(rows, [&](const PortProcess& row) {
        std::optional<LeaveAloneEntry> entry;
        if (auto found = processes.find(row.pid); row.pid != 0 && found != processes.end()) {
            entry = found->second;
        } else if (row.pid == 0) {
            entry = list.entryCovering(row);
        }
        if (entry) {
            left.push_back({row, std::move(*entry)});
        }
        return entry.has_value();
    });
    return left;
}

std::string leftAloneRefusal(const LeftAloneRow& left) {
    return "Port " + std::to_string(left.row.port) +
           " is on your leave-alone list; halvo-cli unignore " + left.entry.text() + " to end it";
}

std::string leftAloneText(const LeftAloneRow& left) {
    const std::string owner =
        left.row.isContainer()
            ? "container " + *left.row.dockerContext->containerName
            : left.row.executableName + " (PID " + std::to_string(left.row.pid) + ")";
    return "Port " + std::to_string(left.row.port) + " is held by your " + owner +
           ", on your leave-alone list";
}

std::optional<std::string> leaveAloneListPath(const char* xdgConfigHome, const char* home) {
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        return std::string(xdgConfigHome) + "/halvo/leave-alone";
    }
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.config/halvo/leave-alone";
    }
    return std::nullopt;
}

std::optional<std::string> leaveAloneListPath() {
    return leaveAloneListPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

LeaveAloneList loadLeaveAloneList(const std::string& path) {
    std::string why;
    const std::optional<std::string> text = currentText(path, why);
    if (!text) {
        return LeaveAloneList::unreadable(std::move(why));
    }
    return LeaveAloneList::parse(*text);
}

LeaveAloneList usersLeaveAloneList() {
    const std::optional<std::string> path = leaveAloneListPath();
    return path ? loadLeaveAloneList(*path) : LeaveAloneList();
}

std::optional<std::string> addToLeaveAloneList(const std::string& path,
                                               const std::vector<LeaveAloneEntry>& entries) {
    std::string why;
    std::optional<std::string> text = currentText(path, why);
    if (!text) {
        return why;
    }
    std::vector<LeaveAloneEntry> listed = LeaveAloneList::parse(*text).entries();
    const size_t before = text->size();
    for (const LeaveAloneEntry& entry : entries) {
        if (std::find(listed.begin(), listed.end(), entry) != listed.end()) {
            continue;
        }
        if (!text->empty() && text->back() != '\n') {
            *text += '\n';
        }
        *text += entry.text() + '\n';
        listed.push_back(entry);
    }
    return text->size() == before ? std::nullopt : replaceFile(path, *text);
}

std::optional<std::string> removeFromLeaveAloneList(const std::string& path,
                                                    const std::vector<LeaveAloneEntry>& entries,
                                                    std::vector<LeaveAloneEntry>& missing) {
    std::string why;
    const std::optional<std::string> text = currentText(path, why);
    if (!text) {
        return why;
    }
    std::vector<bool> found(entries.size(), false);
    bool changed = false;
    std::string kept;
    for (size_t start = 0; start < text->size();) {
        const size_t end = std::min(text->find('\n', start), text->size());
        const std::string_view line = std::string_view(*text).substr(start, end - start);
        bool removed = false;
        std::string ignored;
        if (auto entry = lineEntry(line, ignored); entry && *entry) {
            for (size_t i = 0; i < entries.size(); ++i) {
                if (entries[i] == **entry) {
                    found[i] = removed = true;
                }
            }
        }
        changed = changed || removed;
        if (!removed) {
            kept.append(line).append("\n");
        }
        start = end + 1;
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!found[i]) {
            missing.push_back(entries[i]);
        }
    }
    return changed ? replaceFile(path, kept) : std::nullopt;
}

}  // namespace halvo
