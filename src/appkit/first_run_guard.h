// Whether a product's welcome window was already dismissed, remembered in the
// settings per product slug, so that it is shown once and then never again.
#pragma once

#include <string>
#include <string_view>

#include "base/defaults_store.h"

namespace halvo {

class TAVFirstRunGuard final {
  public:
    TAVFirstRunGuard() = delete;

    // "tavlabs." + slug + ".firstRunCompleted": a boolean; absent means not completed.
    static std::string storageKey(std::string_view slug);
    // "tavlabs." + slug + ".first-run": the welcome window's identifier.
    static std::string windowId(std::string_view slug);

    // True unless the completion key holds true ("true", or "1" written by hand).
    static bool shouldShow(std::string_view slug, const DefaultsStoring& defaults);
    static void markCompleted(std::string_view slug, DefaultsStoring& defaults);
};

}  // namespace halvo
