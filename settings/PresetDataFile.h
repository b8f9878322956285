#pragma once

#include <string>
#include <string_view>

#include "settings/ExclusionList.h"
#include "settings/Preset.h"

namespace mirova {

// The preset data file: all 30 presets and both exclusion lists in the archive encoding of the
// original program (length-prefixed strings, 32-bit little-endian integers). Version 1.2 is
// written; 1.0, 1.1 and 1.2 are read. Narrow strings are CP932; a text that CP932 cannot hold is
// written as a wide (UTF-16LE) string, which the format's readers accept.
inline constexpr const char* kPresetDataHeader10 = "Mirova Preset Data Ver1.0";
inline constexpr const char* kPresetDataHeader11 = "Mirova Preset Data Ver1.1";
inline constexpr const char* kPresetDataHeader12 = "Mirova Preset Data Ver1.2";

// The bytes of a version 1.2 file.
std::string EncodePresetData(const PresetArray& presets, const ExclusionList& exclusions);

struct DecodedPresetData {
    enum class Status {
        Ok,
        NotPresetData,  // the header matches no version
        Damaged,        // the file ends early, or a length or count is impossible
    } status = Status::Damaged;
    std::string problem;  // for Damaged: what is wrong, for the message
    PresetArray presets;
    ExclusionList exclusions;
};

// Reads a whole file's bytes. Nothing is replaced anywhere: the caller takes the result only
// when the status is Ok, so a damaged file never leaves the presets half replaced. Lists of more
// than 100 entries keep the first 100.
DecodedPresetData DecodePresetData(std::string_view bytes);

}  // namespace mirova
