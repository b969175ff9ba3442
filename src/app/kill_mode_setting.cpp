#include "app/kill_mode_setting.h"

namespace halvo {

KillMode loadKillMode(const DefaultsStore& defaults) {
    return defaults.value(kKillModeKey) == "force" ? KillMode::force : KillMode::safe;
}

void storeKillMode(KillMode mode, DefaultsStore& defaults) {
    defaults.setValue(kKillModeKey, mode == KillMode::force ? "force" : "graceful");
}

}  // namespace halvo
