#include "fileops/PathText.h"

#include <gtest/gtest.h>

namespace mirova {
namespace {

TEST(PathText, StripTrailingBackslashRemovesOneSeparator) {
    EXPECT_EQ(StripTrailingBackslash("/"), "");
    EXPECT_EQ(StripTrailingBackslash("/data/"), "/data");
    EXPECT_EQ(StripTrailingBackslash("/data"), "/data");
    EXPECT_EQ(StripTrailingBackslash("/data//"), "/data/");
    EXPECT_EQ(StripTrailingBackslash(""), "");
}

TEST(PathText, JoinAfterStripIsRightForRootAndFolders) {
    EXPECT_EQ(JoinPath(StripTrailingBackslash("/"), "etc"), "/etc");
    EXPECT_EQ(JoinPath(StripTrailingBackslash("/data/"), "sub/a.txt"), "/data/sub/a.txt");
    EXPECT_EQ(JoinPath("/data", "表.txt"), "/data/表.txt");
}

}  // namespace
}  // namespace mirova
