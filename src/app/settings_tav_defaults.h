// The in-house kit's settings (first-run keys) in the application's settings
// file, next to the kill mode and the recent kills.
#pragma once

#include "appkit/defaults.h"
#include "state/settings_defaults_store.h"

namespace halvo {

class SettingsTAVDefaults final : public TAVDefaults {
  public:
    // Reads and writes through `store`, which must outlive this.
    explicit SettingsTAVDefaults(SettingsDefaultsStore& store);

    std::optional<std::string> value(std::string_view key) const override;
    void setValue(std::string_view key, const std::string& value) override;
    void removeValue(std::string_view key) override;

  private:
    SettingsDefaultsStore& store_;
};

}  // namespace halvo
