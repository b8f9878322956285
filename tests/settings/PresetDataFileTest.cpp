#include "settings/PresetDataFile.h"

#include <gtest/gtest.h>

#include <string>

namespace mirova {
namespace {

using Status = DecodedPresetData::Status;
using Strings = std::vector<std::string>;
constexpr std::size_t kFirstCaption = 26;  // right after the header string

// Files are built byte by byte here, so that the tests do not share the encoder they check.
std::string Narrow(std::string_view bytes) {
    return static_cast<char>(bytes.size()) + std::string(bytes);
}

std::string Int32(std::int32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
    }
    return out;
}

const std::string kEmptyPreset = Narrow("") + Narrow("") + Narrow("") + Int32(0) + Int32(0);

// A file of the given version whose preset 1 is `first` and the others `rest`, then `lists`.
std::string File(std::string_view version, const std::string& first, const std::string& rest,
                 const std::string& lists) {
    std::string file = Narrow("Mirova Preset Data Ver" + std::string(version)) + first;
    for (int slot = 1; slot < kPresetCount; ++slot) {
        file += rest;
    }
    return file + lists;
}

std::string WithLists(const std::string& lists) {
    return File("1.2", kEmptyPreset, kEmptyPreset, lists);
}

std::string WithCaption(const std::string& captionBytes) {
    return File("1.2", captionBytes + kEmptyPreset.substr(1), kEmptyPreset, Int32(0) + Int32(0));
}

std::string EncodeCaption(std::string_view caption) {
    PresetArray presets;
    presets[0].caption = caption;
    return EncodePresetData(presets, ExclusionList());
}

DecodedPresetData DecodeOk(std::string_view bytes) {
    DecodedPresetData decoded = DecodePresetData(bytes);
    EXPECT_EQ(decoded.status, Status::Ok) << decoded.problem;
    EXPECT_EQ(decoded.problem, "");
    return decoded;
}

TEST(PresetDataFile, LengthPrefixesAndTextFormsFollowTheArchive) {
    EXPECT_EQ(EncodePresetData(PresetArray(), ExclusionList()), WithLists(Int32(0) + Int32(0)));
    const struct {
        std::string caption;
        std::string bytes;  // prefix and text as written
    } rows[] = {
        {"", std::string("\x00", 1)},
        {std::string(254, 'a'), "\xFE" + std::string(254, 'a')},
        {std::string(255, 'a'), std::string("\xFF\xFF\x00", 3) + std::string(255, 'a')},
        {std::string(0xFFFD, 'a'), "\xFF\xFD\xFF" + std::string(0xFFFD, 'a')},
        {std::string(0xFFFE, 'a'),
         std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7) + std::string(0xFFFE, 'a')},
        {std::string(0x10000, 'a'),
         std::string("\xFF\xFF\xFF\x00\x00\x01\x00", 7) + std::string(0x10000, 'a')},
        // Texts CP932 holds are written narrow, half-width katakana as single bytes.
        {"日本", "\x04\x93\xFA\x96\x7B"},
        {"ﾃﾞｰﾀ", "\x04\xC3\xDE\xB0\xC0"},
        // Others wide: U+1F600 as a surrogate pair, U+301C that CP932 would fold onto U+FF5E.
        {"\xF0\x9F\x98\x80", std::string("\xFF\xFE\xFF\x02\x3D\xD8\x00\xDE", 8)},
        {"〜", "\xFF\xFE\xFF\x01\x1C\x30"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.caption.size());
        const std::string bytes = EncodeCaption(row.caption);
        EXPECT_EQ(bytes.substr(kFirstCaption, row.bytes.size()), row.bytes);
        EXPECT_EQ(DecodeOk(bytes).presets[0].caption, row.caption);
    }
    // Malformed UTF-8 cannot be represented: it is written as replacement characters.
    EXPECT_EQ(DecodeOk(EncodeCaption("a\xFF"
                                     "b"))
                  .presets[0]
                  .caption,
              "a\xEF\xBF\xBD"
              "b");
}

