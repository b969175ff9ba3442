// The user's leave-alone list: ports, port ranges and process names that no
// query selects for a kill and that the menu, the panel and `list` hide (a
// database or a tunnel that always runs). One plain text file in the user's
// configuration folder, shared by halvo-cli and the tray application and
// edited by hand as well: one entry a line, "#" starts a comment. A line
// that is not an entry is reported and skipped; it never stops the rest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/port_range_set.h"
#include "scan/port_records.h"

namespace halvo {

// One entry: a port range (a single port is a range of one) or a process name.
struct LeaveAloneEntry {
    std::optional<PortRange> ports;
    std::string name;  // when no ports

    // "5432", "5000-5010" or the name: how the entry is written and named.
    std::string text() const;
    bool operator==(const LeaveAloneEntry&) const = default;
};

// "5432", ":5432", "5000-5010" or "5000..5010" is ports; a word that starts
// with neither a digit nor ":" is a process name. Nothing, with `why` set when
// given, for anything else.
std::optional<LeaveAloneEntry> parseLeaveAloneEntry(std::string_view word,
                                                    std::string* why = nullptr);

class LeaveAloneList final {
  public:
    LeaveAloneList() = default;
    // The file's text; each line that is no entry gives one problem.
    static LeaveAloneList parse(std::string_view text);
    // No entries, and the one problem that the file could not be read.
    static LeaveAloneList unreadable(std::string why) {
        LeaveAloneList list;
        list.problems_.push_back(std::move(why));
        return list;
    }

    const std::vector<LeaveAloneEntry>& entries() const { return entries_; }
    // "line 3: 70000 is not a port (1-65535)", in line order.
    const std::vector<std::string>& problems() const { return problems_; }
    // The entry that covers the row, by its port, its executable name or its
    // container's name; the first in file order.
    std::optional<LeaveAloneEntry> entryCovering(const PortProcess& row) const;

    bool operator==(const LeaveAloneList&) const = default;

  private:
    std::vector<LeaveAloneEntry> entries_;
    PortRangeSet ports_;
    std::vector<std::string> problems_;
};

// A row that the list covers, with the entry that does.
struct LeftAloneRow {
    PortProcess row;
    LeaveAloneEntry entry;

    bool operator==(const LeftAloneRow&) const = default;
};

// Moves out of `rows` those the list covers, keeping both in order. A process
// goes whole: ending it for one port would end the port it holds that the
// list covers.
std::vector<LeftAloneRow> takeLeftAlone(std::vector<PortProcess>& rows, const LeaveAloneList& list);

// "Port 5432 is on your leave-alone list; halvo-cli unignore 5432 to end it".
std::string leftAloneRefusal(const LeftAloneRow& left);
// "Port 5432 is held by your postgres (PID 812), on your leave-alone list".
std::string leftAloneText(const LeftAloneRow& left);

// "$XDG_CONFIG_HOME/halvo/leave-alone", with "$HOME/.config" standing in when
// XDG_CONFIG_HOME is unset or not absolute; nothing without either.
std::optional<std::string> leaveAloneListPath(const char* xdgConfigHome, const char* home);
// The same from this process's environment.
std::optional<std::string> leaveAloneListPath();

// The list at `path`; a missing file is an empty list, an unreadable one an
// empty list with one problem.
LeaveAloneList loadLeaveAloneList(const std::string& path);
// The list at leaveAloneListPath(); empty without a configuration folder.
LeaveAloneList usersLeaveAloneList();

// Appends the entries not on the list yet, creating the file and its folder
// as needed; hand-written lines and comments stay. Nothing, or why it failed.
std::optional<std::string> addToLeaveAloneList(const std::string& path,
                                               const std::vector<LeaveAloneEntry>& entries);
// Removes the lines of these entries; `missing` gets those the file does not
// list. Nothing, or why the file could not be rewritten.
std::optional<std::string> removeFromLeaveAloneList(const std::string& path,
                                                    const std::vector<LeaveAloneEntry>& entries,
                                                    std::vector<LeaveAloneEntry>& missing);

}  // namespace halvo
