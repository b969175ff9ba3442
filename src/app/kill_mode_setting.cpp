#include "app/kill_mode_setting.h"

namespace halvo {

KillMode loadKillMode(const DefaultsStoring& defaults) {
    return defaults.value(kKillModeKey) == "force" ? KillMode::force : KillMode::graceful;
}

void storeKillMode(KillMode mode, DefaultsStoring& defaults) {
    defaults.setValue(kKillModeKey, mode == KillMode::force ? "force" : "graceful");
}

bool loadKillProcessTree(const DefaultsStoring& defaults) {
    const auto stored = defaults.value(kKillProcessTreeKey);
    return stored == "true" || stored == "1";
}

void storeKillProcessTree(bool on, DefaultsStoring& defaults) {
    defaults.setValue(kKillProcessTreeKey, on ? "true" : "false");
}

}  // namespace halvo