TEST(PresetDataFile, EveryFieldComesBackUnchanged) {
    PresetArray presets;
    for (int slot = 0; slot < kPresetCount; ++slot) {
        presets[slot] = {"/home/source" + std::to_string(slot),
                         slot % 3 == 0 ? "" : "/mnt/バックアップ/" + std::to_string(slot),
                         "Preset " + std::to_string(slot + 1) + "\nsecond\r\nthird", slot % 2,
                         slot % 5 == 0 ? 1 : 0};
    }
    presets[1].caption = "日本語の説明\n二行目";
    presets[2].caption = "emoji \xF0\x9F\x98\x80 and 日本";  // goes wide as a whole
    presets[4].mergeMode = 7;                                // values are taken as they are
    presets[4].useExclusions = -1;
    presets[5].caption = std::string(70000, 'x');
    ExclusionList lists;
    for (const char* name : {"/obj/", "", "一時"}) {
        lists.AddName(name);
    }
    lists.AddExtension("bak");
    lists.AddExtension("\xF0\x9F\x98\x80");

    const std::string bytes = EncodePresetData(presets, lists);
    const DecodedPresetData decoded = DecodeOk(bytes);
    EXPECT_EQ(decoded.presets, presets);
    EXPECT_EQ(decoded.exclusions.names(), lists.names());
    EXPECT_EQ(decoded.exclusions.extensions(), lists.extensions());
    // Bytes after a complete file are ignored.
    EXPECT_EQ(DecodeOk(bytes + "trailing").presets, presets);

    // Every truncation of it, and of older versions, is damaged and says so.
    presets[5].caption = std::string(300, 'x');
    const std::string files[] = {
        EncodePresetData(presets, lists),
        File("1.0", Narrow("c") + Narrow("s") + Narrow("t"),
             Narrow("c") + Narrow("s") + Narrow("t"), ""),
        File("1.1", Narrow("c") + Narrow("s") + Narrow("t") + Int32(1),
             Narrow("c") + Narrow("s") + Narrow("t") + Int32(1),
             Int32(1) + Narrow("n") + Int32(1) + Narrow("e")),
    };
    for (const std::string& file : files) {
        ASSERT_EQ(DecodePresetData(file).status, Status::Ok);
        for (std::size_t length = 0; length < file.size(); ++length) {
            const DecodedPresetData cut = DecodePresetData(file.substr(0, length));
            ASSERT_EQ(cut.status, Status::Damaged) << "cut at " << length;
            ASSERT_NE(cut.problem, "") << "cut at " << length;
        }
    }
}

TEST(PresetDataFile, OlderVersionsLeaveTheirMissingValuesZero) {
    const DecodedPresetData v10 = DecodeOk(File("1.0", Narrow("c") + Narrow("/s") + Narrow("/t"),
                                                Narrow("") + Narrow("/s") + Narrow("/t"), ""));
    EXPECT_EQ(v10.presets[0], (Preset{"/s", "/t", "c", 0, 0}));
    EXPECT_EQ(v10.presets[29], (Preset{"/s", "/t", "", 0, 0}));
    EXPECT_EQ(v10.exclusions.names(), Strings{});

    const std::string v11Preset = Narrow("c") + Narrow("/s") + Narrow("/t") + Int32(1);
    const DecodedPresetData v11 = DecodeOk(
        File("1.1", v11Preset, v11Preset,
             Int32(2) + Narrow("/obj/") + Narrow("\x88\xEA\x8E\x9E") + Int32(1) + Narrow("tmp")));
    EXPECT_EQ(v11.presets[29], (Preset{"/s", "/t", "c", 1, 0}));
    EXPECT_EQ(v11.exclusions.names(), (Strings{"/obj/", "一時"}));
    EXPECT_EQ(v11.exclusions.extensions(), Strings{"tmp"});
}

TEST(PresetDataFile, EveryPrefixFormIsReadAndUndecodableBytesAreReplaced) {
    const auto first = [](const std::string& a, const std::string& b, const std::string& c) {
        return File("1.2", a + b + c + Int32(1) + Int32(1), kEmptyPreset, Int32(0) + Int32(0));
    };
    const Preset forms = DecodeOk(first(std::string("\xFF\xFF\xFF\x03\x00\x00\x00"
                                                    "abc",
                                                    10),
                                        std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x02\0\0\0\0\0\0\0"
                                                    "de",
                                                    17),
                                        std::string("\xFF\xFE\xFF\xFF\x02\x00"
                                                    "x\0y\0",
                                                    10)))
                             .presets[0];
    EXPECT_EQ(forms, (Preset{"de", "xy", "abc", 1, 1}));
    // One U+FFFD per undecodable byte: a stray trail byte, a lead byte cut off by the end, an
    // unpaired surrogate.
    const Preset bad = DecodeOk(first(Narrow("\x80"
                                             "A"),
                                      Narrow("B\x93"),
                                      std::string("\xFF\xFE\xFF\x03"
                                                  "a\0\x00\xD8"
                                                  "b\0",
                                                  10)))
                           .presets[0];
    EXPECT_EQ(bad, (Preset{"B\xEF\xBF\xBD",
                           "a\xEF\xBF\xBD"
                           "b",
                           "\xEF\xBF\xBD"
                           "A",
                           1, 1}));
}

