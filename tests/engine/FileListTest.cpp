#include "engine/FileList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace mirova {
namespace {

constexpr std::uint32_t kTicksPerSecond = 10'000'000;

FileListPtr ListOf(const std::vector<std::string>& names) {
    FileListPtr list = NewFileList(static_cast<int>(names.size()) + 1);
    for (const std::string& name : names) {
        FileEntry& entry = list->entries[list->count++];
        entry.name = list->names.Add(name);
    }
    return list;
}

std::vector<std::string> NamesOf(const FileList& list) {
    std::vector<std::string> names;
    for (int i = 0; i < list.count; ++i) {
        names.emplace_back(list.entries[i].name);
    }
    return names;
}

TEST(NameStoreTest, KeepsEveryNameInPlaceAcrossBlocks) {
    NameStore store;
    std::vector<std::pair<const char*, std::string>> added;
    // Enough names to fill several 1 MiB blocks, plus one longer than a block.
    for (int i = 0; i < 40'000; ++i) {
        std::string name =
            "folder/" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 90), 'x');
        added.emplace_back(store.Add(name), name);
        if (i == 20'000) {
            std::string huge(3 << 20, 'h');
            added.emplace_back(store.Add(huge), huge);
        }
    }
    added.emplace_back(store.Add(""), "");
    for (const auto& [stored, expected] : added) {
        ASSERT_EQ(std::strlen(stored), expected.size());
        ASSERT_EQ(std::string(stored), expected);
    }
}

TEST(FileListTest, NewListIsEmptyAndZeroFilled) {
    FileListPtr list = NewFileList(1000);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 0);
    EXPECT_EQ(list->capacity, 1000);
    EXPECT_EQ(list->entries[0].name, nullptr);
    EXPECT_EQ(list->entries[999].name, nullptr);
    EXPECT_EQ(list->entries[999].size, 0u);
    FreeFileList(list);
    EXPECT_EQ(list, nullptr);
}

TEST(FileListTest, SortsInPlainByteOrder) {
    // "/" (0x2F) sorts after "." (0x2E) and every prefix sorts before its extensions; capitals
    // come before small letters; bytes above 0x7F (UTF-8) come after all ASCII.
    FileListPtr list =
        ListOf({"a/b", "\xE3\x81\x82", "a.b", "a", "README", "B", "Readme", "a-", "Z", "a0"});
    SortFileList(*list);
    EXPECT_EQ(NamesOf(*list), (std::vector<std::string>{"B", "README", "Readme", "Z", "a", "a-",
                                                        "a.b", "a/b", "a0", "\xE3\x81\x82"}));
}

TEST(FileListTest, NameComparisonsAreSignedAndCaseSensitive) {
    const FileEntry low{"Readme", 0, 0, 0, 0, 0};
    const FileEntry high{"readme", 0, 0, 0, 0, 0};
    EXPECT_EQ(CompareEntryNames(&low, &high), -1);
    EXPECT_EQ(CompareEntryNames(&high, &low), 1);
    EXPECT_EQ(CompareEntryNames(&low, &low), 0);

    // A byte above 0x7F is larger than any ASCII byte (unsigned comparison).
    const FileEntry wide{"\xE3\x81\x82", 0, 0, 0, 0, 0};
    EXPECT_EQ(CompareEntryNames(&wide, &high), 1);

    // The descending order, as used for the folders to delete: deepest first.
    std::vector<const char*> folders{"a", "a/b/c", "b", "a/b"};
    std::sort(folders.begin(), folders.end(),
              [](const char* x, const char* y) { return CompareEntryNamesDescending(&x, &y) < 0; });
    EXPECT_EQ(std::vector<std::string>(folders.begin(), folders.end()),
              (std::vector<std::string>{"b", "a/b/c", "a/b", "a"}));
    const char* a = "a";
    const char* b = "b";
    EXPECT_EQ(CompareEntryNamesDescending(&a, &b), 1);
    EXPECT_EQ(CompareEntryNamesDescending(&b, &a), -1);
    EXPECT_EQ(CompareEntryNamesDescending(&a, &a), 0);
}

TEST(FileListTest, FindEntryMatchesExactBytesOnly) {
    FileListPtr list = ListOf({"sub/a.txt", "Readme", "README", "sub", "z"});
    SortFileList(*list);
    for (const char* name : {"Readme", "README", "sub/a.txt", "z"}) {
        const FileEntry* found = FindEntry(*list, name);
        ASSERT_NE(found, nullptr) << name;
        EXPECT_STREQ(found->name, name);
    }
    for (const char* name : {"readme", "sub/", "su", "", "zz"}) {
        EXPECT_EQ(FindEntry(*list, name), nullptr) << name;
    }
    EXPECT_EQ(FindEntry(*NewFileList(4), "a"), nullptr);
}

struct TimeCase {
    const char* what;
    std::uint32_t aLow, aHigh, bLow, bHigh;
    int expected;
};

TEST(CompareFileTimesTest, TwoSecondToleranceWithinEqualHighHalves) {
    constexpr std::uint32_t base = 1'000'000'000;
    const TimeCase cases[] = {
        {"identical", base, 7, base, 7, 0},
        {"1.9 s later", base + 19 * kTicksPerSecond / 10, 7, base, 7, 0},
        {"1.9 s earlier", base, 7, base + 19 * kTicksPerSecond / 10, 7, 0},
        {"just under 2 s", base + 2 * kTicksPerSecond - 1, 7, base, 7, 0},
        {"2.0 s later", base + 2 * kTicksPerSecond, 7, base, 7, 1},
        {"2.0 s earlier", base, 7, base + 2 * kTicksPerSecond, 7, -1},
        {"high half larger, low smaller", 0, 8, 0xFFFFFFFFu, 7, 1},
        {"high half smaller", 0xFFFFFFFFu, 6, 0, 7, -1},
        // 1 s apart, but a carry into the high half lies between them.
        {"1 s across a high-half change", 5'000'000, 8, 0xFFFFFFFFu - 5'000'000, 7, 1},
        {"1 s across, reversed", 0xFFFFFFFFu - 5'000'000, 7, 5'000'000, 8, -1},
        {"extremes of the low half", 0xFFFFFFFFu, 0, 0, 0, 1},
    };
    for (const TimeCase& c : cases) {
        EXPECT_EQ(CompareFileTimes(c.aLow, c.aHigh, c.bLow, c.bHigh), c.expected) << c.what;
    }
    const FileEntry a{"a", base + 3 * kTicksPerSecond, 0, 0, 0, 0};
    const FileEntry b{"b", base, 0, 0, 0, 0};
    EXPECT_EQ(CompareFileTimes(a, b), 1);
    EXPECT_EQ(CompareFileTimes(b, a), -1);
}

}  // namespace
}  // namespace mirova
