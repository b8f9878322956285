// libFuzzer entry point for the preset data file reader: any bytes must decode without a crash
// or an oversized allocation, and whatever decodes must survive being written and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/PresetDataFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using Status = mirova::DecodedPresetData::Status;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const mirova::DecodedPresetData first = mirova::DecodePresetData(bytes);
    if (first.status == Status::Damaged && first.problem.empty()) {
        std::abort();  // a refusal must say why
    }
    if (first.status != Status::Ok) {
        return 0;
    }
    const std::string encoded = mirova::EncodePresetData(first.presets, first.exclusions);
    const mirova::DecodedPresetData second = mirova::DecodePresetData(encoded);
    if (second.status != Status::Ok || second.presets != first.presets ||
        second.exclusions.names() != first.exclusions.names() ||
        second.exclusions.extensions() != first.exclusions.extensions()) {
        std::abort();
    }
    // Written once more, the bytes must not drift.
    if (mirova::EncodePresetData(second.presets, second.exclusions) != encoded) {
        std::abort();
    }
    return 0;
}
