#include "appkit/first_run_guard.h"

namespace halvo {

std::string TAVFirstRunGuard::storageKey(std::string_view slug) {
    return "tavlabs." + std::string(slug) + ".firstRunCompleted";
}

std::string TAVFirstRunGuard::windowId(std::string_view slug) {
    return "tavlabs." + std::string(slug) + ".first-run";
}

bool TAVFirstRunGuard::shouldShow(std::string_view slug, const DefaultsStoring& defaults) {
    const std::optional<std::string> stored = defaults.value(storageKey(slug));
    return !(stored == "true" || stored == "1");
}

void TAVFirstRunGuard::markCompleted(std::string_view slug, DefaultsStoring& defaults) {
    defaults.setValue(storageKey(slug), "true");
}

}  // namespace halvo
