#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mirova {

// The framework archive encoding used by the preset data file: 32-bit little-endian integers and
// length-prefixed strings, back to back. A length prefix is one byte below 0xFF; else 0xFF and a
// 16-bit word below 0xFFFE; else 0xFF 0xFFFF and a 32-bit word below 0xFFFFFFFF; else
// 0xFF 0xFFFF 0xFFFFFFFF and a 64-bit word. A wide (UTF-16LE) string starts with the marker
// 0xFF 0xFFFE before its prefix, which then counts 16-bit units.
class ArchiveWriter {
public:
    void WriteInt32(std::int32_t value);
    void WriteNarrow(std::string_view bytes);
    // utf16le holds whole 16-bit units.
    void WriteWide(std::string_view utf16le);

    const std::string& bytes() const { return bytes_; }
    std::string TakeBytes() { return std::move(bytes_); }

private:
    void WriteLength(std::uint64_t length);
    void WriteLittleEndian(std::uint64_t value, int byteCount);

    std::string bytes_;
};

class ArchiveReader {
public:
    enum class Result {
        Ok,
        EndOfData,    // the bytes end inside the item
        LengthTooBig  // a string's length runs past the end of the bytes
    };

    struct String {
        bool wide = false;
        std::string_view bytes;    // narrow bytes, or UTF-16LE bytes for a wide string
        std::uint64_t length = 0;  // the declared length, in characters of its width
    };

    explicit ArchiveReader(std::string_view bytes) : bytes_(bytes) {}

    Result ReadInt32(std::int32_t& value);
    // On LengthTooBig, text.length still holds the declared length (for the report).
    Result ReadString(String& text);

    std::size_t remaining() const { return bytes_.size() - pos_; }

private:
    bool ReadLittleEndian(std::uint64_t& value, int byteCount);
    // The length after the optional wide marker, as the framework's reader takes it.
    bool ReadLength(std::uint64_t& length, bool& wide);

    std::string_view bytes_;
    std::size_t pos_ = 0;
};

}  // namespace mirova
