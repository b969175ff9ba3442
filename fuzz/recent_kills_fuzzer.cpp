// The stored recent-kill list, whatever the settings file holds: a list
// that decodes survives encoding unchanged, and recording a kill over any
// stored value leaves a readable list with the new kill first.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"
#include "check.h"
#include "kill/recent_kills.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string stored(reinterpret_cast<const char*>(data), size);

    if (const auto kills = halvo::decodeRecentKills(stored)) {
        const std::string encoded = halvo::encodeRecentKills(*kills);
        const auto again = halvo::decodeRecentKills(encoded);
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(again->size() == kills->size());
        for (size_t i = 0; i < kills->size(); ++i) {
            const auto& before = (*kills)[i];
            const auto& after = (*again)[i];
            FUZZ_CHECK(after.port == before.port && after.pidName == before.pidName);
            FUZZ_CHECK(after.killedAt == before.killedAt);
            FUZZ_CHECK(halvo::isValidUtf8(after.pidName));
        }
    }

    halvo::InMemoryDefaultsStore store;
    store.setValue(halvo::kRecentKillsKey, stored);
    const halvo::RecentKillTime now{std::chrono::duration<double>(1.8e9)};
    halvo::recordRecentKill(3000, 4242, "node", store, now);
    const auto loaded = halvo::loadRecentKills(store);
    FUZZ_CHECK(!loaded.empty() && loaded.size() <= halvo::kMaxRecentKills);
    FUZZ_CHECK(loaded.front() == (halvo::HalvoRecentKill{3000, "node PID 4242", now}));
    for (size_t i = 1; i < loaded.size(); ++i) {
        FUZZ_CHECK(!(loaded[i].port == 3000 && loaded[i].pidName == "node PID 4242"));
    }
    return 0;
}
