#include "scan/native_port_discovery.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "base/text.h"
#include "scan/proc_process_table.h"

namespace halvo {
namespace {

// Reading every descriptor of every process is nearly all kernel time, spread
// evenly over the processes, so a busy machine's walk is shared among a few
// threads. Measured: on an idle desktop (~100 processes) a second thread
// costs more than it saves; with 2,000 processes two threads take 40% off.
constexpr size_t kProcessesPerChunk = 32;
constexpr size_t kMinProcessesForThreads = 256;
constexpr unsigned kMaxThreads = 4;

// What the walk found in a run of processes: the rows, and which process
// holds which listening socket.
struct Found {
    std::vector<LsofRow> rows;
    std::vector<std::pair<uint64_t, int32_t>> holders;  // inode, PID
};

void addProcess(ProcessTableReading& table, const ListeningSockets& listening, int32_t pid,
                Found& found) {
    std::optional<std::vector<uint64_t>> inodes = table.socketInodes(pid);
    if (!inodes) {
        return;
    }
    // Read lazily: most processes hold no listener, and their names are never needed.
    std::optional<std::string> name;
    for (uint64_t inode : *inodes) {
        auto socket = listening.find(inode);
        if (socket == listening.end() || socket->second.port == 0) {
            continue;
        }
        if (!name) {
            std::optional<std::string> raw = table.processName(pid);
            // An empty name is as good as none: the rows could not be told apart.
            name = raw && !raw->empty() ? decodeUtf8Lossy(*raw) : std::to_string(pid);
        }
        found.rows.push_back(LsofRow{pid, *name, socket->second.port});
        found.holders.emplace_back(inode, pid);
    }
}

unsigned threadCount(size_t processes) {
    if (processes < kMinProcessesForThreads) {
        return 1;
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t chunks = (processes + kProcessesPerChunk - 1) / kProcessesPerChunk;
    return static_cast<unsigned>(std::min<size_t>({cores, kMaxThreads, chunks}));
}

// Walks the descriptors of `pids` in chunks of consecutive processes, each
// filled by whichever thread takes it; in chunk order, so that joined they
// keep the table's order.
std::vector<Found> walk(ProcessTableReading& table, const ListeningSockets& listening,
                        const std::vector<int32_t>& pids) {
    const size_t chunkCount = (pids.size() + kProcessesPerChunk - 1) / kProcessesPerChunk;
    std::vector<Found> chunks(chunkCount);
    std::atomic<size_t> nextChunk{0};
    auto work = [&] {
        for (size_t chunk = nextChunk++; chunk < chunkCount; chunk = nextChunk++) {
            const size_t end = std::min(pids.size(), (chunk + 1) * kProcessesPerChunk);
            for (size_t i = chunk * kProcessesPerChunk; i < end; ++i) {
                addProcess(table, listening, pids[i], chunks[chunk]);
            }
        }
    };
    std::vector<std::jthread> helpers;
    for (unsigned n = 1; n < threadCount(pids.size()); ++n) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the ones running finish the walk
        }
    }
    work();
    helpers.clear();  // joined before the chunks are handed over
    return chunks;
}

// The chunks' rows in order, and every listener with a port with its holders.
Discovery joined(std::vector<Found>& chunks, const ListeningSockets& listening) {
    Discovery found;
    std::unordered_map<uint64_t, std::vector<int32_t>> holders;
    for (Found& chunk : chunks) {
        found.rows.insert(found.rows.end(), std::make_move_iterator(chunk.rows.begin()),
                          std::make_move_iterator(chunk.rows.end()));
        for (const auto& [inode, pid] : chunk.holders) {
            holders[inode].push_back(pid);
        }
    }
    found.listeners.reserve(listening.size());
    for (const auto& [inode, socket] : listening) {
        if (socket.port != 0) {
            auto held = holders.find(inode);
            found.listeners.push_back(
                {socket.port, socket.uid,
                 held == holders.end() ? std::vector<int32_t>{} : std::move(held->second)});
        }
    }
    return found;
}

}  // namespace

NativePortDiscovery::NativePortDiscovery(std::shared_ptr<ProcessTableReading> table)
    : table_(table ? std::move(table) : std::make_shared<ProcFsProcessTable>()) {}

std::vector<LsofRow> NativePortDiscovery::rows() {
    std::optional<Discovery> found = discover();
    return found ? std::move(found->rows) : std::vector<LsofRow>{};
}

std::optional<Discovery> NativePortDiscovery::discover() {
    const std::optional<ListeningSockets> listening = table_->listeningTcpSockets();
    if (!listening) {
        return std::nullopt;
    }
    if (listening->empty()) {
        return Discovery{};  // no descriptor can match: spare the walk over every process
    }
    std::optional<std::vector<int32_t>> pids = table_->processIds();
    if (!pids) {
        return std::nullopt;
    }
    std::erase_if(*pids, [](int32_t pid) { return pid <= 0; });
    std::vector<Found> chunks = walk(*table_, *listening, *pids);
    return joined(chunks, *listening);
}

}  // namespace halvo
