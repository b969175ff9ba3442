// The settings the in-house kit keeps: text under a key, in the desktop's
// settings file in the application and in memory in tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace halvo {

class TAVDefaults {
  public:
    virtual ~TAVDefaults() = default;
    virtual std::optional<std::string> value(std::string_view key) const = 0;
    virtual void setValue(std::string_view key, const std::string& value) = 0;
    virtual void removeValue(std::string_view key) = 0;
};

}  // namespace halvo
