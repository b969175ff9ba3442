#include "scan/native_port_discovery.h"

#include <string>

#include "scan/proc_process_table.h"
#include "scan/text.h"

namespace halvo {

NativePortDiscovery::NativePortDiscovery(std::shared_ptr<ProcessTable> table)
    : table_(table ? std::move(table) : std::make_shared<ProcFsProcessTable>()) {}

std::vector<LsofRow> NativePortDiscovery::rows() {
    std::vector<LsofRow> rows;
    const std::unordered_map<uint64_t, int64_t> listening = table_->listeningTcpSockets();
    if (listening.empty()) {
        return rows;  // no descriptor can match: spare the walk over every process
    }
    for (int32_t pid : table_->processIds()) {
        if (pid <= 0) {
            continue;
        }
        std::optional<std::vector<uint64_t>> inodes = table_->socketInodes(pid);
        if (!inodes) {
            continue;
        }
        // Read lazily: most processes hold no listener, and their names are never needed.
        std::optional<std::string> name;
        for (uint64_t inode : *inodes) {
            auto socket = listening.find(inode);
            if (socket == listening.end() || socket->second == 0) {
                continue;
            }
            if (!name) {
                std::optional<std::string> raw = table_->processName(pid);
                // An empty name is as good as none: the row could not be told apart.
                name = raw && !raw->empty() ? decodeUtf8Lossy(*raw) : std::to_string(pid);
            }
            rows.push_back(LsofRow{pid, *name, socket->second});
        }
    }
    return rows;
}

}  // namespace halvo
