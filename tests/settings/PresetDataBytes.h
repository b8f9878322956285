#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Hand-built pieces of preset data files, written byte by byte so that the tests do not share the
// encoder they check.
namespace mirova::test {

// A narrow string of fewer than 255 bytes: one length byte, then the bytes.
inline std::string Narrow(std::string_view bytes) {
    return static_cast<char>(bytes.size()) + std::string(bytes);
}

inline std::string Int32(std::int32_t value) {
    const auto raw = static_cast<std::uint32_t>(value);
    std::string out;
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((raw >> (8 * i)) & 0xFF);
    }
    return out;
}

// A file of the given version ("1.0", "1.1", "1.2") whose presets are built by presetBytes(slot)
// and whose lists (absent in 1.0) follow as given.
template <typename PresetBytes>
std::string BuildFile(std::string_view version, PresetBytes presetBytes,
                      std::string_view lists = {}) {
    std::string file = Narrow("Mirova Preset Data Ver" + std::string(version));
    for (int slot = 0; slot < 30; ++slot) {
        file += presetBytes(slot);
    }
    return file + std::string(lists);
}

// Thirty empty presets of version 1.2 followed by the given lists.
inline std::string EmptyPresetsWithLists(std::string_view lists) {
    return BuildFile(
        "1.2", [](int) { return Narrow("") + Narrow("") + Narrow("") + Int32(0) + Int32(0); },
        lists);
}

}  // namespace mirova::test
