// A small key-value store for settings (the desktop's settings file in the
// application, memory in tests).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace halvo {

class DefaultsStore {
  public:
    virtual ~DefaultsStore() = default;
    virtual std::optional<std::string> value(std::string_view key) const = 0;
    virtual void setValue(std::string_view key, const std::string& value) = 0;
};

class InMemoryDefaultsStore final : public DefaultsStore {
  public:
    std::optional<std::string> value(std::string_view key) const override {
        auto it = values_.find(std::string(key));
        if (it == values_.end()) {
            return std::nullopt;
        }
        return it->second;
    }
    void setValue(std::string_view key, const std::string& value) override {
        values_[std::string(key)] = value;
    }

  private:
    std::map<std::string, std::string> values_;
};

}  // namespace halvo
