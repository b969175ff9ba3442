// The kill mode chosen in the menu, kept in the settings as text.
#pragma once

#include "base/defaults_store.h"
#include "kill/kill_engine_protocol.h"

namespace halvo {

inline constexpr char kKillModeKey[] = "tavlabs.halvo.killMode";

// Exactly "force" reads as force; anything else ("graceful", "FORCE", "",
// nothing, a value of another type) as safe.
KillMode loadKillMode(const DefaultsStore& defaults);
// Writes "graceful" for safe and "force" for force.
void storeKillMode(KillMode mode, DefaultsStore& defaults);

}  // namespace halvo
