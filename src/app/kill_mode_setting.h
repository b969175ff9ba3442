// The kill mode and the process tree option chosen in the menu or the panel,
// kept in the settings as text.
#pragma once

#include "base/defaults_store.h"
#include "kill/process_killing.h"

namespace halvo {

inline constexpr char kKillModeKey[] = "tavlabs.halvo.killMode";

// Exactly "force" reads as force; anything else ("graceful", "FORCE", "",
// nothing, a value of another type) as graceful.
KillMode loadKillMode(const DefaultsStoring& defaults);
// Writes the mode as "graceful" or "force".
void storeKillMode(KillMode mode, DefaultsStoring& defaults);

inline constexpr char kKillProcessTreeKey[] = "tavlabs.halvo.killProcessTree";

// "true" (or "1" written by hand) reads as on; anything else, nothing
// included, as off: a tree kill ends more than the row, so it is asked for.
bool loadKillProcessTree(const DefaultsStoring& defaults);
// Writes "true" or "false".
void storeKillProcessTree(bool on, DefaultsStoring& defaults);

}  // namespace halvo
