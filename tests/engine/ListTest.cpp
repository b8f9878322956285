// The pure list work of a run: the file list, the command-line list, the classifications (held
// to a per-entry binary search on random lists) and the lines of the change record.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/AutoRunList.h"
#include "engine/ChangeRecord.h"
#include "engine/Classify.h"
#include "engine/Merge.h"
#include "engine/SortedMatch.h"
#include "fileops/KeptVersions.h"

namespace mirova {
namespace {

using Names = std::vector<std::string>;
constexpr std::uint32_t kSecond = 10'000'000;

Names NamesOf(const FileList& list) {
    Names names;
    for (int i = 0; i < list.count; ++i) {
        names.emplace_back(list.entries[i].name);
    }
    return names;
}
Names Strings(const std::vector<const char*>& names) {
    return {names.begin(), names.end()};
}

TEST(FileListTest, NameStoreSortCompareAndFind) {
    NameStore store;
    std::vector<std::pair<const char*, std::string>> added;
    // Enough names to fill several 1 MiB blocks, plus one longer than a block.
    for (int i = 0; i < 40'000; ++i) {
        std::string name = std::to_string(i) + std::string(static_cast<std::size_t>(i % 90), 'x');
        added.emplace_back(store.Add(name), name);
        if (i == 20'000) {
            added.emplace_back(store.Add(std::string(3 << 20, 'h')), std::string(3 << 20, 'h'));
        }
    }
    for (const auto& [stored, expected] : added) {
        ASSERT_EQ(std::string(stored), expected);
    }

    // Plain byte order: "/" after ".", capitals first, bytes above 0x7F after all ASCII.
    FileListPtr list = NewFileList(11);
    EXPECT_EQ(list->entries[10].name, nullptr);
    for (const char* name : {"a/b", "\xE3\x81\x82", "a.b", "a", "README", "B", "Readme", "a0"}) {
        list->entries[list->count++].name = list->names.Add(name);
    }
    SortFileList(*list);
    EXPECT_EQ(NamesOf(*list),
              (Names{"B", "README", "Readme", "a", "a.b", "a/b", "a0", "\xE3\x81\x82"}));
    for (const char* name : {"Readme", "README", "a/b", "\xE3\x81\x82", "B"}) {
        ASSERT_NE(FindEntry(*list, name), nullptr) << name;
        EXPECT_STREQ(FindEntry(*list, name)->name, name);
    }
    for (const char* name : {"readme", "a/", "", "zz"}) {
        EXPECT_EQ(FindEntry(*list, name), nullptr) << name;
    }
    EXPECT_EQ(FindEntry(*NewFileList(4), "a"), nullptr);
    EXPECT_EQ(CompareEntryNames(&list->entries[1], &list->entries[2]), -1);
    EXPECT_EQ(CompareEntryNames(&list->entries[7], &list->entries[1]), 1);
    EXPECT_EQ(CompareEntryNames(&list->entries[1], &list->entries[1]), 0);
    // Descending, as for the folders to delete: deepest first.
    std::vector<const char*> folders{"a", "a/b/c", "b", "a/b"};
    std::sort(folders.begin(), folders.end(),
              [](const char* x, const char* y) { return CompareEntryNamesDescending(&x, &y) < 0; });
    EXPECT_EQ(Strings(folders), (Names{"b", "a/b/c", "a/b", "a"}));
    const char* a = "a";
    EXPECT_EQ(CompareEntryNamesDescending(&a, &a), 0);
    FreeFileList(list);
    EXPECT_EQ(list, nullptr);
}

TEST(FileListTest, TimesAreEqualWithinTwoSecondsOfEqualHighHalves) {
    constexpr std::uint32_t base = 1'000'000'000;
    const struct {
        std::uint32_t aLow, aHigh, bLow, bHigh;
        int expected;
    } cases[] = {
        {base, 7, base, 7, 0},
        {base + 19 * kSecond / 10, 7, base, 7, 0},
        {base, 7, base + 2 * kSecond - 1, 7, 0},
        {base + 2 * kSecond, 7, base, 7, 1},
        {base, 7, base + 2 * kSecond, 7, -1},
        {0, 8, 0xFFFFFFFFu, 7, 1},
        {0xFFFFFFFFu, 6, 0, 7, -1},
        // 1 s apart, but a carry into the high half lies between them.
        {5'000'000, 8, 0xFFFFFFFFu - 5'000'000, 7, 1},
        {0xFFFFFFFFu, 0, 0, 0, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareFileTimes(c.aLow, c.aHigh, c.bLow, c.bHigh), c.expected) << c.aLow;
    }
}

TEST(AutoRunListTest, ReadsTheOptionsAndTheListOfTheCommandLine) {
    const auto upTo = [](int last) {
        std::string text;
        for (int n = 1; n <= last; ++n) {
            text += (n > 1 ? "," : "") + std::to_string(n);
        }
        return text;
    };
    const auto range = [](int last, std::vector<int> more = {}) {
        std::vector<int> numbers;
        for (int n = 1; n <= last; ++n) {
            numbers.push_back(n);
        }
        numbers.insert(numbers.end(), more.begin(), more.end());
        return numbers;
    };
    std::vector<int> oneThenZeros(30, 0);
    oneThenZeros[0] = 1;
    const struct {
        Names arguments;
        bool found;
        int suppressDeletion;
        std::vector<int> list;
    } rows[] = {
        {{}, false, 0, {}},
        {{"/D"}, true, 1, {}},
        {{"/D", "/A", "5"}, true, 1, {5}},
        {{"/A", "5", "/D"}, true, 1, {5}},
        {{"/A"}, true, 0, {}},
        {{"/a", "1"}, false, 0, {}},
        {{"/A ", "1"}, false, 0, {}},  // the whole argument must match
        {{"/A", "1,,2,"}, true, 0, {1, 0, 2}},
        {{"/A", "1,", "2"}, true, 0, {1}},
        {{"/A", "300"}, true, 0, {44}},
        {{"/A", "200"}, true, 0, {-56}},  // the entry is a signed byte
        // A long run of digits wraps without overflow; only its low 8 bits count.
        {{"/A", "99999999999999999999"}, true, 0, {-1}},
        // A character that is neither digit nor comma is never passed.
        {{"/A", "1;2"}, true, 0, oneThenZeros},
        // The argument after "/A" is the list whatever it is, and is then read on its own too.
        {{"/A", "/D"}, true, 1, std::vector<int>(30, 0)},
        {{"/A", ""}, true, 0, {}},
        // A second "/A" goes on after the first list and stops at the room of 30 entries.
        {{"/A", upTo(31)}, true, 0, range(30)},
        {{"/A", upTo(29), "/A", "40,41"}, true, 0, range(29, {40})},
        {{"/A", upTo(30), "/A", "7"}, true, 0, range(30)},
    };
    for (const auto& row : rows) {
        RunState state;
        const bool found = ParseAutoRunArguments(row.arguments, state);
        const std::string label = ::testing::PrintToString(row.arguments);
        EXPECT_EQ(found, row.found) << label;
        EXPECT_EQ(state.suppressDeletion, row.suppressDeletion) << label;
        const bool listed = std::ranges::count(row.arguments, "/A") > 0;
        EXPECT_EQ(state.noStopOnError.load(), listed ? 1 : 0) << label;
        ASSERT_EQ(state.autoRunCount, static_cast<int>(row.list.size())) << label;
        EXPECT_TRUE(std::equal(row.list.begin(), row.list.end(), state.autoRunPresets)) << label;
    }
}

// Random relative names over bytes that sort around "/" and one above 0x7f; the two lists share
// about half the names, and times and sizes sit on both sides of the two-second tolerance.
FileListPtr RandomList(std::mt19937& rng, const Names& pool, int size) {
    FileListPtr list = NewFileList(size);
    for (int i = static_cast<int>(rng() % (size + 1)); i > 0; --i) {
        FileEntry& entry = list->entries[list->count++];
        entry.name = list->names.Add(pool[rng() % pool.size()]);
        entry.isFolder = static_cast<int>(rng() % 4 == 0);
        const std::uint64_t sizes[] = {0, 1, 2, 5ull << 30};
        entry.size = entry.isFolder ? 0 : sizes[rng() % 4];
        const std::uint32_t offsets[] = {0, 19 * kSecond / 10, 2 * kSecond, 4 * kSecond};
        entry.lastWriteLow = 2'000'000'000u + offsets[rng() % 4];
        entry.lastWriteHigh = 30'000'000u;
    }
    return list;
}

// The classification and the merge as written with a binary search per entry: the reference.
WorkLists ReferenceClassify(const FileList& source, const FileList& target, Names& older) {
    WorkLists work;
    for (int i = 0; i < source.count; ++i) {
        const FileEntry& s = source.entries[i];
        const FileEntry* t = FindEntry(target, s.name);
        if (t != nullptr && t->isFolder != s.isFolder) {
            t = nullptr;  // a file and a folder of one name are different items
        }
        if (s.isFolder) {
            if (t == nullptr) {
                work.createFolderList.push_back(s.name);
            }
            continue;
        }
        const int order = t != nullptr ? CompareFileTimes(s, *t) : 0;
        if (t != nullptr && order == 0 && s.size == t->size) {
            continue;
        }
        work.copyList.push_back(s.name);
        work.copyTotal += s.size;
        if (t != nullptr) {
            work.deleteFileList.push_back(t->name);
            ++work.changedCount;
        }
        if (order < 0) {
            older.emplace_back(s.name);
            work.olderFound = true;
        }
    }
    for (int i = 0; i < target.count; ++i) {
        const FileEntry& t = target.entries[i];
        const FileEntry* s = FindEntry(source, t.name);
        if (s == nullptr || s->isFolder != t.isFolder) {
            (t.isFolder ? work.deleteFolderList : work.deleteFileList).push_back(t.name);
        }
    }
    return work;
}

MergeLists ReferenceMerge(const FileList& source, const FileList& target) {
    MergeLists merge;
    std::set<const FileEntry*> matched;
    for (int i = 0; i < source.count; ++i) {
        const FileEntry& s = source.entries[i];
        const FileEntry* t = FindEntry(target, s.name);
        if (t == nullptr) {
            (s.isFolder ? merge.createInTarget : merge.copyToTarget).push_back(s.name);
            continue;
        }
        matched.insert(t);
        const int order = CompareFileTimes(s, *t);
        if (s.isFolder != t->isFolder) {
            merge.kindClashes.push_back(s.name);
        } else if (!s.isFolder && (order > 0 || (order == 0 && s.size > t->size))) {
            merge.copyToTarget.push_back(s.name);
        } else if (!s.isFolder && (order < 0 || (order == 0 && s.size < t->size))) {
            merge.copyToSource.push_back(s.name);
        }
    }
    for (int i = 0; i < target.count; ++i) {
        if (!matched.contains(target.entries + i)) {
            const FileEntry& t = target.entries[i];
            (t.isFolder ? merge.createInSource : merge.copyToSource).push_back(t.name);
        }
    }
    return merge;
}

TEST(SortedMatchTest, WalksGiveTheAnswersOfThePerEntrySearch) {
    for (unsigned seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        const std::string alphabet = std::string("ab.-/A") + '\xff';
        Names pool(60);
        for (std::string& name : pool) {
            for (int i = 1 + static_cast<int>(rng() % 5); i > 0; --i) {
                name += alphabet[rng() % alphabet.size()];
            }
        }
        FileListPtr a = RandomList(rng, pool, 80);
        FileListPtr b = RandomList(rng, pool, 80);
        const bool sorted = seed % 4 != 0;
        if (sorted) {
            SortFileList(*a);
            SortFileList(*b);
        }
        ASSERT_TRUE(!sorted || (IsSortedList(*a) && IsSortedList(*b)));
        // Duplicate names (the random names repeat) must give the first.
        SortedMatcher matcher(*b, sorted);
        for (int i = 0; i < a->count; ++i) {
            ASSERT_EQ(matcher.Find(a->entries[i].name), FindEntry(*b, a->entries[i].name));
        }
        Names older, expectedOlder;
        const WorkLists work =
            ClassifyLists(*a, *b, [&](const char* name) { older.emplace_back(name); });
        const WorkLists expected = ReferenceClassify(*a, *b, expectedOlder);
        EXPECT_EQ(Strings(work.copyList), Strings(expected.copyList));
        EXPECT_EQ(Strings(work.deleteFileList), Strings(expected.deleteFileList));
        EXPECT_EQ(Strings(work.deleteFolderList), Strings(expected.deleteFolderList));
        EXPECT_EQ(Strings(work.createFolderList), Strings(expected.createFolderList));
        EXPECT_EQ(work.changedCount, expected.changedCount);
        EXPECT_EQ(work.copyTotal, expected.copyTotal);
        EXPECT_EQ(work.olderFound, expected.olderFound);
        EXPECT_EQ(older, expectedOlder);
        EXPECT_EQ(ClassifyLists(*a, *b, nullptr).olderFound, expected.olderFound);
        EXPECT_EQ(work.empty(), expected.copyList.empty() && expected.deleteFileList.empty() &&
                                    expected.deleteFolderList.empty() &&
                                    expected.createFolderList.empty());
        const MergeLists merge = ClassifyForMerge(*a, *b);
        const MergeLists want = ReferenceMerge(*a, *b);
        EXPECT_EQ(Strings(merge.copyToTarget), Strings(want.copyToTarget));
        EXPECT_EQ(Strings(merge.copyToSource), Strings(want.copyToSource));
        EXPECT_EQ(Strings(merge.createInTarget), Strings(want.createInTarget));
        EXPECT_EQ(Strings(merge.createInSource), Strings(want.createInSource));
        EXPECT_EQ(Strings(merge.kindClashes), Strings(want.kindClashes));
    }
}

TEST(ChangeRecordLine, OneLinePerItemWhateverTheName) {
    // Valid UTF-8 stays; control bytes, stray, overlong, surrogate and out-of-range sequences
    // become \xHH byte by byte, so that a line is one line and reads back to the same name.
    const struct {
        std::string name;
        bool text;
    } rows[] = {
        {"plain/名前.txt", true},    {"\xC2\x80\xDF\xBF", true},  {"\xE0\xA0\x80", true},
        {"\xED\x9F\xBF", true},      {"\xEE\x80\x80", true},      {"\xF0\x90\x80\x80", true},
        {"\xF4\x8F\xBF\xBF", true},  {"\xC1\xBF", false},         {"\xE0\x9F\xBF", false},
        {"\xED\xA0\x80", false},     {"\xED\xBF\xBF", false},     {"\xF0\x8F\xBF\xBF", false},
        {"\xF4\x90\x80\x80", false}, {"\xF5\x80\x80\x80", false}, {"\xE3\x81", false},
        {"\xC3\x41", false},         {"\x80\xFF", false},         {"\x01\x1F\x7F", false},
    };
    for (const auto& row : rows) {
        std::string escaped;
        for (const char c : row.name) {
            const auto byte = static_cast<unsigned char>(c);
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            escaped += row.text || byte == 'A' ? std::string(1, c) : hex;
        }
        EXPECT_EQ(EscapeField(row.name), escaped) << escaped;
        EXPECT_EQ(UnescapeField(escaped), row.name) << escaped;
    }
    for (const std::string name : {"new\nline\\", "back\\\\x41slash", "tail\t"}) {
        ChangeItem item;
        item.action = ChangeAction::CopyChanged;
        item.path = name;
        item.before = ItemState{true, 5, 1700000000};
        item.after = ItemState{true, 9, 1700000100};
        const std::string line = ItemLine(item);
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        ChangeItem back;
        ASSERT_TRUE(ParseItemLine(line, back)) << line;
        EXPECT_EQ(back.path, name);
        EXPECT_EQ(back.before.size, 5u);
        EXPECT_EQ(back.after.mtime, 1700000100);
        item.action = ChangeAction::CopyNew;
        item.before = ItemState{};
        ASSERT_TRUE(ParseItemLine(ItemLine(item), back)) << ItemLine(item);
        EXPECT_FALSE(back.before.exists);
        EXPECT_EQ(back.after.size, 9u);
    }
    ChangeItem failure;
    failure.action = ChangeAction::Failed;
    failure.message = "x が作成できません。\n(reason)";
    EXPECT_EQ(ItemLine(failure), "failed\ttarget\t-\tx が作成できません。\\x0A(reason)");
    ChangeItem back;
    for (const char* bad :
         {"# run: sync", "copy-new\ttarget\ta\t1", "copy-new\ttarget\ta\t-\t-\tx\t1",
          "copy-new\ttarget\ta\t-\t-\t1\t2023-11-14 22:13:20x",
          "copy-new\ttarget\ta\t-\t-\t1\tyesterday"}) {
        EXPECT_FALSE(ParseItemLine(bad, back)) << bad;
    }
}

TEST(VersionStampName, ReadsBackWhatItWrites) {
    const platform::LocalTime time{2026, 1, 2, 3, 4, 5};
    EXPECT_EQ(VersionStampName(time), "2026-01-02 030405");
    platform::LocalTime read;
    ASSERT_TRUE(ParseVersionStampName("2026-01-02 030405", read));
    EXPECT_EQ(VersionStampName(read), "2026-01-02 030405");
    for (const char* other : {"2026-01-02 03040", "2026-01-02_030405", "2026-13-02 030405",
                              "2026-01-02 030405 ", "x026-01-02 030405"}) {
        EXPECT_FALSE(ParseVersionStampName(other, read)) << other;
    }
}

}  // namespace
}  // namespace mirova
