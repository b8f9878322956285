#include "settings/PresetDataFile.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "settings/ArchiveCodec.h"
#include "settings/TextConversion.h"

namespace mirova {
namespace {

enum class Version { V10, V11, V12 };

void WriteText(ArchiveWriter& writer, PresetTextConverter& converter, std::string_view text,
               std::string& scratch) {
    // Narrow whenever CP932 holds the text, so that such files stay byte for byte those of the
    // original format; anything else goes in the wide form that the format's readers accept.
    if (converter.ToCp932(text, scratch)) {
        writer.WriteNarrow(scratch);
    } else {
        writer.WriteWide(Utf8ToUtf16Le(text));
    }
}

void WriteList(ArchiveWriter& writer, PresetTextConverter& converter,
               const std::vector<std::string>& entries, std::string& scratch) {
    writer.WriteInt32(static_cast<std::int32_t>(entries.size()));
    for (const std::string& entry : entries) {
        WriteText(writer, converter, entry, scratch);
    }
}

// Reads one file. Each step names the part it reads (for instance "preset 7"), so that a failure
// can say where the file breaks off.
class PresetDataReader {
public:
    explicit PresetDataReader(std::string_view bytes) : reader_(bytes) {}

    DecodedPresetData Read() {
        DecodedPresetData result;
        result.status = ReadAll(result);
        if (result.status != DecodedPresetData::Status::Damaged) {
            problem_.clear();
        }
        result.problem = std::move(problem_);
        return result;
    }

private:
    using Status = DecodedPresetData::Status;

    Status ReadAll(DecodedPresetData& result) {
        Version version;
        if (const Status header = ReadHeader(version); header != Status::Ok) {
            return header;
        }
        for (int slot = 0; slot < kPresetCount; ++slot) {
            if (!ReadPreset(result.presets[slot], version, slot + 1)) {
                return Status::Damaged;
            }
        }
        if (version == Version::V10) {
            return Status::Ok;  // this version has no exclusion lists: they stay empty
        }
        if (!ReadList(result.exclusions, &ExclusionList::AddName, "the name list") ||
            !ReadList(result.exclusions, &ExclusionList::AddExtension, "the extension list")) {
            return Status::Damaged;
        }
        // Bytes after the extension list are left alone: the format has no trailer or total
        // length to check them against, and the original reader stops here too.
        return Status::Ok;
    }

    Status ReadHeader(Version& version) {
        ArchiveReader::String header;
        const ArchiveReader::Result read = reader_.ReadString(header);
        if (read == ArchiveReader::Result::EndOfData) {
            problem_ = "the file ends before the header is complete";
            return Status::Damaged;
        }
        // Every header is 25 characters, so any other length is some other kind of file, however
        // long it claims to be.
        const std::size_t headerLength = std::strlen(kPresetDataHeader12);
        if (header.length != headerLength) {
            return Status::NotPresetData;
        }
        if (read != ArchiveReader::Result::Ok) {
            problem_ = "the file ends before the header is complete";
            return Status::Damaged;
        }
        const std::string text =
            header.wide ? Utf16LeToUtf8(header.bytes) : std::string(header.bytes);
        if (text == kPresetDataHeader10) {
            version = Version::V10;
        } else if (text == kPresetDataHeader11) {
            version = Version::V11;
        } else if (text == kPresetDataHeader12) {
            version = Version::V12;
        } else {
            return Status::NotPresetData;
        }
        return Status::Ok;
    }

    bool ReadPreset(Preset& preset, Version version, int number) {
        where_ = "preset " + std::to_string(number);
        if (!ReadText(preset.caption) || !ReadText(preset.sourceFolder) ||
            !ReadText(preset.targetFolder)) {
            return false;
        }
        // Switches missing from older versions keep their default 0.
        if (version != Version::V10 && !ReadInt(preset.mergeMode)) {
            return false;
        }
        return version != Version::V12 || ReadInt(preset.useExclusions);
    }

    bool ReadList(ExclusionList& list, bool (ExclusionList::*add)(std::string_view),
                  const char* name) {
        where_ = name;
        std::int32_t count;
        if (!ReadInt(count)) {
            return false;
        }
        // Each entry takes at least its one length byte, which bounds a believable count before
        // anything is read.
        if (count > 0 && static_cast<std::uint64_t>(count) > reader_.remaining()) {
            problem_ = "the file ends before " + where_ + " is complete (it declares " +
                       std::to_string(count) + " entries)";
            return false;
        }
        // A negative count reads as an empty list. Entries beyond the capacity are read all the
        // same, so that the next list starts where it should, but are not kept.
        for (std::int32_t i = 0; i < count; ++i) {
            ArchiveReader::String entry;
            if (!ReadString(entry)) {
                return false;
            }
            if (i < ExclusionList::kCapacity) {
                (list.*add)(Decode(entry));
            }
        }
        return true;
    }

    bool ReadInt(int& value) {
        std::int32_t raw;
        if (reader_.ReadInt32(raw) != ArchiveReader::Result::Ok) {
            problem_ = "the file ends before " + where_ + " is complete";
            return false;
        }
        value = raw;
        return true;
    }

    bool ReadString(ArchiveReader::String& text) {
        switch (reader_.ReadString(text)) {
            case ArchiveReader::Result::Ok:
                return true;
            case ArchiveReader::Result::EndOfData:
                problem_ = "the file ends before " + where_ + " is complete";
                return false;
            case ArchiveReader::Result::LengthTooBig:
                problem_ = "a text in " + where_ +
                           " runs past the end of the file (declared length " +
                           std::to_string(text.length) + ")";
                return false;
        }
        return false;
    }

    bool ReadText(std::string& text) {
        ArchiveReader::String raw;
        if (!ReadString(raw)) {
            return false;
        }
        text = Decode(raw);
        return true;
    }

    std::string Decode(const ArchiveReader::String& raw) {
        return raw.wide ? Utf16LeToUtf8(raw.bytes) : converter_.FromCp932(raw.bytes);
    }

    ArchiveReader reader_;
    PresetTextConverter converter_;
    std::string where_;
    std::string problem_;
};

}  // namespace

std::string EncodePresetData(const PresetArray& presets, const ExclusionList& exclusions) {
    PresetTextConverter converter;
    ArchiveWriter writer;
    std::string scratch;
    WriteText(writer, converter, kPresetDataHeader12, scratch);
    for (const Preset& preset : presets) {
        WriteText(writer, converter, preset.caption, scratch);
        WriteText(writer, converter, preset.sourceFolder, scratch);
        WriteText(writer, converter, preset.targetFolder, scratch);
        writer.WriteInt32(preset.mergeMode);
        writer.WriteInt32(preset.useExclusions);
    }
    WriteList(writer, converter, exclusions.names(), scratch);
    WriteList(writer, converter, exclusions.extensions(), scratch);
    return writer.TakeBytes();
}

DecodedPresetData DecodePresetData(std::string_view bytes) {
    return PresetDataReader(bytes).Read();
}

}  // namespace mirova
