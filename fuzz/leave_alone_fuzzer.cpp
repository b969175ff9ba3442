// The leave-alone file, whatever the user wrote in it: each problem names a
// line the text has, each entry is a port range within 1-65535 or a name, and
// the list as halvo-cli writes it back reads as the same entries.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"
#include "check.h"
#include "kill/leave_alone_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const halvo::LeaveAloneList list = halvo::LeaveAloneList::parse(text);
    const auto lines = static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    for (const std::string& problem : list.problems()) {
        FUZZ_CHECK(problem.starts_with("line "));
        const auto number = halvo::parseUint64(problem.substr(5, problem.find(':') - 5));
        FUZZ_CHECK(number && *number >= 1 && *number <= lines);
    }

    std::string written;
    for (const halvo::LeaveAloneEntry& entry : list.entries()) {
        if (entry.ports) {
            FUZZ_CHECK(1 <= entry.ports->first && entry.ports->first <= entry.ports->last &&
                       entry.ports->last <= 65535);
        } else {
            FUZZ_CHECK(!entry.name.empty() && text.find(entry.name) != std::string::npos);
        }
        FUZZ_CHECK(halvo::parseLeaveAloneEntry(entry.text()) == entry);
        written += entry.text() + '\n';
    }
    const halvo::LeaveAloneList again = halvo::LeaveAloneList::parse(written);
    FUZZ_CHECK(again.entries() == list.entries() && again.problems().empty());

    // A word given on the command line: an entry or a reason, never both.
    std::string why;
    const auto entry = halvo::parseLeaveAloneEntry(text, &why);
    FUZZ_CHECK(entry.has_value() == why.empty());
    return 0;
}
