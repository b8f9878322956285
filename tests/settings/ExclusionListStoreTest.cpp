#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/ExclusionList.h"
#include "settings/SettingsStore.h"

namespace mirova {
namespace {

using Entries = std::vector<std::string>;

TEST(ExclusionListStore, SaveAndLoadKeepBothListsInOrder) {
    ExclusionList saved;
    saved.AddName("/obj/");
    saved.AddName("");
    saved.AddName("一時");
    saved.AddExtension("bak");
    MemorySettingsStore store;
    saved.Save(store);

    EXPECT_EQ(store.section("JLIST"),
              (std::map<std::string, std::string>{
                  {"JLIST_CNT", "3"}, {"JLIST-0", "/obj/"}, {"JLIST-1", ""}, {"JLIST-2", "一時"}}));
    EXPECT_EQ(store.section("ELIST"),
              (std::map<std::string, std::string>{{"ELIST_CNT", "1"}, {"ELIST-0", "bak"}}));

    ExclusionList loaded;
    loaded.AddName("old entry");  // replaced, not appended to
    loaded.Load(store);
    EXPECT_EQ(loaded.names(), saved.names());
    EXPECT_EQ(loaded.extensions(), saved.extensions());
}

TEST(ExclusionListStore, ShorterListLeavesOldValuesThatAreNotRead) {
    MemorySettingsStore store;
    ExclusionList five;
    for (const char* name : {"a", "b", "c", "d", "e"}) {
        five.AddName(name);
    }
    five.Save(store);
    ExclusionList three;
    for (const char* name : {"x", "y", "z"}) {
        three.AddName(name);
    }
    three.Save(store);

    EXPECT_EQ(store.section("JLIST").at("JLIST_CNT"), "3");
    EXPECT_EQ(store.section("JLIST").at("JLIST-3"), "d");
    EXPECT_EQ(store.section("JLIST").at("JLIST-4"), "e");
    ExclusionList loaded;
    loaded.Load(store);
    EXPECT_EQ(loaded.names(), (Entries{"x", "y", "z"}));
}

TEST(ExclusionListStore, CountDecidesHowManyEntriesAreRead) {
    MemorySettingsStore store;
    // A missing entry within the count is an empty one (which then excludes every item).
    store.WriteInt("JLIST", "JLIST_CNT", 2);
    store.WriteText("JLIST", "JLIST-0", "tmp");
    store.WriteInt("ELIST", "ELIST_CNT", -4);
    store.WriteText("ELIST", "ELIST-0", "never read");
    ExclusionList list;
    list.Load(store);
    EXPECT_EQ(list.names(), (Entries{"tmp", ""}));
    EXPECT_TRUE(list.extensions().empty());
    EXPECT_TRUE(list.IsExcluded("/any/path"));

    // More than the capacity: the first hundred are kept.
    store.WriteInt("ELIST", "ELIST_CNT", 150);
    for (int i = 0; i < 150; ++i) {
        store.WriteText("ELIST", "ELIST-" + std::to_string(i), "e" + std::to_string(i));
    }
    list.Load(store);
    ASSERT_EQ(list.extensions().size(), 100u);
    EXPECT_EQ(list.extensions().back(), "e99");

    // Nothing stored at all: both lists empty.
    MemorySettingsStore empty;
    list.Load(empty);
    EXPECT_TRUE(list.names().empty());
    EXPECT_TRUE(list.extensions().empty());
}

}  // namespace
}  // namespace mirova
