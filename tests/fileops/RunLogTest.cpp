#include "fileops/RunLog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "platform/Clock.h"

namespace mirova {
namespace {

using test::ReadFileText;
using test::ScopedUnprivileged;
using test::TempDir;

// Sets or clears one environment variable for the life of the object and puts the old value
// back afterwards.
class EnvOverride {
public:
    explicit EnvOverride(const char* name) : name_(name) {
        if (const char* old = std::getenv(name)) {
            previous_ = old;
        }
    }
    ~EnvOverride() {
        if (previous_) {
            ::setenv(name_, previous_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;

    void Set(const char* value) { ::setenv(name_, value, 1); }
    void Unset() { ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return 0;
    }
    return st.st_mode;
}

bool IsFolder(const std::string& path) {
    return S_ISDIR(ModeOf(path));
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(LogFolder, FollowsTheEnvironmentAtEveryCall) {
    EnvOverride logDir("MIROVA_LOG_DIR");
    EnvOverride stateHome("XDG_STATE_HOME");
    EnvOverride home("HOME");
    home.Set("/home/tester");

    logDir.Set("/var/tmp/mirova-logs");
    stateHome.Set("/srv/state");
    EXPECT_EQ(LogFolder(), "/var/tmp/mirova-logs");
    EXPECT_EQ(LogFilePath(kRunLogName), "/var/tmp/mirova-logs/Mirova.log");

    logDir.Set("");  // empty counts as unset
    EXPECT_EQ(LogFolder(), "/srv/state/Mirova");
    EXPECT_EQ(LogFilePath(kReverseListName), "/srv/state/Mirova/ReverseList.txt");

    stateHome.Set("relative/state");  // a relative XDG_STATE_HOME is ignored
    EXPECT_EQ(LogFolder(), "/home/tester/.local/state/Mirova");

    logDir.Unset();
    stateHome.Unset();
    EXPECT_EQ(LogFolder(), "/home/tester/.local/state/Mirova");
}

TEST(LogFolder, IsCreatedPrivateWithItsParents) {
    TempDir temp;
    EnvOverride logDir("MIROVA_LOG_DIR");
    const std::string folder = temp / "state/deeper/Mirova";
    logDir.Set(folder.c_str());

    ASSERT_TRUE(EnsureLogFolder());
    EXPECT_TRUE(IsFolder(temp / "state/deeper"));
    EXPECT_EQ(ModeOf(folder) & 07777, 0700u);
    // A second call finds it and succeeds.
    EXPECT_TRUE(EnsureLogFolder());
}

class WriteLogTest : public ::testing::Test {
protected:
    void TearDown() override { platform::SetClock(nullptr); }

    void FixTime(platform::LocalTime time) {
        clock_.emplace(time);
        platform::SetClock(&*clock_);
    }

    TempDir temp_;
    std::optional<platform::FixedClock> clock_;
};

TEST_F(WriteLogTest, FirstLineCreatesFolderAndFile) {
    FixTime({2017, 3, 5, 14, 7, 9});
    ASSERT_FALSE(IsFolder(temp_.logDir()));

    WriteLog("ﾏｰｼﾞ処理終了", 1);

    EXPECT_EQ(temp_.readLog(), "170305-140709: ﾏｰｼﾞ処理終了\n");
    EXPECT_EQ(ModeOf(temp_.logDir()) & 07777, 0700u);
    EXPECT_EQ(ModeOf(LogFilePath(kRunLogName)) & 0077, 0u);
}

TEST_F(WriteLogTest, StampedOnlyForOneAndAppendedInOrder) {
    FixTime({2017, 3, 5, 14, 7, 9});
    WriteLog("first", 1);
    WriteLog("2024年1月2日 3:4:5  Mirova Preset 1 Start.", 0);
    WriteLog("two", 2);
    WriteLog(std::string("same second"), 1);

    EXPECT_EQ(temp_.readLog(),
              "170305-140709: first\n"
              "2024年1月2日 3:4:5  Mirova Preset 1 Start.\n"
              "two\n"
              "170305-140709: same second\n");
}

TEST_F(WriteLogTest, StampFieldsArePaddedAndYearCanGrowPastTwoDigits) {
    FixTime({2100, 12, 31, 23, 59, 58});
    WriteLog("late", 1);
    FixTime({2001, 1, 2, 0, 0, 0});
    WriteLog("early", 1);

    EXPECT_EQ(temp_.readLog(), "1001231-235958: late\n010102-000000: early\n");
}

TEST_F(WriteLogTest, EmbeddedNewlineGivesTwoLinesOnlyFirstStamped) {
    FixTime({2017, 3, 5, 14, 7, 9});
    WriteLog("上書きしますか？\nYes", 1);
    WriteLog("", 0);

    EXPECT_EQ(temp_.readLog(), "170305-140709: 上書きしますか？\nYes\n\n");
}

TEST_F(WriteLogTest, ConcurrentWritersKeepLinesWholeAndInOrder) {
    constexpr int kLines = 3000;
    const std::string padding(300, 'x');
    auto writer = [&](char id) {
        char number[16];
        for (int i = 0; i < kLines; ++i) {
            std::snprintf(number, sizeof number, "%06d", i);
            WriteLog(std::string(1, id) + number + padding + id, 0);
        }
    };
    std::thread first(writer, 'A');
    std::thread second(writer, 'B');
    first.join();
    second.join();

    const std::vector<std::string> lines = SplitLines(temp_.readLog());
    ASSERT_EQ(lines.size(), 2u * kLines);
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        ASSERT_EQ(line.size(), 1 + 6 + padding.size() + 1) << line.substr(0, 40);
        const char id = line.front();
        ASSERT_TRUE(id == 'A' || id == 'B') << line.substr(0, 40);
        ASSERT_EQ(line.back(), id);
        ASSERT_EQ(line.substr(7, padding.size()), padding);
        int& expected = next[id - 'A'];
        ASSERT_EQ(std::atoi(line.substr(1, 6).c_str()), expected) << line.substr(0, 40);
        ++expected;
    }
}

TEST_F(WriteLogTest, UnwritableLogDropsLinesSilently) {
    // A file where the log folder's parent should be: the folder cannot be created, by anyone.
    temp_.createFile("blocker", "keep");
    EnvOverride logDir("MIROVA_LOG_DIR");
    logDir.Set((temp_ / "blocker/log").c_str());

    EXPECT_FALSE(EnsureLogFolder());
    WriteLog("lost", 1);
    AppendReverseList("lost.txt");
    EXPECT_EQ(temp_.read("blocker"), "keep");

    // A folder where the log file should be: the open fails.
    logDir.Set(temp_.logDir().c_str());
    temp_.createFolder("log/Mirova.log");
    WriteLog("lost too", 1);
    EXPECT_TRUE(IsFolder(LogFilePath(kRunLogName)));
}

TEST_F(WriteLogTest, ReverseListGetsOneNamePerLineWithoutStamp) {
    FixTime({2017, 3, 5, 14, 7, 9});
    AppendReverseList("sub/file.txt");
    AppendReverseList("表.txt");

    EXPECT_EQ(ReadFileText(LogFilePath(kReverseListName)), "sub/file.txt\n表.txt\n");
    EXPECT_EQ(temp_.readLog(), "");
}

// Folder creation along a path.

TEST(MakeFolderPath, ExistingPathsAreLeftAlone) {
    TempDir temp;
    temp.createFile("a/keep.txt", "k");
    EXPECT_EQ(MakeFolderPath("/"), 0);
    EXPECT_EQ(MakeFolderPath(temp.path().c_str()), 0);
    EXPECT_EQ(MakeFolderPath((temp / "a").c_str()), 0);
    EXPECT_EQ(temp.read("a/keep.txt"), "k");
}

TEST(MakeFolderPath, CreatesEveryMissingFolder) {
    TempDir temp;
    temp.createFolder("a");
    EXPECT_EQ(MakeFolderPath((temp / "a/b/c").c_str()), 0);
    EXPECT_TRUE(IsFolder(temp / "a/b/c"));

    EXPECT_EQ(MakeFolderPath((temp / "t/u/").c_str()), 0);
    EXPECT_TRUE(IsFolder(temp / "t/u"));

    // Runs of separators separate like one: "/x//y" is the folder /x/y.
    EXPECT_EQ(MakeFolderPath((temp.path() + "//x///y//").c_str()), 0);
    EXPECT_TRUE(IsFolder(temp / "x/y"));
}

TEST(MakeFolderPath, FileOnThePathFails) {
    TempDir temp;
    temp.createFile("f", "data");

    EXPECT_EQ(MakeFolderPath((temp / "f/sub").c_str()), -1);
    EXPECT_EQ(MakeFolderPath((temp / "f").c_str()), -1);
    EXPECT_EQ(MakeFolderPath((temp / "f/").c_str()), -1);
    EXPECT_EQ(temp.read("f"), "data");
}

TEST(MakeFolderPath, CreationFailureFails) {
    TempDir temp;
    // No file system takes a name longer than 255 bytes, not even from root.
    const std::string tooLong = temp / (std::string(256, 'n') + "/sub");
    EXPECT_EQ(MakeFolderPath(tooLong.c_str()), -1);

    const ScopedUnprivileged unprivileged(temp);
    temp.createFolder("locked");
    ASSERT_EQ(::chmod((temp / "locked").c_str(), 0500), 0);
    EXPECT_EQ(MakeFolderPath((temp / "locked/new/deeper").c_str()), -1);
    EXPECT_FALSE(IsFolder(temp / "locked/new"));
}

TEST(MakeFolderPath, RelativePathsAreRefused) {
    EXPECT_EQ(MakeFolderPath(""), -1);
    EXPECT_EQ(MakeFolderPath("mirova-relative-probe/sub"), -1);
    EXPECT_FALSE(IsFolder("mirova-relative-probe"));
}

// Opens each folder of a path relative to the previous one, so that paths longer than PATH_MAX
// can be checked and removed without the plain calls.
class FolderChain {
public:
    FolderChain(const std::string& root, const std::vector<std::string>& names) : names_(names) {
        fds_.push_back(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        for (const std::string& name : names_) {
            const int fd = ::openat(fds_.back(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) {
                break;
            }
            fds_.push_back(fd);
        }
    }
    ~FolderChain() {
        for (int fd : fds_) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    FolderChain(const FolderChain&) = delete;
    FolderChain& operator=(const FolderChain&) = delete;

    bool complete() const { return fds_.size() == names_.size() + 1 && fds_.front() >= 0; }

    // Removes the opened folders, deepest first.
    void RemoveAll() {
        for (std::size_t i = fds_.size() - 1; i > 0; --i) {
            ::unlinkat(fds_[i - 1], names_[i - 1].c_str(), AT_REMOVEDIR);
        }
    }

private:
    std::vector<std::string> names_;
    std::vector<int> fds_;
};

TEST(MakeFolderPath, ReachesPathsLongerThanPathMax) {
    TempDir temp;
    std::vector<std::string> names;
    std::string path = temp.path();
    for (int i = 0; path.size() <= PATH_MAX + 200; ++i) {
        names.push_back(std::string(200, static_cast<char>('a' + i % 26)));
        path += "/" + names.back();
    }
    EXPECT_EQ(MakeFolderPath(path.c_str()), 0);
    FolderChain chain(temp.path(), names);
    EXPECT_TRUE(chain.complete());
    EXPECT_EQ(MakeFolderPath(path.c_str()), 0);
    chain.RemoveAll();
}

TEST(FormatToBuffer, WritesAndCutsAt255Characters) {
    char buffer[256];
    EXPECT_EQ(FormatToBuffer(buffer, "%d,", 30), 3);
    EXPECT_STREQ(buffer, "30,");

    const std::string longText(300, 'z');
    EXPECT_EQ(FormatToBuffer(buffer, "%s", longText.c_str()), 255);
    EXPECT_EQ(std::strlen(buffer), 255u);
    EXPECT_EQ(std::string(buffer), longText.substr(0, 255));

    EXPECT_EQ(FormatToBuffer(buffer, "%s", std::string(255, 'y').c_str()), 255);
    EXPECT_EQ(FormatToBuffer(buffer, "%s", ""), 0);
    EXPECT_STREQ(buffer, "");
}

}  // namespace
}  // namespace mirova
