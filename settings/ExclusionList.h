#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/ExclusionTest.h"
#include "platform/TextStep.h"

namespace mirova {

class SettingsStore;

// The two exclusion lists shared by all presets: name fragments searched for anywhere in an
// item's full path, and extensions (without their dot) compared case-insensitively for Latin
// letters.
class ExclusionList final : public ExclusionTest {
public:
    static constexpr int kCapacity = 100;

    explicit ExclusionList(platform::TextEncoding encoding = platform::TextEncoding::Utf8)
        : encoding_(encoding) {}

    // Append an entry; false when the list already holds kCapacity entries.
    bool AddName(std::string_view fragment);
    bool AddExtension(std::string_view extension);
    void Clear();

    // Reads both lists from the sections "JLIST" and "ELIST"; entries beyond kCapacity are
    // dropped.
    void Load(SettingsStore& store);
    // Writes both lists. Values of higher indices left from earlier saves stay in the store;
    // the counts tell Load to pass over them.
    void Save(SettingsStore& store) const;

    const std::vector<std::string>& names() const { return names_; }
    const std::vector<std::string>& extensions() const { return extensions_; }

    // True when the full path holds a name fragment (searched by characters, so a match never
    // starts inside a multibyte character), or when the text after its last "." equals an
    // extension entry without regard to the case of Latin letters.
    bool IsExcluded(std::string_view fullPath) const override;
    std::vector<std::string> NameFragments() const override { return names_; }
    std::vector<std::string> Extensions() const override { return extensions_; }

private:
    platform::TextEncoding encoding_;
    std::vector<std::string> names_;
    std::vector<std::string> extensions_;
};

}  // namespace mirova
