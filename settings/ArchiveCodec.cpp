#include "settings/ArchiveCodec.h"

namespace mirova {

void ArchiveWriter::WriteLittleEndian(std::uint64_t value, int byteCount) {
    for (int i = 0; i < byteCount; ++i) {
        bytes_ += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

void ArchiveWriter::WriteInt32(std::int32_t value) {
    WriteLittleEndian(static_cast<std::uint32_t>(value), 4);
}

void ArchiveWriter::WriteLength(std::uint64_t length) {
    if (length < 0xFF) {
        WriteLittleEndian(length, 1);
        return;
    }
    WriteLittleEndian(0xFF, 1);
    // 0xFFFE is the wide marker and 0xFFFF announces the next width, so neither is a length here.
    if (length < 0xFFFE) {
        WriteLittleEndian(length, 2);
        return;
    }
    WriteLittleEndian(0xFFFF, 2);
    if (length < 0xFFFFFFFF) {
        WriteLittleEndian(length, 4);
        return;
    }
    WriteLittleEndian(0xFFFFFFFF, 4);
    WriteLittleEndian(length, 8);
}

void ArchiveWriter::WriteNarrow(std::string_view bytes) {
    WriteLength(bytes.size());
    bytes_ += bytes;
}

void ArchiveWriter::WriteWide(std::string_view utf16le) {
    WriteLittleEndian(0xFF, 1);
    WriteLittleEndian(0xFFFE, 2);
    WriteLength(utf16le.size() / 2);
    bytes_ += utf16le;
}

bool ArchiveReader::ReadLittleEndian(std::uint64_t& value, int byteCount) {
    if (remaining() < static_cast<std::size_t>(byteCount)) {
        return false;
    }
    value = 0;
    for (int i = 0; i < byteCount; ++i) {
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes_[pos_ + i]))
                 << (8 * i);
    }
    pos_ += static_cast<std::size_t>(byteCount);
    return true;
}

ArchiveReader::Result ArchiveReader::ReadInt32(std::int32_t& value) {
    std::uint64_t raw;
    if (!ReadLittleEndian(raw, 4)) {
        return Result::EndOfData;
    }
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(raw));
    return Result::Ok;
}

bool ArchiveReader::ReadLength(std::uint64_t& length, bool& wide) {
    wide = false;
    if (!ReadLittleEndian(length, 1)) {
        return false;
    }
    if (length < 0xFF) {
        return true;
    }
    if (!ReadLittleEndian(length, 2)) {
        return false;
    }
    if (length == 0xFFFE) {
        // The wide marker; the length starts over with one byte. A second 0xFFFE word after it
        // is taken as a plain length, as the framework does.
        wide = true;
        if (!ReadLittleEndian(length, 1)) {
            return false;
        }
        if (length < 0xFF) {
            return true;
        }
        if (!ReadLittleEndian(length, 2)) {
            return false;
        }
    }
    if (length < 0xFFFF) {
        return true;
    }
    if (!ReadLittleEndian(length, 4)) {
        return false;
    }
    if (length < 0xFFFFFFFF) {
        return true;
    }
    return ReadLittleEndian(length, 8);
}

ArchiveReader::Result ArchiveReader::ReadString(String& text) {
    text = String{};
    if (!ReadLength(text.length, text.wide)) {
        return Result::EndOfData;
    }
    // Compared without multiplying, so that a declared length near 2^64 cannot wrap around.
    const std::uint64_t available = text.wide ? remaining() / 2 : remaining();
    if (text.length > available) {
        return Result::LengthTooBig;
    }
    const std::size_t byteCount = static_cast<std::size_t>(text.length) * (text.wide ? 2 : 1);
    text.bytes = bytes_.substr(pos_, byteCount);
    pos_ += byteCount;
    return Result::Ok;
}

}  // namespace mirova
