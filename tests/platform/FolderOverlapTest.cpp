#include "platform/FolderOverlap.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "TempDir.h"

namespace mirova::platform {
namespace {

using test::TempDir;
using enum FolderOverlap;

struct Case {
    const char* source;  // both relative to the temporary folder
    const char* target;
    FolderOverlap expected;
};

// src/{docs/deep/er, backup, file.txt}, src2, other; the links lsrc -> src, ldocs -> src/docs
// and other/up -> ../src.
class FolderOverlapTest : public ::testing::Test {
protected:
    FolderOverlapTest() {
        tmp_.createFolder("src/docs/deep/er");
        tmp_.createFolder("src/backup");
        tmp_.createFile("src/file.txt", "x");
        tmp_.createFolder("src2");
        tmp_.createFolder("other");
        tmp_.createFolder("mnt/b ind");
        Link(tmp_ / "src", "lsrc");
        Link(tmp_ / "src/docs", "ldocs");
        Link("../src", "other/up");
    }

    void Link(const std::string& target, const std::string& relative) {
        ASSERT_EQ(::symlink(target.c_str(), (tmp_ / relative).c_str()), 0) << relative;
    }
    // The result, or the errno as a negative number when the call fails.
    int Find(const std::string& source, const std::string& target) {
        FolderOverlap out = None;
        const SysStatus status = FindFolderOverlap(source, target, out);
        return status.ok() ? static_cast<int>(out) : -status.error;
    }
    int FindBelow(const Case& c) { return Find(tmp_ / c.source, tmp_ / c.target); }

    TempDir tmp_;
};

TEST_F(FolderOverlapTest, JudgesFoldersByIdentityWhateverTheSpelling) {
    const std::vector<Case> cases = {
        {"src", "src", Same},
        {"src", "src/", Same},
        {"src", "src//", Same},
        {"src", "/src", Same},  // a doubled slash after the temporary folder
        {"src", "./src", Same},
        {"src", "src2/../src", Same},
        {"src", "src/docs/..", Same},
        {"src", "lsrc", Same},
        {"lsrc/", "src", Same},
        {"src", "other/up", Same},  // a relative link
        {"src//docs/", "ldocs", Same},
        {"src", "src/docs", TargetInsideSource},
        {"src", "src/docs/deep/er", TargetInsideSource},
        {"src", "ldocs", TargetInsideSource},
        {"lsrc", "src/docs/deep", TargetInsideSource},
        {"src", "other/up/backup", TargetInsideSource},
        {"src/docs", "src", SourceInsideTarget},
        {"src/docs/deep/er", "lsrc", SourceInsideTarget},
        {"ldocs", "src", SourceInsideTarget},
        {"ldocs/deep/er", "other/up/docs", SourceInsideTarget},
        {"src", "src2", None},  // a name that begins with the other's
        {"src2", "src", None},
        {"src/docs", "src/backup", None},
        {"src", "other", None},  // holding a link to the source is no overlap
        {"other", "src", None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindBelow(c), static_cast<int>(c.expected)) << c.source << " -> " << c.target;
    }
}

TEST_F(FolderOverlapTest, JudgesAMissingTargetByTheFolderItWouldBeCreatedIn) {
    const std::vector<Case> cases = {
        {"src", "src/new", TargetInsideSource},
        {"src", "src/new/deeper/still", TargetInsideSource},
        {"src", "src/docs/new", TargetInsideSource},
        {"src", "lsrc/new", TargetInsideSource},
        {"src", "other/up/new", TargetInsideSource},
        {"src", "new/../src/new", TargetInsideSource},
        {"src", "new/../src", Same},  // ".." after a missing folder comes back out of it
        {"src", "src/new/..", Same},
        {"src", "src2/new", None},
        {"src", "new", None},
        {"src/docs", "src/new", None},
        {"src", "new/a/../b", None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindBelow(c), static_cast<int>(c.expected)) << c.source << " -> " << c.target;
    }
}

TEST_F(FolderOverlapTest, RelativeAndAbsoluteSpellingsOfOneFolderMeet) {
    const std::string relative =
        std::filesystem::relative(tmp_ / "src", std::filesystem::current_path()).string();
    ASSERT_NE(relative.front(), '/');
    EXPECT_EQ(Find(relative, tmp_ / "src"), static_cast<int>(Same));
    EXPECT_EQ(Find(tmp_ / "lsrc", relative + "/"), static_cast<int>(Same));
    EXPECT_EQ(Find(relative, tmp_ / "src/docs"), static_cast<int>(TargetInsideSource));
    EXPECT_EQ(Find(tmp_ / "src/docs", relative), static_cast<int>(SourceInsideTarget));
    EXPECT_EQ(Find(tmp_ / "src", relative + "/new"), static_cast<int>(TargetInsideSource));
    EXPECT_EQ(Find(relative, relative + "2"), static_cast<int>(None));
}

TEST_F(FolderOverlapTest, FailsWhenAFolderCannotBeReached) {
    const std::vector<std::pair<Case, int>> cases = {
        {{"nosuch", "src2", None}, ENOENT},
        {{"nosuch/../src", "src2", None}, ENOENT},  // as the kernel resolves it
        {{"src/file.txt", "src2", None}, ENOTDIR},
        {{"src2", "src/file.txt", None}, ENOTDIR},
        {{"src2", "src/file.txt/new", None}, ENOTDIR},
    };
    for (const auto& [c, error] : cases) {
        EXPECT_EQ(FindBelow(c), -error) << c.source << " -> " << c.target;
    }
    EXPECT_EQ(Find("", tmp_ / "src"), -ENOENT);
    EXPECT_EQ(Find(tmp_ / "src", ""), -ENOENT);
}

// A bind mount has the identity of its folder, but ".." from it climbs the mount point's
// parents, so only the mounts tell that "mnt/b ind" (a bind of src/backup) lies in src. The
// space in the name is written "\040" in the mount table.
TEST_F(FolderOverlapTest, SeesThroughBindMounts) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "bind mounts need root";
    }
    constexpr int kCannotMount = 77;
    constexpr int kFirstCase = 10;  // exit codes of failed cases; a sanitizer's report exits 1
    const std::vector<Case> cases = {
        {"src", "mnt/b ind", TargetInsideSource},
        {"mnt/b ind", "src", SourceInsideTarget},
        {"src/backup", "mnt/b ind", Same},
        {"src", "mnt/b ind/new", TargetInsideSource},
        {"src2", "mnt/b ind", None},
        {"mnt/b ind", "src/docs", None},
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The mount lives in the child's own namespace and vanishes with it.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount((tmp_ / "src/backup").c_str(), (tmp_ / "mnt/b ind").c_str(), nullptr, MS_BIND,
                    nullptr) != 0) {
            ::_exit(kCannotMount);
        }
        for (std::size_t i = 0; i < cases.size(); ++i) {
            if (FindBelow(cases[i]) != static_cast<int>(cases[i].expected)) {
                ::_exit(kFirstCase + static_cast<int>(i));
            }
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kCannotMount) {
        GTEST_SKIP() << "no private mount namespace here";
    }
    const int code = WEXITSTATUS(status);
    if (code >= kFirstCase && code < kFirstCase + static_cast<int>(cases.size())) {
        const Case& c = cases[static_cast<std::size_t>(code - kFirstCase)];
        ADD_FAILURE() << c.source << " -> " << c.target << " is not "
                      << static_cast<int>(c.expected);
    } else {
        EXPECT_EQ(code, 0);
    }
}

}  // namespace
}  // namespace mirova::platform
