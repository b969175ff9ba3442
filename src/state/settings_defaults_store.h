// The defaults store of the application: the user's Qt settings of
// organisation "tavlabs", application "halvo", keys exactly as given.
#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/defaults_store.h"

class QSettings;

namespace halvo {

class SettingsDefaultsStore final : public DefaultsStoring {
  public:
    // The user's settings (on Linux ~/.config/tavlabs/halvo.conf).
    SettingsDefaultsStore();
    // The settings kept in one INI file, e.g. a temporary one.
    explicit SettingsDefaultsStore(const QString& iniFile);
    ~SettingsDefaultsStore() override;

    // Text that was stored comes back byte for byte; a value of another type
    // (e.g. written by hand) reads as its text form, or as nothing.
    std::optional<std::string> value(std::string_view key) const override;
    // UTF-8 text is stored as a string, anything else as bytes.
    void setValue(std::string_view key, const std::string& value) override;
    void removeValue(std::string_view key) override;

    // Writes pending changes to disk now (they are written on destruction anyway).
    void sync();

  private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace halvo
