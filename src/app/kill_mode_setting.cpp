#include "app/kill_mode_setting.h"

namespace halvo {

KillMode loadKillMode(const DefaultsStore& defaults) {
    return defaults.value(kKillModeKey) == "force" ? KillMode::force : KillMode::graceful;
}

void storeKillMode(KillMode mode, DefaultsStore& defaults) {
    defaults.setValue(kKillModeKey, mode == KillMode::force ? "force" : "graceful");
}

bool loadKillProcessTree(const DefaultsStore& defaults) {
    const auto stored = defaults.value(kKillProcessTreeKey);
    return stored == "true" || stored == "1";
}

void storeKillProcessTree(bool on, DefaultsStore& defaults) {
    defaults.setValue(kKillProcessTreeKey, on ? "true" : "false");
}

}  // namespace halvo
