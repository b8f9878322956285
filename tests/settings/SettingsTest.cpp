// The exclusion lists and the preset table, how both are kept in a settings store, and the preset
// data file that carries them between machines.
#include <gtest/gtest.h>

#include <map>

#include "settings/ExclusionList.h"
#include "settings/Preset.h"
#include "settings/PresetDataFile.h"
#include "settings/SettingsStore.h"

namespace mirova {
namespace {

using namespace std::string_literals;
using platform::TextEncoding;
using Entries = std::vector<std::string>;
using Section = std::map<std::string, std::string>;

ExclusionList List(Entries names, Entries extensions = {},
                   TextEncoding encoding = TextEncoding::Utf8) {
    ExclusionList list(encoding);
    for (const std::string& name : names) {
        EXPECT_TRUE(list.AddName(name));
    }
    for (const std::string& extension : extensions) {
        EXPECT_TRUE(list.AddExtension(extension));
    }
    return list;
}

TEST(ExclusionList, MatchesNameFragmentsAndExtensions) {
    constexpr TextEncoding kCp932 = TextEncoding::Cp932;
    const struct {
        ExclusionList list;
        Entries excluded, kept;
    } rows[] = {
        {List({}), {}, {"", "/work/a.txt"}},
        // A name entry is a case-sensitive fragment of the whole path; any entry matches.
        {List({"/obj/"}), {"/work/src/obj/deep/x.o"}, {"/work/src/obj", "/work/src/object/x.o"}},
        {List({"never", "obj"}), {"/work/object.txt"}, {"/work/OBJ/x"}},
        {List({"zzz", ""}), {"/"}, {}},  // an empty fragment excludes everything
        // The extension runs from the last dot of the whole path; ASCII letters fold only.
        {List({}, {"TXT", "GZ", "z"}), {"/d/B.Txt", "/d/x.tar.gz", "/d/f.Z"}, {"/d/f.tar"}},
        {List({}, {"txt"}), {}, {"/d/a.txt2", "/d/a.tx", "/d/README", "/d/old.txt/plain"}},
        {List({}, {".txt", "tar.gz"}), {}, {"/d/a.txt", "/d/x.tar.gz"}},
        {List({}, {"gitignore", "2/Makefile"}), {"/src/.gitignore", "/src/rel.2/Makefile"}, {}},
        {List({}, {"a[", "@", "2", "Makefile"}), {}, {"/d/f.a{", "/d/f.`", "/src/rel.2/Makefile"}},
        {List({"keep"}, {"log"}), {"/d/run.LOG", "/d/keep"}, {"/d/run.txt"}},
        // A fragment never matches inside a character: "¢" is C2 A2, a stray A2 is its own.
        {List({"\xA2"}), {"/d/\xC2\xA2/\xA2"}, {"/d/\xC2\xA2.txt"}},
        {List({"表"}), {"/d/表/x"}, {}},
        // In CP932 "表" is 95 5C (its trail byte the code of "\"), "ソ" 83 5C, "ア" 83 41.
        {List({"\\"}, {}, kCp932), {"D:/\x95\x5C/a\\b.txt"}, {"D:/\x95\x5C/a.txt"}},
        {List({"\x83\x5C"}, {}, kCp932), {"/\x95\x5C\x83\x5C"}, {}},
        {List({"\x5C\x83"}, {}, kCp932), {}, {"/\x95\x5C\x83\x5C"}},
        {List({}, {"A\x83\x41"}, kCp932), {"/d/f.a\x83\x41"}, {}},
        {List({}, {"\x83\x61"}, kCp932), {}, {"/d/f.\x83\x41"}},
        {List({}, {"txt"}, kCp932), {"/d/\x81.txt"}, {}},  // a broken lead byte
    };
    for (const auto& row : rows) {
        for (const std::string& path : row.excluded) {
            EXPECT_TRUE(row.list.IsExcluded(path)) << path;
        }
        for (const std::string& path : row.kept) {
            EXPECT_FALSE(row.list.IsExcluded(path)) << path;
        }
    }
}

// A shorter list saved over a longer one leaves the old values hidden behind its count, and a
// load replaces the lists. Loaded or added, a list holds at most a hundred entries. (Counts and
// entries a hand-edited settings file may hold are tried with the Qt store.)
TEST(ExclusionList, SaveAndLoadKeepBothListsAndTheCountDecidesWhatIsRead) {
    MemorySettingsStore store;
    List({"a", "b", "c", "d", "e"}).Save(store);
    List({"/obj/", "", "一時"}, {"bak"}).Save(store);
    EXPECT_EQ(store.section("JLIST"), (Section{{"JLIST_CNT", "3"},
                                               {"JLIST-0", "/obj/"},
                                               {"JLIST-1", ""},
                                               {"JLIST-2", "一時"},
                                               {"JLIST-3", "d"},
                                               {"JLIST-4", "e"}}));
    EXPECT_EQ(store.section("ELIST"), (Section{{"ELIST_CNT", "1"}, {"ELIST-0", "bak"}}));
    ExclusionList loaded = List({"old entry"});
    loaded.Load(store);
    EXPECT_EQ(loaded.names(), (Entries{"/obj/", "", "一時"}));
    EXPECT_EQ(loaded.extensions(), Entries{"bak"});
    store.WriteInt("ELIST", "ELIST_CNT", 150);
    for (int i = 0; i < 150; ++i) {
        store.WriteText("ELIST", "ELIST-" + std::to_string(i), "e" + std::to_string(i));
    }
    loaded.Load(store);
    ASSERT_EQ(loaded.extensions().size(), static_cast<std::size_t>(ExclusionList::kCapacity));
    EXPECT_EQ(loaded.extensions().back(), "e99");
    EXPECT_FALSE(loaded.AddExtension("refused"));
    loaded.Clear();
    EXPECT_TRUE(loaded.names().empty() && loaded.extensions().empty());
    for (int i = 0; i < ExclusionList::kCapacity; ++i) {
        ASSERT_TRUE(loaded.AddName("n" + std::to_string(i)));
    }
    EXPECT_FALSE(loaded.AddName("refused"));
    EXPECT_FALSE(loaded.IsExcluded("/d/refused"));
}

// Out of range or unreadable values: a typing slip keeps the default brake rather than switching
// it off, and keeps no versions; a preset number outside the table selects the first.
TEST(PresetSettings, ValuesAreReadWithinTheirRanges) {
    using T = PresetTable;
    const struct {
        const char *name, *stored;
        int T::*field;
        int read;
    } rows[] = {{"DELETELIMIT", "100", &T::deleteLimit, 100},
                {"DELETELIMIT", "101", &T::deleteLimit, 50},
                {"DELETELIMIT", "12abc", &T::deleteLimit, 50},
                {"KEEPVERSIONS", "36501", &T::keepVersions, 0},
                {"PRESETNO", "30", &T::currentPreset, 0},
                {"POSX", "-7", &T::windowLeft, -7}};
    for (const auto& row : rows) {
        MemorySettingsStore store;
        store.WriteText("Settings", row.name, row.stored);
        PresetTable table;
        table.*row.field = 1;
        LoadSettings(table, store);
        EXPECT_EQ(table.*row.field, row.read) << row.name << " " << row.stored;
    }
}

// A load replaces the whole table (an empty store: empty presets and the default brake);
// captions keep their line breaks. Kept versions are written once used, then also when off.
TEST(PresetSettings, TableComesBackUnchanged) {
    MemorySettingsStore store;
    PresetTable table, loaded;
    loaded.presets[3].caption = "old";
    LoadSettings(loaded, store);
    EXPECT_EQ(std::pair(loaded.presets, loaded.deleteLimit), std::pair(PresetArray(), 50));
    table.presets[11] = {"/src", "/mnt/バックアップ", "first line\r\nsecond line\nthird", 1, 1};
    SaveSettings(table, store);
    EXPECT_EQ(store.section("Settings").size(), 154u);  // no kept versions yet
    table.keepVersions = 14;
    SaveSettings(table, store);
    LoadSettings(loaded, store);
    EXPECT_EQ(std::pair(loaded.presets, loaded.keepVersions), std::pair(table.presets, 14));
    loaded.keepVersions = 0;
    SaveSettings(loaded, store);
    EXPECT_EQ(store.ReadInt("Settings", "KEEPVERSIONS", -1), 0);
}

using Status = DecodedPresetData::Status;
constexpr std::size_t kFirstCaption = 26;  // right after the header string

// Files are built byte by byte here, so that the tests do not share the encoder they check.
std::string Narrow(std::string_view bytes) {
    return static_cast<char>(bytes.size()) + std::string(bytes);
}
std::string Int32(std::int32_t value) {  // little-endian
    const auto v = static_cast<std::uint32_t>(value);
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}
const std::string kNoLists = Int32(0) + Int32(0), kEmpty = "\0\0\0"s + kNoLists;

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
    return File("1.2", kEmpty, lists);
}
std::string WithCaption(const std::string& captionBytes) {
    return File("1.2", kEmpty, kNoLists, captionBytes);
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
        {"", "\0"s},
        {a254, "\xFE" + a254},
        {a255, "\xFF\xFF\x00"s + a255},
        {a65533, "\xFF\xFD\xFF" + a65533},
        {a65534, "\xFF\xFF\xFF\xFE\xFF\0\0"s + a65534},
        {a65536, "\xFF\xFF\xFF\0\0\x01\0"s + a65536},
        // Texts CP932 holds are written narrow, half-width katakana as single bytes.
        {"日本", "\x04\x93\xFA\x96\x7B"},
        {"ﾃﾞｰﾀ", "\x04\xC3\xDE\xB0\xC0"},
        // Others wide: U+1F600 as a surrogate pair, U+301C that CP932 would fold onto U+FF5E.
        {"\xF0\x9F\x98\x80", "\xFF\xFE\xFF\x02\x3D\xD8\x00\xDE"s},
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
    const std::string malformed = "a\xFF", replaced = "a\xEF\xBF\xBD";
    EXPECT_EQ(DecodeOk(encode(malformed + "b")).presets[0].caption, replaced + "b");
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
    const ExclusionList lists = List({"/obj/", "", "一時"}, {"bak", "\xF0\x9F\x98\x80"});
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
    Entries kept;
    for (int i = 0; i < 150; ++i) {
        manyNames += Narrow("name" + std::to_string(i));
        if (i < 100) {
            kept.push_back("name" + std::to_string(i));
        }
    }
    const std::string forms = "\xFF\xFF\xFF\x03\0\0\0"s + "abc" +
                              "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x02\0\0\0\0\0\0\0"s + "de" +
                              "\xFF\xFE\xFF\xFF\x02\0"s + "x\0y\0"s;
    const std::string bad = Narrow("\x80" + std::string("A")) + Narrow("B\x93") +
                            "\xFF\xFE\xFF\x03"s + "a\0\0\xD8"s + "b\0"s;
    const std::string r = "\xEF\xBF\xBD";  // the replacement character
    const struct {
        std::string file;
        Preset preset;  // every preset of the file
        Entries names = {}, extensions = {};
    } rows[] = {
        {File("1.0", v10, ""), {"/s", "/t", "c", 0, 0}},
        {File("1.1", v11, v11Lists), {"/s", "/t", "c", 1, 0}, {"/obj/", "一時"}, {"tmp"}},
        {File("1.2", forms + Int32(1) + Int32(1), kNoLists), {"de", "xy", "abc", 1, 1}},
        {File("1.2", bad + Int32(0) + Int32(1), kNoLists), {"B" + r, "a" + r + "b", r + "A", 0, 1}},
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
          "\xFF\xFF\xFF\0\0\x01\0"s}) {
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
        {WithCaption("\xFF\xFF\xFF\xFE\xFF\xFF\xFF"s), past},
        {WithCaption(std::string(15, '\xFF')), past},
        {WithCaption("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0\0\0\0\0\0\0\x80"s), past},
        {WithCaption("\xFF\xFE\xFF\xFF\xFF\xFF\0\0\0\x80"s), past},
    };
    for (const auto& [bytes, problem] : rows) {
        const DecodedPresetData decoded = DecodePresetData(bytes);
        EXPECT_EQ(decoded.status, Status::Damaged);
        EXPECT_EQ(decoded.problem.substr(0, problem.size()), problem) << bytes.size();
    }
}

}  // namespace
}  // namespace mirova
