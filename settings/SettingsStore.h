#pragma once

#include <map>
#include <string>

namespace mirova {

// The per-user settings store: integers and texts by section and value name. A missing value
// reads as the default given; a value that cannot be read counts as missing. Writes report
// nothing.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual int ReadInt(const std::string& section, const std::string& name, int fallback) = 0;
    virtual std::string ReadText(const std::string& section, const std::string& name,
                                 const std::string& fallback) = 0;
    virtual void WriteInt(const std::string& section, const std::string& name, int value) = 0;
    virtual void WriteText(const std::string& section, const std::string& name,
                           const std::string& value) = 0;
};

// A store held in memory (tests, and a program that must not touch the user's settings).
class MemorySettingsStore final : public SettingsStore {
public:
    int ReadInt(const std::string& section, const std::string& name, int fallback) override;
    std::string ReadText(const std::string& section, const std::string& name,
                         const std::string& fallback) override;
    void WriteInt(const std::string& section, const std::string& name, int value) override;
    void WriteText(const std::string& section, const std::string& name,
                   const std::string& value) override;

    // Every value of a section, integers written as decimal text, by value name.
    const std::map<std::string, std::string>& section(const std::string& name) {
        return values_[name];
    }

private:
    std::map<std::string, std::map<std::string, std::string>> values_;
};

}  // namespace mirova
