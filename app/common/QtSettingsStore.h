#pragma once

#include <memory>
#include <string>

#include "settings/SettingsStore.h"

class QSettings;

namespace mirova {

// The per-user settings store on QSettings: the INI file TK-ORVELAN/Mirova.conf in the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config), with the sections as groups. The
// folder is looked up when the object is made, so a changed XDG_CONFIG_HOME applies to the
// next store. Texts are UTF-8; a text that is not valid UTF-8 (a folder name in another
// encoding) is kept as raw bytes so that it comes back unchanged.
class QtSettingsStore final : public SettingsStore {
public:
    QtSettingsStore();
    ~QtSettingsStore() override;
    QtSettingsStore(const QtSettingsStore&) = delete;
    QtSettingsStore& operator=(const QtSettingsStore&) = delete;

    int ReadInt(const std::string& section, const std::string& name, int fallback) override;
    std::string ReadText(const std::string& section, const std::string& name,
                         const std::string& fallback) override;
    void WriteInt(const std::string& section, const std::string& name, int value) override;
    void WriteText(const std::string& section, const std::string& name,
                   const std::string& value) override;

    // Writes what has changed to the file (replacing it whole through a temporary file) and
    // rereads it; false when the file cannot be written or read.
    bool Flush();
    // The file behind the store.
    std::string FilePath() const;

    // What both front ends tell when the file cannot be read at the start (the program stops
    // rather than save an empty table over the presets) or written at the end.
    std::string UnreadableText() const;
    std::string UnwritableText() const;

private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace mirova
