#include "kill/recent_kills.h"

#include <nlohmann/json.hpp>

#include <cstdint>

#include "base/text.h"

namespace halvo {
namespace {

using Json = nlohmann::json;

// The reference date of the stored timestamps.
constexpr std::chrono::sys_days kReferenceDate{std::chrono::year{2001} / 1 / 1};

std::optional<HalvoRecentKill> decodeKill(const Json& object) {
    if (!object.is_object()) {
        return std::nullopt;
    }
    const auto port = object.find("port");
    const auto pidName = object.find("pidName");
    const auto killedAt = object.find("killedAt");
    if (port == object.end() || pidName == object.end() || killedAt == object.end()) {
        return std::nullopt;
    }
    if (!port->is_number_integer() || !pidName->is_string() || !killedAt->is_number()) {
        return std::nullopt;
    }
    // Unsigned numbers beyond the signed range do not fit a port.
    if (port->is_number_unsigned() && port->get<uint64_t>() > INT64_MAX) {
        return std::nullopt;
    }
    HalvoRecentKill kill;
    kill.port = port->get<int64_t>();
    kill.pidName = pidName->get<std::string>();
    kill.killedAt = kReferenceDate + std::chrono::duration<double>(killedAt->get<double>());
    return kill;
}

}  // namespace

std::optional<std::vector<HalvoRecentKill>> decodeRecentKills(std::string_view json) {
    const Json parsed = Json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_array()) {
        return std::nullopt;
    }
    std::vector<HalvoRecentKill> kills;
    kills.reserve(parsed.size());
    for (const Json& element : parsed) {
        std::optional<HalvoRecentKill> kill = decodeKill(element);
        if (!kill) {
            return std::nullopt;
        }
        kills.push_back(std::move(*kill));
    }
    return kills;
}

std::string encodeRecentKills(const std::vector<HalvoRecentKill>& kills) {
    Json array = Json::array();
    for (const HalvoRecentKill& kill : kills) {
        array.push_back({
            {"port", kill.port},
            {"pidName", kill.pidName},
            {"killedAt", (kill.killedAt - kReferenceDate).count()},
        });
    }
    // Names are repaired before they get here; replacing keeps dump() from throwing.
    return array.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::vector<HalvoRecentKill> loadRecentKills(const DefaultsStoring& store) {
    const std::optional<std::string> value = store.value(kRecentKillsKey);
    if (!value) {
        return {};
    }
    return decodeRecentKills(*value).value_or(std::vector<HalvoRecentKill>{});
}

void recordRecentKill(int64_t port, int32_t pid, std::string_view executableName,
                      DefaultsStoring& store, RecentKillTime now) {
    HalvoRecentKill kill;
    kill.port = port;
    kill.pidName = decodeUtf8Lossy(executableName);
    if (pid > 0) {  // a container row has none
        kill.pidName += " PID " + std::to_string(pid);
    }
    kill.killedAt = now;

    std::vector<HalvoRecentKill> kills = loadRecentKills(store);
    std::erase_if(kills, [&](const HalvoRecentKill& old) {
        return old.port == kill.port && old.pidName == kill.pidName;
    });
    kills.insert(kills.begin(), std::move(kill));
    if (kills.size() > kMaxRecentKills) {
        kills.resize(kMaxRecentKills);
    }
    store.setValue(kRecentKillsKey, encodeRecentKills(kills));
}

void recordRecentKill(int64_t port, int32_t pid, std::string_view executableName,
                      DefaultsStoring& store) {
    recordRecentKill(port, pid, executableName, store, std::chrono::system_clock::now());
}

}  // namespace halvo
