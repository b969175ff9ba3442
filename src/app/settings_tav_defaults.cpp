#include "app/settings_tav_defaults.h"

namespace halvo {

SettingsTAVDefaults::SettingsTAVDefaults(SettingsDefaultsStore& store) : store_(store) {}

std::optional<std::string> SettingsTAVDefaults::value(std::string_view key) const {
    return store_.value(key);
}

void SettingsTAVDefaults::setValue(std::string_view key, const std::string& value) {
    store_.setValue(key, value);
}

void SettingsTAVDefaults::removeValue(std::string_view key) {
    store_.removeValue(key);
}

}  // namespace halvo
