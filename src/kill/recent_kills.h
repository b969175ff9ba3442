// The last few kills, newest first, kept as JSON in the defaults store for the
// status menu. Read and written on the main thread only: recording is a
// read-modify-write of one key without a lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/defaults_store.h"

namespace halvo {

// A moment in seconds as a double, like its stored form (a JSON number with a
// fractional part): a recorded time reads back as it was written.
using RecentKillTime = std::chrono::sys_time<std::chrono::duration<double>>;

struct HalvoRecentKill {
    int64_t port = 0;
    std::string pidName;  // "node PID 4242"
    RecentKillTime killedAt;

    bool operator==(const HalvoRecentKill&) const = default;
};

inline constexpr const char* kRecentKillsKey = "tavlabs.halvo.recentKills";
inline constexpr size_t kMaxRecentKills = 5;

// The stored list as it is, in its order and length; empty when the value is
// absent or unreadable (which leaves the value alone).
std::vector<HalvoRecentKill> loadRecentKills(const DefaultsStoring& store);

// Puts the kill first, drops older entries for the same port and process
// name, and keeps the newest kMaxRecentKills.
void recordRecentKill(int64_t port, int32_t pid, std::string_view executableName,
                      DefaultsStoring& store, RecentKillTime now);
void recordRecentKill(int64_t port, int32_t pid, std::string_view executableName,
                      DefaultsStoring& store);

// The stored form: a JSON array of {"port", "pidName", "killedAt"} objects,
// killedAt in seconds since 2001-01-01 00:00:00 UTC.
std::string encodeRecentKills(const std::vector<HalvoRecentKill>& kills);
std::optional<std::vector<HalvoRecentKill>> decodeRecentKills(std::string_view json);

}  // namespace halvo
