#include "settings/SettingsStore.h"

#include <charconv>

namespace mirova {

int MemorySettingsStore::ReadInt(const std::string& section, const std::string& name,
                                 int fallback) {
    const auto found = values_.find(section);
    if (found == values_.end()) {
        return fallback;
    }
    const auto value = found->second.find(name);
    if (value == found->second.end()) {
        return fallback;
    }
    // A text that is not wholly a decimal integer in range cannot be read, so it counts as
    // missing.
    const std::string& text = value->second;
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return fallback;
    }
    return number;
}

std::string MemorySettingsStore::ReadText(const std::string& section, const std::string& name,
                                          const std::string& fallback) {
    const auto found = values_.find(section);
    if (found == values_.end()) {
        return fallback;
    }
    const auto value = found->second.find(name);
    return value == found->second.end() ? fallback : value->second;
}

void MemorySettingsStore::WriteInt(const std::string& section, const std::string& name, int value) {
    values_[section][name] = std::to_string(value);
}

void MemorySettingsStore::WriteText(const std::string& section, const std::string& name,
                                    const std::string& value) {
    values_[section][name] = value;
}

}  // namespace mirova
