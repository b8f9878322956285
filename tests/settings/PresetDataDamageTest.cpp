#include <gtest/gtest.h>

#include <string>

#include "PresetDataBytes.h"
#include "settings/PresetDataFile.h"

namespace mirova {
namespace {

using test::BuildFile;
using test::EmptyPresetsWithLists;
using test::Int32;
using test::Narrow;
using Status = DecodedPresetData::Status;

// A file that uses every kind of item: both prefix widths, a wide string, switches, both lists.
std::string RichFile() {
    PresetArray presets;
    for (int slot = 0; slot < kPresetCount; ++slot) {
        presets[slot].caption = "caption " + std::to_string(slot) + "\n日本";
        presets[slot].sourceFolder = "/src/" + std::to_string(slot);
        presets[slot].targetFolder = "/dst/\xF0\x9F\x98\x80";
        presets[slot].mergeMode = slot % 2;
        presets[slot].useExclusions = 1;
    }
    presets[9].caption = std::string(300, 'c');
    ExclusionList lists;
    lists.AddName("/obj/");
    lists.AddName("");
    lists.AddExtension("bak");
    return EncodePresetData(presets, lists);
}

std::string PresetOneWithCaptionBytes(const std::string& captionBytes) {
    return BuildFile(
        "1.2",
        [&](int slot) {
            return (slot == 0 ? captionBytes : Narrow("")) + Narrow("") + Narrow("") + Int32(0) +
                   Int32(0);
        },
        Int32(0) + Int32(0));
}

TEST(PresetDataDamage, EveryTruncationIsDamaged) {
    const std::string files[] = {
        RichFile(),
        BuildFile("1.0", [](int) { return Narrow("c") + Narrow("s") + Narrow("t"); }),
        BuildFile(
            "1.1", [](int) { return Narrow("c") + Narrow("s") + Narrow("t") + Int32(1); },
            Int32(1) + Narrow("n") + Int32(1) + Narrow("e")),
    };
    for (const std::string& file : files) {
        ASSERT_EQ(DecodePresetData(file).status, Status::Ok);
        for (std::size_t length = 0; length < file.size(); ++length) {
            const DecodedPresetData decoded = DecodePresetData(file.substr(0, length));
            ASSERT_EQ(decoded.status, Status::Damaged) << "cut at " << length;
            ASSERT_FALSE(decoded.problem.empty()) << "cut at " << length;
        }
    }
}

TEST(PresetDataDamage, ProblemNamesWhereTheFileBreaksOff) {
    const std::string file = EmptyPresetsWithLists(Int32(1) + Narrow("n") + Int32(1) + Narrow("e"));
    const std::size_t presetSeven = 26 + 6 * 11;
    struct Row {
        std::size_t length;
        const char* problem;
    };
    const Row rows[] = {
        {0, "the file ends before the header is complete"},
        {10, "the file ends before the header is complete"},
        {presetSeven + 1, "the file ends before preset 7 is complete"},
        {presetSeven + 10, "the file ends before preset 7 is complete"},
        {file.size() - 8, "the file ends before the name list is complete (it declares 1 entries)"},
        {file.size() - 5, "the file ends before the extension list is complete"},
        {file.size() - 2,
         "the file ends before the extension list is complete (it declares 1 entries)"},
        {file.size() - 1,
         "a text in the extension list runs past the end of the file (declared length 1)"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(DecodePresetData(file.substr(0, row.length)).problem, row.problem)
            << "cut at " << row.length;
    }
}

// Lengths far beyond the file must be refused before anything is allocated for them.
TEST(PresetDataDamage, HugeDeclaredLengthsAreDamaged) {
    const std::string prefixes[] = {
        std::string("\xFF\xFF\xFF\xFE\xFF\xFF\xFF", 7),
        std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 15),
        // wide, 2^63 units: doubled into bytes it would wrap around to 0
        std::string("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0\0\0\0\0\0\0\x80", 18),
        std::string("\xFF\xFE\xFF\xFF\xFF\xFF\x00\x00\x00\x80", 10),
    };
    for (const std::string& prefix : prefixes) {
        const DecodedPresetData decoded = DecodePresetData(PresetOneWithCaptionBytes(prefix));
        EXPECT_EQ(decoded.status, Status::Damaged);
        EXPECT_NE(decoded.problem.find("a text in preset 1 runs past the end of the file"),
                  std::string::npos)
            << decoded.problem;
    }
}

TEST(PresetDataDamage, ListCountsBeyondTheFileAreDamaged) {
    for (const std::int32_t count : {7, 1000, 0x7FFFFFFF}) {
        const DecodedPresetData decoded =
            DecodePresetData(EmptyPresetsWithLists(Int32(count) + Narrow("a") + Int32(0)));
        EXPECT_EQ(decoded.status, Status::Damaged);
        EXPECT_EQ(decoded.problem, "the file ends before the name list is complete (it declares " +
                                       std::to_string(count) + " entries)");
    }
}

TEST(PresetDataDamage, NegativeListCountsReadAsEmptyLists) {
    const DecodedPresetData decoded = DecodePresetData(
        EmptyPresetsWithLists(Int32(-5) + Int32(2) + Narrow("gz") + Narrow("bak")));
    ASSERT_EQ(decoded.status, Status::Ok) << decoded.problem;
    EXPECT_TRUE(decoded.exclusions.names().empty());
    EXPECT_EQ(decoded.exclusions.extensions(), (std::vector<std::string>{"gz", "bak"}));
}

TEST(PresetDataDamage, ListsBeyondCapacityKeepTheirFirstHundred) {
    std::string lists = Int32(150);
    for (int i = 0; i < 150; ++i) {
        lists += Narrow("name" + std::to_string(i));
    }
    lists += Int32(1) + Narrow("tmp");
    const DecodedPresetData decoded = DecodePresetData(EmptyPresetsWithLists(lists));
    ASSERT_EQ(decoded.status, Status::Ok) << decoded.problem;
    ASSERT_EQ(decoded.exclusions.names().size(), 100u);
    EXPECT_EQ(decoded.exclusions.names().front(), "name0");
    EXPECT_EQ(decoded.exclusions.names().back(), "name99");
    // The extension list is found where it is, after all 150 names.
    EXPECT_EQ(decoded.exclusions.extensions(), std::vector<std::string>{"tmp"});
}

TEST(PresetDataDamage, BytesAfterACompleteFileAreIgnored) {
    const std::string file = RichFile();
    const DecodedPresetData decoded = DecodePresetData(file + "trailing bytes");
    ASSERT_EQ(decoded.status, Status::Ok) << decoded.problem;
    EXPECT_EQ(decoded.presets, DecodePresetData(file).presets);
}

}  // namespace
}  // namespace mirova
