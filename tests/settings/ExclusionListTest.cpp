#include "settings/ExclusionList.h"

#include <gtest/gtest.h>

#include <string>

namespace mirova {
namespace {

using platform::TextEncoding;

ExclusionList Names(std::initializer_list<std::string_view> fragments,
                    TextEncoding encoding = TextEncoding::Utf8) {
    ExclusionList list(encoding);
    for (std::string_view fragment : fragments) {
        EXPECT_TRUE(list.AddName(fragment));
    }
    return list;
}

ExclusionList Extensions(std::initializer_list<std::string_view> extensions,
                         TextEncoding encoding = TextEncoding::Utf8) {
    ExclusionList list(encoding);
    for (std::string_view extension : extensions) {
        EXPECT_TRUE(list.AddExtension(extension));
    }
    return list;
}

TEST(ExclusionList, EmptyListsExcludeNothing) {
    const ExclusionList list;
    EXPECT_FALSE(list.IsExcluded("/work/a.txt"));
    EXPECT_FALSE(list.IsExcluded(""));
}

TEST(ExclusionList, NameFragmentIsACaseSensitiveSubstring) {
    const ExclusionList objFolder = Names({"/obj/"});
    EXPECT_TRUE(objFolder.IsExcluded("/work/src/obj/main.o"));
    EXPECT_TRUE(objFolder.IsExcluded("/work/src/obj/deep/x.o"));
    EXPECT_FALSE(objFolder.IsExcluded("/work/src/obj"));  // the folder itself is kept
    EXPECT_FALSE(objFolder.IsExcluded("/work/src/object/x.o"));

    const ExclusionList obj = Names({"obj"});
    EXPECT_TRUE(obj.IsExcluded("/work/src/obj"));
    EXPECT_TRUE(obj.IsExcluded("/work/object.txt"));
    EXPECT_FALSE(obj.IsExcluded("/work/OBJ/x"));

    EXPECT_FALSE(Names({"OBJ"}).IsExcluded("/work/obj/main.o"));
}

TEST(ExclusionList, AnyNameEntryMatches) {
    const ExclusionList list = Names({"never", "cache", "tmp"});
    EXPECT_TRUE(list.IsExcluded("/home/u/tmp"));
    EXPECT_TRUE(list.IsExcluded("/home/u/.cache/x"));
    EXPECT_FALSE(list.IsExcluded("/home/u/docs/a.txt"));
}

TEST(ExclusionList, EmptyFragmentExcludesEverything) {
    const ExclusionList list = Names({"zzz", ""});
    EXPECT_TRUE(list.IsExcluded("/data/a.txt"));
    EXPECT_TRUE(list.IsExcluded("/"));
}

TEST(ExclusionList, FragmentInTheRootExcludesTheWholeTree) {
    const ExclusionList list = Names({"backup"});
    EXPECT_TRUE(list.IsExcluded("/mnt/backup/a.txt"));
    EXPECT_TRUE(list.IsExcluded("/mnt/backup/sub"));
}

TEST(ExclusionList, ExtensionComparesLatinLettersWithoutCase) {
    const ExclusionList txt = Extensions({"TXT"});
    EXPECT_TRUE(txt.IsExcluded("/d/a.txt"));
    EXPECT_TRUE(txt.IsExcluded("/d/B.Txt"));
    EXPECT_FALSE(txt.IsExcluded("/d/a.txt2"));
    EXPECT_FALSE(txt.IsExcluded("/d/a.tx"));
    EXPECT_FALSE(txt.IsExcluded("/d/README"));

    EXPECT_FALSE(Extensions({".txt"}).IsExcluded("/d/a.txt"));
    EXPECT_TRUE(Extensions({"gz"}).IsExcluded("/d/x.tar.gz"));
    EXPECT_FALSE(Extensions({"tar.gz"}).IsExcluded("/d/x.tar.gz"));
    EXPECT_TRUE(Extensions({"gitignore"}).IsExcluded("/src/.gitignore"));
    // Only ASCII letters fold: "[" (0x5B) is not "{" (0x7B), nor "@" "`".
    EXPECT_FALSE(Extensions({"a["}).IsExcluded("/d/f.a{"));
    EXPECT_FALSE(Extensions({"@"}).IsExcluded("/d/f.`"));
}

TEST(ExclusionList, ExtensionTextRunsFromTheLastDotOfTheWholePath) {
    const ExclusionList list = Extensions({"2", "Makefile", "2/Makefile"});
    // The last dot lies in a folder name: the extension text is "2/Makefile".
    EXPECT_TRUE(list.IsExcluded("/src/rel.2/Makefile"));
    EXPECT_FALSE(Extensions({"2", "Makefile"}).IsExcluded("/src/rel.2/Makefile"));

    const ExclusionList bak = Extensions({"bak"});
    EXPECT_TRUE(bak.IsExcluded("/d/old.bak"));  // a folder with the extension
    EXPECT_FALSE(bak.IsExcluded("/d/old.bak/inside.doc"));
    EXPECT_FALSE(bak.IsExcluded("/d/old.bak/plain"));
}

TEST(ExclusionList, NameTestRunsBeforeExtensionTest) {
    ExclusionList list;
    ASSERT_TRUE(list.AddName("keep"));
    ASSERT_TRUE(list.AddExtension("log"));
    EXPECT_TRUE(list.IsExcluded("/d/keep"));
    EXPECT_TRUE(list.IsExcluded("/d/run.LOG"));
    EXPECT_FALSE(list.IsExcluded("/d/run.txt"));
}

TEST(ExclusionList, Utf8FragmentNeverMatchesInsideACharacter) {
    // "¢" is C2 A2; a fragment that is the bare continuation byte matches it byte-wise only.
    const ExclusionList list = Names({"\xA2"});
    EXPECT_FALSE(list.IsExcluded("/d/\xC2\xA2.txt"));
    // A stray continuation byte is a character of its own and does match.
    EXPECT_TRUE(list.IsExcluded("/d/\xC2\xA2/\xA2"));
    EXPECT_TRUE(Names({"表"}).IsExcluded("/d/表/x"));
}

TEST(ExclusionList, Cp932FragmentNeverMatchesOnATrailByte) {
    // "表" is 95 5C in CP932: its trail byte is the code of "\".
    const ExclusionList list = Names({"\\"}, TextEncoding::Cp932);
    EXPECT_FALSE(list.IsExcluded("D:/\x95\x5C/a.txt"));
    EXPECT_TRUE(list.IsExcluded("D:/\x95\x5C/a\\b.txt"));
    // "ソ" is 83 5C; "\x5C\x83" begins inside "表ソ" only byte-wise.
    EXPECT_FALSE(Names({"\x5C\x83"}, TextEncoding::Cp932).IsExcluded("/\x95\x5C\x83\x5C"));
    EXPECT_TRUE(Names({"\x83\x5C"}, TextEncoding::Cp932).IsExcluded("/\x95\x5C\x83\x5C"));
}

TEST(ExclusionList, Cp932ExtensionComparesDoubleByteCharactersWhole) {
    // "ア" is 83 41: its trail byte looks like "A" and must not fold to 83 61.
    EXPECT_FALSE(Extensions({"\x83\x61"}, TextEncoding::Cp932).IsExcluded("/d/f.\x83\x41"));
    EXPECT_TRUE(Extensions({"\x83\x41"}, TextEncoding::Cp932).IsExcluded("/d/f.\x83\x41"));
    EXPECT_TRUE(Extensions({"A\x83\x41"}, TextEncoding::Cp932).IsExcluded("/d/f.a\x83\x41"));
    // A lead byte before "." is a broken character; the dot still separates the extension.
    EXPECT_TRUE(Extensions({"txt"}, TextEncoding::Cp932).IsExcluded("/d/\x81.txt"));
}

TEST(ExclusionList, HoldsAtMostOneHundredEntriesPerList) {
    ExclusionList list;
    for (int i = 0; i < ExclusionList::kCapacity; ++i) {
        ASSERT_TRUE(list.AddName("n" + std::to_string(i)));
        ASSERT_TRUE(list.AddExtension("e" + std::to_string(i)));
    }
    EXPECT_FALSE(list.AddName("refused"));
    EXPECT_FALSE(list.AddExtension("refused"));
    EXPECT_EQ(list.names().size(), 100u);
    EXPECT_EQ(list.extensions().back(), "e99");
    EXPECT_FALSE(list.IsExcluded("/d/refused"));
    EXPECT_FALSE(list.IsExcluded("/d/a.refused"));

    list.Clear();
    EXPECT_TRUE(list.names().empty());
    EXPECT_TRUE(list.extensions().empty());
    EXPECT_TRUE(list.AddName(""));
    EXPECT_TRUE(list.IsExcluded("/d/anything"));
}

}  // namespace
}  // namespace mirova
