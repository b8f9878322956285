#include "settings/PresetDataFile.h"

#include <gtest/gtest.h>

#include <string>

namespace mirova {
namespace {

using Status = DecodedPresetData::Status;
using Strings = std::vector<std::string>;
constexpr std::size_t kFirstCaption = 26;  // right after the header string

// Files are built byte by byte here, so that the tests do not share the encoder they check.
template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}
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
const std::string kNoLists = Int32(0) + Int32(0);

// A file of the given version whose presets are all `preset` (but the caption of the first when
// given), then `lists`.
std::string File(std::string_view version, const std::string& preset, const std::string& lists,
                 const std::string& firstCaption = "") {
    std::string file = Narrow("Mirova Preset Data Ver" + std::string(version));
    file += firstCaption.empty() ? preset : firstCaption + preset.substr(1);
    for (int slot = 1; slot < kPresetCount; ++slot) {
        file += preset;
    }
    return file + lists;
}
std::string WithLists(const std::string& lists) {
    return File("1.2", Narrow("") + Narrow("") + Narrow("") + kNoLists, lists);
}
std::string WithCaption(const std::string& captionBytes) {
    return File("1.2", Narrow("") + Narrow("") + Narrow("") + kNoLists, kNoLists, captionBytes);
}

DecodedPresetData DecodeOk(std::string_view bytes) {
    DecodedPresetData decoded = DecodePresetData(bytes);
    EXPECT_EQ(decoded.status, Status::Ok) << decoded.problem;
    EXPECT_EQ(decoded.problem, "");
    return decoded;
}

// Every truncation of a good file is damaged and says so.
void ExpectEveryTruncationDamaged(const std::string& file) {
    for (std::size_t length = 0; length < file.size(); ++length) {
        const DecodedPresetData cut = DecodePresetData(file.substr(0, length));
        ASSERT_EQ(cut.status, Status::Damaged) << "cut at " << length;
        ASSERT_NE(cut.problem, "") << "cut at " << length;
    }
}

TEST(PresetDataFile, LengthPrefixesAndTextFormsFollowTheArchive) {
    EXPECT_EQ(EncodePresetData(PresetArray(), ExclusionList()), WithLists(kNoLists));
    const std::string a254(254, 'a'), a255(255, 'a'), a65533(0xFFFD, 'a'), a65534(0xFFFE, 'a'),
        a65536(0x10000, 'a');
    const std::pair<std::string, std::string> rows[] = {
        // caption, then its prefix and text as written
        {"", Bytes("\0")},
        {a254, "\xFE" + a254},
        {a255, Bytes("\xFF\xFF\x00") + a255},
        {a65533, "\xFF\xFD\xFF" + a65533},
        {a65534, Bytes("\xFF\xFF\xFF\xFE\xFF\0\0") + a65534},
        {a65536, Bytes("\xFF\xFF\xFF\0\0\x01\0") + a65536},
        // Texts CP932 holds are written narrow, half-width katakana as single bytes.
        {"日本", "\x04\x93\xFA\x96\x7B"},
        {"ﾃﾞｰﾀ", "\x04\xC3\xDE\xB0\xC0"},
        // Others wide: U+1F600 as a surrogate pair, U+301C that CP932 would fold onto U+FF5E.
        {"\xF0\x9F\x98\x80", Bytes("\xFF\xFE\xFF\x02\x3D\xD8\x00\xDE")},
        {"〜", "\xFF\xFE\xFF\x01\x1C\x30"}};
    const auto encode = [](const std::string& caption) {
        PresetArray presets;
        presets[0].caption = caption;
        return EncodePresetData(presets, ExclusionList());
    };
    for (const auto& [caption, bytes] : rows) {
        SCOPED_TRACE(caption.size());
        EXPECT_EQ(encode(caption).substr(kFirstCaption, bytes.size()), bytes);
        EXPECT_EQ(DecodeOk(encode(caption)).presets[0].caption, caption);
    }
    // Malformed UTF-8 cannot be represented: it comes back as replacement characters.
    EXPECT_EQ(DecodeOk(encode("a\xFF" + std::string("b"))).presets[0].caption,
              "a\xEF\xBF\xBD" + std::string("b"));
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
    const DecodedPresetData decoded = DecodeOk(bytes + "trailing");  // bytes after it are ignored
    EXPECT_EQ(decoded.presets, presets);
    EXPECT_EQ(decoded.exclusions.names(), lists.names());
    EXPECT_EQ(decoded.exclusions.extensions(), lists.extensions());
    presets[5].caption = std::string(300, 'x');
    ExpectEveryTruncationDamaged(EncodePresetData(presets, lists));
}

// Files of every version, every form of length prefix, undecodable bytes (one U+FFFD each: a
// stray trail byte, a lead byte cut off by the end, an unpaired surrogate) and list counts below
// zero or beyond the capacity (the extension list is then found after all the names).
TEST(PresetDataFile, HandMadeFilesOfEveryVersionAreRead) {
    const std::string v10 = Narrow("c") + Narrow("/s") + Narrow("/t"), v11 = v10 + Int32(1);
    const std::string v11Lists =
        Int32(2) + Narrow("/obj/") + Narrow("\x88\xEA\x8E\x9E") + Int32(1) + Narrow("tmp");
    std::string manyNames = Int32(150);
    Strings kept;
    for (int i = 0; i < 150; ++i) {
        manyNames += Narrow("name" + std::to_string(i));
        if (i < 100) {
            kept.push_back("name" + std::to_string(i));
        }
    }
    const std::string forms = Bytes("\xFF\xFF\xFF\x03\0\0\0") + "abc" +
                              Bytes("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x02\0\0\0\0\0\0\0") + "de" +
                              Bytes("\xFF\xFE\xFF\xFF\x02\0") + Bytes("x\0y\0");
    const std::string bad = Narrow("\x80" + std::string("A")) + Narrow("B\x93") +
                            Bytes("\xFF\xFE\xFF\x03") + Bytes("a\0\0\xD8") + Bytes("b\0");
    const std::string replaced = "\xEF\xBF\xBD";
    const struct {
        std::string file;
        Preset preset;  // every preset of the file
        Strings names, extensions;
    } rows[] = {
        {File("1.0", v10, ""), {"/s", "/t", "c", 0, 0}, {}, {}},
        {File("1.1", v11, v11Lists), {"/s", "/t", "c", 1, 0}, {"/obj/", "一時"}, {"tmp"}},
        {File("1.2", forms + Int32(1) + Int32(1), kNoLists), {"de", "xy", "abc", 1, 1}, {}, {}},
        {File("1.2", bad + Int32(0) + Int32(1), kNoLists),
         {"B" + replaced, "a" + replaced + "b", replaced + "A", 0, 1},
         {},
         {}},
        {WithLists(Int32(-5) + Int32(2) + Narrow("gz") + Narrow("bak")), {}, {}, {"gz", "bak"}},
        {WithLists(manyNames + Int32(1) + Narrow("tmp")), {}, kept, {"tmp"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file.substr(0, 26));
        const DecodedPresetData decoded = DecodeOk(row.file);
        PresetArray expected;
        expected.fill(row.preset);
        EXPECT_EQ(decoded.presets, expected);
        EXPECT_EQ(decoded.exclusions.names(), row.names);
        EXPECT_EQ(decoded.exclusions.extensions(), row.extensions);
        ExpectEveryTruncationDamaged(row.file);
    }
}

// Other headers are no preset data; a damaged file names where it breaks off, and lengths and
// counts far beyond the file are refused before anything is allocated for them (a wide length of
// 2^63 units would wrap around to 0 bytes).
TEST(PresetDataFile, ProblemsNameWhereTheFileBreaksOff) {
    const std::string rest = WithLists(kNoLists).substr(kFirstCaption);
    for (const std::string& bytes :
         {Narrow("Mirova Preset Data Ver1.3") + rest, Narrow("mirova preset data ver1.2") + rest,
          Narrow("Mirova Preset Data Ver1") + rest, std::string("[Settings]\nPOSX=0\n"),
          Bytes("\xFF\xFF\xFF\0\0\x01\0")}) {
        EXPECT_EQ(DecodePresetData(bytes).status, Status::NotPresetData) << bytes.substr(0, 30);
        EXPECT_EQ(DecodePresetData(bytes).problem, "");
    }
    const std::string file = WithLists(Int32(1) + Narrow("n") + Int32(1) + Narrow("e"));
    const std::string ends = "the file ends before ", declares = "the name list is complete (it",
                      past = "a text in preset 1 runs past the end of the file";
    const std::pair<std::string, std::string> rows[] = {
        {file.substr(0, 10), ends + "the header is complete"},
        {file.substr(0, 26 + 6 * 11 + 1), ends + "preset 7 is complete"},
        {file.substr(0, file.size() - 8), ends + declares + " declares 1 entries)"},
        {file.substr(0, file.size() - 5), ends + "the extension list is complete"},
        {file.substr(0, file.size() - 1),
         "a text in the extension list runs past the end of the file (declared length 1)"},
        {WithLists(Int32(7) + Narrow("a") + Int32(0)), ends + declares + " declares 7 entries)"},
        {WithLists(Int32(0x7FFFFFFF)), ends + declares + " declares 2147483647 entries)"},
        {WithCaption(Bytes("\xFF\xFF\xFF\xFE\xFF\xFF\xFF")), past},
        {WithCaption(std::string(15, '\xFF')), past},
        {WithCaption(Bytes("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0\0\0\0\0\0\0\x80")), past},
        {WithCaption(Bytes("\xFF\xFE\xFF\xFF\xFF\xFF\0\0\0\x80")), past},
    };
    for (const auto& [bytes, problem] : rows) {
        const DecodedPresetData decoded = DecodePresetData(bytes);
        EXPECT_EQ(decoded.status, Status::Damaged);
        EXPECT_EQ(decoded.problem.substr(0, problem.size()), problem) << bytes.size();
    }
}

}  // namespace
}  // namespace mirova
