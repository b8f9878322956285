#include "settings/ExclusionList.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/SettingsStore.h"

namespace mirova {
namespace {

using platform::TextEncoding;
using Entries = std::vector<std::string>;

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
    const struct {
        ExclusionList list;
        const char* path;
        bool excluded;
    } rows[] = {
        {List({}), "", false},
        {List({}), "/work/a.txt", false},
        // A name entry is a case-sensitive fragment of the whole path; any entry matches.
        {List({"/obj/"}), "/work/src/obj/deep/x.o", true},
        {List({"/obj/"}), "/work/src/obj", false},
        {List({"/obj/"}), "/work/src/object/x.o", false},
        {List({"never", "obj"}), "/work/object.txt", true},
        {List({"obj"}), "/work/OBJ/x", false},
        {List({"zzz", ""}), "/", true},  // an empty fragment excludes everything
        // The extension runs from the last dot of the whole path; ASCII letters fold only.
        {List({}, {"TXT"}), "/d/B.Txt", true},
        {List({}, {"GZ"}), "/d/x.tar.gz", true},
        {List({}, {"z"}), "/d/f.Z", true},
        {List({}, {"txt"}), "/d/a.txt2", false},
        {List({}, {"txt"}), "/d/a.tx", false},
        {List({}, {"txt"}), "/d/README", false},
        {List({}, {".txt"}), "/d/a.txt", false},
        {List({}, {"tar.gz"}), "/d/x.tar.gz", false},
        {List({}, {"gitignore"}), "/src/.gitignore", true},
        {List({}, {"a["}), "/d/f.a{", false},
        {List({}, {"@"}), "/d/f.`", false},
        {List({}, {"2", "Makefile"}), "/src/rel.2/Makefile", false},
        {List({}, {"2/Makefile"}), "/src/rel.2/Makefile", true},
        {List({}, {"bak"}), "/d/old.bak/plain", false},
        {List({"keep"}, {"log"}), "/d/run.LOG", true},
        {List({"keep"}, {"log"}), "/d/keep", true},
        {List({"keep"}, {"log"}), "/d/run.txt", false},
        // A fragment never matches inside a character: "¢" is C2 A2, a stray A2 is its own.
        {List({"\xA2"}), "/d/\xC2\xA2.txt", false},
        {List({"\xA2"}), "/d/\xC2\xA2/\xA2", true},
        {List({"表"}), "/d/表/x", true},
        // In CP932 "表" is 95 5C (its trail byte the code of "\"), "ソ" 83 5C, "ア" 83 41.
        {List({"\\"}, {}, TextEncoding::Cp932), "D:/\x95\x5C/a.txt", false},
        {List({"\\"}, {}, TextEncoding::Cp932), "D:/\x95\x5C/a\\b.txt", true},
        {List({"\x5C\x83"}, {}, TextEncoding::Cp932), "/\x95\x5C\x83\x5C", false},
        {List({"\x83\x5C"}, {}, TextEncoding::Cp932), "/\x95\x5C\x83\x5C", true},
        {List({}, {"\x83\x61"}, TextEncoding::Cp932), "/d/f.\x83\x41", false},
        {List({}, {"A\x83\x41"}, TextEncoding::Cp932), "/d/f.a\x83\x41", true},
        {List({}, {"txt"}, TextEncoding::Cp932), "/d/\x81.txt", true},  // a broken lead byte
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.list.IsExcluded(row.path), row.excluded) << row.path;
    }
}

TEST(ExclusionList, HoldsAtMostOneHundredEntriesPerList) {
    ExclusionList list;
    Entries hundred;
    for (int i = 0; i < ExclusionList::kCapacity; ++i) {
        hundred.push_back("e" + std::to_string(i));
        ASSERT_TRUE(list.AddName("n" + std::to_string(i)));
        ASSERT_TRUE(list.AddExtension(hundred.back()));
    }
    EXPECT_FALSE(list.AddName("refused"));
    EXPECT_FALSE(list.AddExtension("refused"));
    EXPECT_EQ(list.extensions(), hundred);
    EXPECT_FALSE(list.IsExcluded("/d/refused.refused"));
    list.Clear();
    EXPECT_EQ(list.names(), Entries{});
    EXPECT_EQ(list.extensions(), Entries{});
}

TEST(ExclusionList, SaveAndLoadKeepBothListsAndTheCountDecidesWhatIsRead) {
    MemorySettingsStore store;
    List({"a", "b", "c", "d", "e"}).Save(store);
    List({"/obj/", "", "一時"}, {"bak"}).Save(store);
    // The longer list's old values stay, hidden by the count.
    EXPECT_EQ(store.section("JLIST"), (std::map<std::string, std::string>{{"JLIST_CNT", "3"},
                                                                          {"JLIST-0", "/obj/"},
                                                                          {"JLIST-1", ""},
                                                                          {"JLIST-2", "一時"},
                                                                          {"JLIST-3", "d"},
                                                                          {"JLIST-4", "e"}}));
    EXPECT_EQ(store.section("ELIST"),
              (std::map<std::string, std::string>{{"ELIST_CNT", "1"}, {"ELIST-0", "bak"}}));
    ExclusionList loaded = List({"old entry"});  // replaced, not appended to
    loaded.Load(store);
    EXPECT_EQ(loaded.names(), (Entries{"/obj/", "", "一時"}));
    EXPECT_EQ(loaded.extensions(), Entries{"bak"});

    // A missing entry within the count is an empty one; a negative count an empty list; more
    // than the capacity keeps the first hundred.
    MemorySettingsStore other;
    other.WriteInt("JLIST", "JLIST_CNT", 2);
    other.WriteText("JLIST", "JLIST-0", "tmp");
    other.WriteInt("ELIST", "ELIST_CNT", -4);
    other.WriteText("ELIST", "ELIST-0", "never read");
    loaded.Load(other);
    EXPECT_EQ(loaded.names(), (Entries{"tmp", ""}));
    EXPECT_EQ(loaded.extensions(), Entries{});
    Entries hundred;
    other.WriteInt("ELIST", "ELIST_CNT", 150);
    for (int i = 0; i < 150; ++i) {
        other.WriteText("ELIST", "ELIST-" + std::to_string(i), "e" + std::to_string(i));
        if (i < 100) {
            hundred.push_back("e" + std::to_string(i));
        }
    }
    loaded.Load(other);
    EXPECT_EQ(loaded.extensions(), hundred);
    MemorySettingsStore empty;
    loaded.Load(empty);
    EXPECT_EQ(loaded.names(), Entries{});
}

}  // namespace
}  // namespace mirova
