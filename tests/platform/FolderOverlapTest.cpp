#include "platform/FolderOverlap.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TempDir.h"

namespace mirova::platform {
namespace {

// The overlap of two folders below the test's folder, or the errno (negative) of a failure.
struct Case {
    const char* source;
    const char* target;
    int expected;
};
constexpr int kNone = static_cast<int>(FolderOverlap::None);
constexpr int kSame = static_cast<int>(FolderOverlap::Same);
constexpr int kInside = static_cast<int>(FolderOverlap::TargetInsideSource);
constexpr int kAround = static_cast<int>(FolderOverlap::SourceInsideTarget);

// src/{docs/deep/er, backup, file.txt}, src2, other, "mnt/b ind"; the links lsrc -> src,
// ldocs -> src/docs and other/up -> ../src.
class FolderOverlapTest : public ::testing::Test {
protected:
    FolderOverlapTest() {
        tmp_.createFolder("src/docs/deep/er");
        tmp_.createFolder("src/backup");
        tmp_.createFile("src/file.txt", "x");
        tmp_.createFolder("src2");
        tmp_.createFolder("mnt/b ind");
        tmp_.createFolder("other");
        for (const auto& [target, link] : {std::pair{tmp_ / "src", "lsrc"},
                                           {tmp_ / "src/docs", "ldocs"},
                                           {"../src", "other/up"}}) {
            EXPECT_EQ(::symlink(target.c_str(), (tmp_ / link).c_str()), 0);
        }
    }
    int Find(const std::string& source, const std::string& target) {
        FolderOverlap out = FolderOverlap::None;
        const SysStatus status = FindFolderOverlap(source, target, out);
        return status.ok() ? static_cast<int>(out) : -status.error;
    }
    int FindBelow(const Case& c) { return Find(tmp_ / c.source, tmp_ / c.target); }

    test::TempDir tmp_;
};

// Every spelling of a folder: runs of "/", ".", "..", links, relative paths. A missing target is
// judged by the folder it would be created in; ".." after a missing folder as the kernel resolves
// it.
TEST_F(FolderOverlapTest, JudgesFoldersByIdentityWhateverTheSpelling) {
    // "source target" below the test's folder, by the answer expected.
    const std::pair<int, std::vector<std::string>> groups[] = {
        {kSame,
         {"src src", "src src//", "src /src", "src ./src", "src src2/../src", "src src/docs/..",
          "src lsrc", "lsrc/ src", "src other/up", "src//docs/ ldocs", "src new/../src",
          "src src/new/.."}},
        {kInside,
         {"src src/docs/deep/er", "src ldocs", "lsrc src/docs/deep", "src other/up/backup",
          "src src/new/deeper/still", "src ldocs/new", "src other/up/new", "src new/../src/new"}},
        {kAround, {"src/docs src", "src/docs/deep/er lsrc", "ldocs/deep/er other/up/docs"}},
        {kNone,
         {"src src2", "src2 src", "src/docs src/backup", "src other", "other src", "src src2/new",
          "src new", "src/docs src/new", "src new/a/../b"}},
        {-ENOENT, {"nosuch src2", "nosuch/../src src2"}},
        {-ENOTDIR, {"src/file.txt src2", "src2 src/file.txt", "src2 src/file.txt/new"}}};
    for (const auto& [expected, pairs] : groups) {
        for (const std::string& pair : pairs) {
            const std::size_t space = pair.find(' ');
            EXPECT_EQ(Find(tmp_ / pair.substr(0, space), tmp_ / pair.substr(space + 1)), expected)
                << pair;
        }
    }
    EXPECT_EQ(Find("", tmp_ / "src"), -ENOENT);
    EXPECT_EQ(Find(tmp_ / "src", ""), -ENOENT);
    const std::string relative =
        std::filesystem::relative(tmp_ / "src", std::filesystem::current_path()).string();
    ASSERT_NE(relative.front(), '/');
    EXPECT_EQ(Find(tmp_ / "lsrc", relative + "/"), kSame);
    EXPECT_EQ(Find(relative, tmp_ / "src/docs"), kInside);
    EXPECT_EQ(Find(tmp_ / "src/docs", relative), kAround);
    EXPECT_EQ(Find(tmp_ / "src", relative + "/new"), kInside);
}

// A bind mount has the identity of its folder, but ".." from it climbs the mount point's
// parents, so only the mounts tell that "mnt/b ind" (a bind of src/backup) lies in src. The
// space in the name is written "\040" in the mount table.
TEST_F(FolderOverlapTest, SeesThroughBindMounts) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "bind mounts need root";
    }
    constexpr int kCannotMount = 77, kFirstCase = 10;  // a sanitizer's report exits 1
    const std::vector<Case> cases = {
        {"src", "mnt/b ind", kInside},      {"mnt/b ind", "src", kAround},
        {"src/backup", "mnt/b ind", kSame}, {"src", "mnt/b ind/new", kInside},
        {"src2", "mnt/b ind", kNone},       {"mnt/b ind", "src/docs", kNone}};
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
            if (FindBelow(cases[i]) != cases[i].expected) {
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
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the first failing case is " << kFirstCase << " + index";
}

}  // namespace
}  // namespace mirova::platform
