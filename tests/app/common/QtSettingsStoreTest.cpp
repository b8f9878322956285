#include "app/common/QtSettingsStore.h"

#include "AppTesting.h"
#include "settings/ExclusionList.h"

namespace mirova {
namespace {

// The documentation's example file reads as a user would expect; hand-edited or damaged values
// read as the fallback; what the program writes survives a restart in its group.
TEST(QtSettingsStoreTest, HandWrittenAndWrittenValuesReadBackAndAnUnreadableFileIsReported) {
    test::TestFolder dir;
    dir.writeSettings(test::ReadFileText(MIROVA_EXAMPLE_SETTINGS) +
                      "[Hostile]\nBIG=99999999999999999999\nMIN=-2147483648\nWORD=yes\n"
                      "SPACED= 12 \nUNQUOTED=a, b\nJUNK=@Variant(\\0\\0\\0\\x7f\\xffjunk)\n");
    // Texts to write, CP932 bytes (not UTF-8) among them.
    const std::vector<std::string> texts(
        {"行1: 毎晩\nline 2, with a comma\r\n\tand a tab ", "/mnt/\x83\x74\x83\x48\x83\x8b\x83\x5f",
         "", "@Variant(x)", "\"quoted\"", "back\\slash", " spaced ", "a;b=c#d", "true"});
    {
        QtSettingsStore store;
        PresetTable table;
        LoadSettings(table, store);
        ExclusionList lists;
        lists.Load(store);
        EXPECT_EQ(table.keepVersions, 30);
        EXPECT_EQ(table.presets[1],
                  (Preset{"/home/user/Documents", "/mnt/desktop/home/user/Documents",
                          "書類 (laptop and desktop)", 1, 0}));
        EXPECT_THAT(lists.names(), ::testing::ElementsAre("/.cache/", "Thumbs.db"));
        EXPECT_THAT(lists.extensions(), ::testing::ElementsAre("tmp", "bak"));
        std::vector<int> hostile;
        for (const char* name : {"BIG", "MIN", "WORD", "SPACED", "UNQUOTED", "JUNK"}) {
            hostile.push_back(store.ReadInt("Hostile", name, 7));
        }
        EXPECT_THAT(hostile, ::testing::ElementsAre(7, -2147483647 - 1, 7, 12, 7, 7));
        EXPECT_EQ(store.ReadText("Hostile", "UNQUOTED", ""), "a,b");  // read as a list by Qt
        EXPECT_EQ(store.ReadText("Hostile", "JUNK", "fallback"), "fallback");
        store.WriteInt("Settings", "POSX", -120);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            store.WriteText("Other", "T" + std::to_string(i), texts[i]);
        }
        store.WriteText("Other", "NUMBER", "12abc");
        ASSERT_TRUE(store.Flush());
    }
    QtSettingsStore store;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(store.ReadText("Other", "T" + std::to_string(i), "-"), texts[i]) << i;
    }
    // A value that is not an integer, and missing values, read as the fallback.
    EXPECT_EQ(store.ReadInt("Other", "NUMBER", 7) + store.ReadInt("Other", "T0", 7), 14);
    EXPECT_EQ(store.ReadInt("Settings", "MISSING", -3), -3);
    EXPECT_EQ(store.ReadText("Settings", "MISSING", "fallback"), "fallback");
    EXPECT_EQ(store.ReadInt("Settings", "POSX", 0), -120);
    EXPECT_EQ(store.ReadText("Settings", "POSX", ""), "-120");
    EXPECT_EQ(store.ReadText("Settings", "T1", "none"), "none");  // groups do not share values
    EXPECT_THAT(dir.readSettings(), ::testing::HasSubstr("行1: 毎晩"));  // readable by a user
    std::filesystem::remove(dir / "config/TK-ORVELAN/Mirova.conf");
    dir.createFolder("config/TK-ORVELAN/Mirova.conf");
    EXPECT_FALSE(QtSettingsStore().Flush());  // a file that cannot be read is reported
}

}  // namespace
}  // namespace mirova
