// A small key-value store for settings (the desktop's settings file in the
// application, memory in tests).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace halvo {

class DefaultsStoring {
  public:
    virtual ~DefaultsStoring() = default;
    virtual std::optional<std::string> value(std::string_view key) const = 0;
    virtual void setValue(std::string_view key, const std::string& value) = 0;
    virtual void removeValue(std::string_view key) = 0;
};

// Settings in memory, for tests and tools; `values` is open to inspection.
class InMemoryDefaultsStore final : public DefaultsStoring {
  public:
    std::optional<std::string> value(std::string_view key) const override {
        const auto found = values.find(std::string(key));
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    void setValue(std::string_view key, const std::string& value) override {
        values[std::string(key)] = value;
    }
    void removeValue(std::string_view key) override { values.erase(std::string(key)); }

    std::map<std::string, std::string> values;
};

}  // namespace halvo
