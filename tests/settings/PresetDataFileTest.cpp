#include "settings/PresetDataFile.h"

#include <gtest/gtest.h>

#include <string>

#include "PresetDataBytes.h"

namespace mirova {
namespace {

using test::BuildFile;
using test::EmptyPresetsWithLists;
using test::Int32;
using test::Narrow;
using Status = DecodedPresetData::Status;

constexpr std::size_t kFirstCaption = 26;  // right after the header string

std::string EncodeCaption(std::string_view caption) {
    PresetArray presets;
    presets[0].caption = caption;
    return EncodePresetData(presets, ExclusionList());
}

DecodedPresetData DecodeOk(std::string_view bytes) {
    DecodedPresetData decoded = DecodePresetData(bytes);
    EXPECT_EQ(decoded.status, Status::Ok) << decoded.problem;
    return decoded;
}

TEST(PresetDataEncode, EmptyPresetsAndListsGiveTheKnownFile) {
    const std::string bytes = EncodePresetData(PresetArray(), ExclusionList());
    ASSERT_EQ(bytes.size(), 364u);
    EXPECT_EQ(bytes[0], 0x19);
    EXPECT_EQ(bytes.substr(1, 25), "Mirova Preset Data Ver1.2");
    EXPECT_EQ(bytes, EmptyPresetsWithLists(Int32(0) + Int32(0)));
}

// The length prefixes around each width boundary.
TEST(PresetDataEncode, LengthPrefixFollowsTheArchiveForm) {
    struct Row {
        std::size_t length;
        std::string prefix;
    };
    const Row rows[] = {
        {0, std::string("\x00", 1)},
        {254, "\xFE"},
        {255, std::string("\xFF\xFF\x00", 3)},
        {300, "\xFF\x2C\x01"},
        {0xFFFD, "\xFF\xFD\xFF"},
        {0xFFFE, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
        {0x10000, std::string("\xFF\xFF\xFF\x00\x00\x01\x00", 7)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        const std::string caption(row.length, 'a');
        const std::string bytes = EncodeCaption(caption);
        EXPECT_EQ(bytes.substr(kFirstCaption, row.prefix.size()), row.prefix);
        EXPECT_EQ(bytes.substr(kFirstCaption + row.prefix.size(), row.length), caption);
        EXPECT_EQ(DecodeOk(bytes).presets[0].caption, caption);
    }
}

TEST(PresetDataEncode, TextsThatCp932HoldsAreWrittenNarrow) {
    EXPECT_EQ(EncodeCaption("日本").substr(kFirstCaption, 5), "\x04\x93\xFA\x96\x7B");
    // Half-width katakana are single CP932 bytes.
    EXPECT_EQ(EncodeCaption("ﾃﾞｰﾀ").substr(kFirstCaption, 5), "\x04\xC3\xDE\xB0\xC0");
}

TEST(PresetDataEncode, TextsThatCp932CannotHoldAreWrittenWide) {
    // U+1F600 as a surrogate pair, after the wide marker and a length of 2 units.
    EXPECT_EQ(EncodeCaption("\xF0\x9F\x98\x80").substr(kFirstCaption, 8),
              std::string("\xFF\xFE\xFF\x02\x3D\xD8\x00\xDE", 8));
    // CP932 would fold U+301C onto U+FF5E; written wide, it comes back as it was.
    EXPECT_EQ(EncodeCaption("〜").substr(kFirstCaption, 6), "\xFF\xFE\xFF\x01\x1C\x30");
}

TEST(PresetDataRoundTrip, EveryFieldComesBackUnchanged) {
    PresetArray presets;
    for (int slot = 0; slot < kPresetCount; ++slot) {
        Preset& preset = presets[slot];
        preset.caption = "Preset " + std::to_string(slot + 1) + "\nsecond line\r\nthird";
        preset.sourceFolder = "/home/user/source" + std::to_string(slot);
        preset.targetFolder = slot % 3 == 0 ? "" : "/mnt/backup/" + std::to_string(slot);
        preset.mergeMode = slot % 2;
        preset.useExclusions = slot % 5 == 0 ? 1 : 0;
    }
    presets[1].caption = "日本語の説明\n二行目";
    presets[2].caption = "emoji \xF0\x9F\x98\x80 and 日本";  // goes wide as a whole
    presets[3].sourceFolder = "/data/写真";
    presets[4].mergeMode = 7;  // values are taken as they are
    presets[4].useExclusions = -1;
    presets[5].caption = std::string(70000, 'x');
    ExclusionList lists;
    lists.AddName("/obj/");
    lists.AddName("");
    lists.AddName("一時");
    lists.AddExtension("bak");
    lists.AddExtension("\xF0\x9F\x98\x80");

    const std::string bytes = EncodePresetData(presets, lists);
    const DecodedPresetData decoded = DecodeOk(bytes);
    EXPECT_TRUE(decoded.problem.empty());
    EXPECT_EQ(decoded.presets, presets);
    EXPECT_EQ(decoded.exclusions.names(), lists.names());
    EXPECT_EQ(decoded.exclusions.extensions(), lists.extensions());
    EXPECT_EQ(EncodePresetData(decoded.presets, decoded.exclusions), bytes);
}

TEST(PresetDataRoundTrip, MalformedUtf8IsWrittenAsReplacementCharacters) {
    // A folder name that is not UTF-8 cannot be represented in the file; it must still give a
    // readable file rather than garbage.
    const DecodedPresetData decoded =
        DecodeOk(EncodeCaption("a\xFF"
                               "b"));
    EXPECT_EQ(decoded.presets[0].caption,
              "a\xEF\xBF\xBD"
              "b");
}

TEST(PresetDataDecode, Version10LeavesSwitchesZeroAndListsEmpty) {
    const std::string file = BuildFile("1.0", [](int slot) {
        return Narrow("caption " + std::to_string(slot)) + Narrow("/src") + Narrow("/dst");
    });
    const DecodedPresetData decoded = DecodeOk(file);
    for (int slot = 0; slot < kPresetCount; ++slot) {
        const Preset& preset = decoded.presets[slot];
        EXPECT_EQ(preset.caption, "caption " + std::to_string(slot));
        EXPECT_EQ(preset.sourceFolder, "/src");
        EXPECT_EQ(preset.targetFolder, "/dst");
        EXPECT_EQ(preset.mergeMode, 0);
        EXPECT_EQ(preset.useExclusions, 0);
    }
    EXPECT_TRUE(decoded.exclusions.names().empty());
    EXPECT_TRUE(decoded.exclusions.extensions().empty());
}

TEST(PresetDataDecode, Version11ReadsMergeModeAndListsButNoExclusionSwitch) {
    const std::string file = BuildFile(
        "1.1", [](int slot) { return Narrow("c") + Narrow("/s") + Narrow("/t") + Int32(slot % 2); },
        Int32(2) + Narrow("/obj/") + Narrow("\x88\xEA\x8E\x9E") + Int32(1) + Narrow("tmp"));
    const DecodedPresetData decoded = DecodeOk(file);
    for (int slot = 0; slot < kPresetCount; ++slot) {
        EXPECT_EQ(decoded.presets[slot].mergeMode, slot % 2);
        EXPECT_EQ(decoded.presets[slot].useExclusions, 0);
    }
    EXPECT_EQ(decoded.exclusions.names(), (std::vector<std::string>{"/obj/", "一時"}));
    EXPECT_EQ(decoded.exclusions.extensions(), std::vector<std::string>{"tmp"});
}

TEST(PresetDataDecode, EveryPrefixFormIsRead) {
    const std::string file = BuildFile(
        "1.2",
        [](int slot) {
            if (slot != 0) {
                return Narrow("") + Narrow("") + Narrow("") + Int32(0) + Int32(0);
            }
            return std::string(
                       "\xFF\xFF\xFF\x03\x00\x00\x00"
                       "abc",
                       10) +
                   std::string(
                       "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x02\0\0\0\0\0\0\0"
                       "de",
                       17) +
                   std::string(
                       "\xFF\xFE\xFF\xFF\x02\x00"
                       "x\0y\0",
                       10) +
                   Int32(1) + Int32(1);
        },
        Int32(0) + Int32(0));
    const DecodedPresetData decoded = DecodeOk(file);
    const Preset& preset = decoded.presets[0];
    EXPECT_EQ(preset.caption, "abc");
    EXPECT_EQ(preset.sourceFolder, "de");
    EXPECT_EQ(preset.targetFolder, "xy");
}

// Undecodable bytes become U+FFFD one byte at a time, so equal files always give equal texts.
TEST(PresetDataDecode, UndecodableTextsGiveReplacementCharacters) {
    const std::string file = BuildFile(
        "1.2",
        [](int slot) {
            if (slot != 0) {
                return Narrow("") + Narrow("") + Narrow("") + Int32(0) + Int32(0);
            }
            return Narrow(
                       "\x80"
                       "A") +
                   Narrow("B\x93") +
                   std::string(
                       "\xFF\xFE\xFF\x03"
                       "a\0\x00\xD8"
                       "b\0",
                       10) +
                   Int32(0) + Int32(0);
        },
        Int32(0) + Int32(0));
    const DecodedPresetData decoded = DecodeOk(file);
    const Preset& preset = decoded.presets[0];
    EXPECT_EQ(preset.caption,
              "\xEF\xBF\xBD"
              "A");
    EXPECT_EQ(preset.sourceFolder, "B\xEF\xBF\xBD");  // a lead byte cut off by the end
    EXPECT_EQ(preset.targetFolder,
              "a\xEF\xBF\xBD"
              "b");  // an unpaired surrogate
}

TEST(PresetDataDecode, OtherHeadersAreNotPresetData) {
    const std::string lists = Int32(0) + Int32(0);
    const std::string valid = EmptyPresetsWithLists(lists);
    const std::string others[] = {
        Narrow("Mirova Preset Data Ver1.3") + valid.substr(26),
        Narrow("mirova preset data ver1.2") + valid.substr(26),
        Narrow("Mirova Preset Data Ver1") + valid.substr(26),
        "[Settings]\nPOSX=0\n",
        std::string("\xFF\xFF\xFF\x00\x00\x01\x00", 7),  // claims 65536 bytes
    };
    for (const std::string& bytes : others) {
        SCOPED_TRACE(bytes.substr(0, 30));
        const DecodedPresetData decoded = DecodePresetData(bytes);
        EXPECT_EQ(decoded.status, Status::NotPresetData);
        EXPECT_TRUE(decoded.problem.empty());
    }
}

}  // namespace
}  // namespace mirova