TEST(PresetDataFile, OtherHeadersAreNotPresetData) {
    const std::string rest = WithLists(Int32(0) + Int32(0)).substr(kFirstCaption);
    for (const std::string& bytes :
         {Narrow("Mirova Preset Data Ver1.3") + rest, Narrow("mirova preset data ver1.2") + rest,
          Narrow("Mirova Preset Data Ver1") + rest, std::string("[Settings]\nPOSX=0\n"),
          std::string("\xFF\xFF\xFF\x00\x00\x01\x00", 7)}) {
        const DecodedPresetData decoded = DecodePresetData(bytes);
        EXPECT_EQ(decoded.status, Status::NotPresetData) << bytes.substr(0, 30);
        EXPECT_EQ(decoded.problem, "");
    }
}

TEST(PresetDataFile, ProblemsNameWhereTheFileBreaksOff) {
    const std::string file = WithLists(Int32(1) + Narrow("n") + Int32(1) + Narrow("e"));
    const std::string ends = "the file ends before ";
    const std::pair<std::size_t, std::string> rows[] = {
        {10, ends + "the header is complete"},
        {26 + 6 * 11 + 1, ends + "preset 7 is complete"},
        {file.size() - 8, ends + "the name list is complete (it declares 1 entries)"},
        {file.size() - 5, ends + "the extension list is complete"},
        {file.size() - 1,
         "a text in the extension list runs past the end of the file (declared length 1)"},
    };
    for (const auto& [length, problem] : rows) {
        EXPECT_EQ(DecodePresetData(file.substr(0, length)).problem, problem) << length;
    }
    // Lengths and counts far beyond the file are refused before anything is allocated for them
    // (a wide length of 2^63 units would wrap around to 0 bytes).
    for (const std::string& prefix :
         {std::string("\xFF\xFF\xFF\xFE\xFF\xFF\xFF", 7),
          std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 15),
          std::string("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0\0\0\0\0\0\0\x80", 18),
          std::string("\xFF\xFE\xFF\xFF\xFF\xFF\x00\x00\x00\x80", 10)}) {
        const DecodedPresetData decoded = DecodePresetData(WithCaption(prefix));
        EXPECT_EQ(decoded.status, Status::Damaged);
        EXPECT_EQ(decoded.problem.rfind("a text in preset 1 runs past the end of the file", 0), 0u)
            << decoded.problem;
    }
    for (const std::int32_t count : {7, 0x7FFFFFFF}) {
        EXPECT_EQ(
            DecodePresetData(WithLists(Int32(count) + Narrow("a") + Int32(0))).problem,
            ends + "the name list is complete (it declares " + std::to_string(count) + " entries)");
    }
}

TEST(PresetDataFile, ListCountsBelowZeroReadEmptyAndBeyondCapacityKeepTheFirstHundred) {
    const DecodedPresetData negative =
        DecodeOk(WithLists(Int32(-5) + Int32(2) + Narrow("gz") + Narrow("bak")));
    EXPECT_EQ(negative.exclusions.names(), Strings{});
    EXPECT_EQ(negative.exclusions.extensions(), (Strings{"gz", "bak"}));

    std::string lists = Int32(150);
    Strings kept;
    for (int i = 0; i < 150; ++i) {
        lists += Narrow("name" + std::to_string(i));
        if (i < 100) {
            kept.push_back("name" + std::to_string(i));
        }
    }
    const DecodedPresetData many = DecodeOk(WithLists(lists + Int32(1) + Narrow("tmp")));
    EXPECT_EQ(many.exclusions.names(), kept);
    // The extension list is found where it is, after all 150 names.
    EXPECT_EQ(many.exclusions.extensions(), Strings{"tmp"});
}

}  // namespace
}  // namespace mirova
