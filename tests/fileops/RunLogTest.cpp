#include "fileops/RunLog.h"

#include <optional>
#include <sstream>
#include <thread>

#include "FileOpsTesting.h"

namespace mirova::test {
namespace {

struct EnvOverride {  // sets or clears a variable; its old value comes back at the end
    explicit EnvOverride(const char* variable) : name(variable) {
        if (const char* value = ::getenv(variable)) {
            old = value;
        }
    }
    ~EnvOverride() { Set(old ? old->c_str() : nullptr); }
    void Set(const char* value) { value ? ::setenv(name, value, 1) : ::unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

TEST(LogFolder, FollowsTheEnvironmentAndIsCreatedPrivateWithItsParents) {
    EnvOverride logDir("MIROVA_LOG_DIR"), stateHome("XDG_STATE_HOME"), home("HOME");
    home.Set("/home/tester");
    logDir.Set("/var/tmp/mirova-logs");
    stateHome.Set("/srv/state");
    EXPECT_EQ(LogFilePath(kRunLogName), "/var/tmp/mirova-logs/Mirova.log");
    logDir.Set("");  // empty counts as unset
    EXPECT_EQ(LogFilePath(kReverseListName), "/srv/state/Mirova/ReverseList.txt");
    stateHome.Set("relative/state");  // a relative XDG_STATE_HOME is ignored
    EXPECT_EQ(LogFolder(), "/home/tester/.local/state/Mirova");
    TempDir temp;
    logDir.Set((temp / "state/deeper/Mirova//").c_str());
    ASSERT_TRUE(EnsureLogFolder());
    EXPECT_EQ(StatOf(temp / "state/deeper/Mirova").st_mode & 07777, 0700u);
    EXPECT_TRUE(EnsureLogFolder());  // and finds it the second time
    // A file where the log folder's parent should be: the folder cannot be created, by anyone,
    // and lines are lost without a word.
    temp.createFile("blocker", "keep");
    logDir.Set((temp / "blocker/log").c_str());
    EXPECT_FALSE(EnsureLogFolder());
    WriteLog("lost", 1);
    AppendReverseList("lost.txt");
    EXPECT_EQ(temp.read("blocker"), "keep");
}

class WriteLogTest : public ::testing::Test {
protected:
    ~WriteLogTest() override { platform::SetClock(nullptr); }
    void FixTime(platform::LocalTime time) {
        clock_.emplace(time);
        platform::SetClock(&*clock_);
    }
    TempDir temp_;
    std::optional<platform::FixedClock> clock_;
};

TEST_F(WriteLogTest, OnlyStampedOneLinesCarryTheTime) {
    FixTime({2017, 3, 5, 14, 7, 9});
    WriteLog("ﾏｰｼﾞ処理終了", 1);
    EXPECT_EQ(StatOf(temp_.logDir()).st_mode & 07777, 0700u);
    EXPECT_EQ(StatOf(LogFilePath(kRunLogName)).st_mode & 0077, 0u);
    WriteLog("", 0);
    WriteLog("two", 2);
    WriteLog("上書きしますか？\nYes", 0);
    FixTime({2100, 12, 31, 23, 59, 58});  // the year field grows past two digits
    WriteLog("late", 1);
    FixTime({2001, 1, 2, 0, 0, 0});
    WriteLog("", 1);
    AppendReverseList("sub/file.txt");
    AppendReverseList("表.txt");
    EXPECT_EQ(temp_.readLog(),
              "170305-140709: ﾏｰｼﾞ処理終了\n\ntwo\n上書きしますか？\nYes\n"
              "1001231-235958: late\n010102-000000: \n");
    EXPECT_EQ(ReadFileText(LogFilePath(kReverseListName)), "sub/file.txt\r\n表.txt\r\n");
    // A folder where the log file should be: the open fails, and nothing else happens.
    ::unlink(LogFilePath(kRunLogName).c_str());
    temp_.createFolder("log/Mirova.log");
    WriteLog("lost too", 1);
    EXPECT_TRUE(S_ISDIR(StatOf(LogFilePath(kRunLogName)).st_mode));
}

TEST_F(WriteLogTest, ConcurrentWritersKeepLinesWholeAndInOrder) {
    constexpr int kLines = 3000;
    const std::string padding(300, 'x');
    auto writer = [&](char id) {
        for (int i = 0; i < kLines; ++i) {
            WriteLog(id + Format("%06d", i) + padding + id, 0);
        }
    };
    std::thread first(writer, 'A'), second(writer, 'B');
    first.join();
    second.join();
    std::istringstream log(temp_.readLog());
    int next[2] = {0, 0};
    for (std::string line; std::getline(log, line);) {
        const char id = line.front();
        ASSERT_TRUE((id == 'A' || id == 'B') && line.back() == id) << line.substr(0, 40);
        ASSERT_EQ(line, id + Format("%06d", next[id - 'A']++) + padding + id);
    }
    EXPECT_EQ(next[0] + next[1], 2 * kLines);
}

TEST(MakeFolderPath, CreatesWhatIsMissingAndFailsOnAnythingButFolders) {
    TempDir temp;
    temp.createFile("a/keep.txt", "k");
    temp.createFile("f", "data");
    const std::string deep = DeepFolder(temp / "deep", 'd', false);  // longer than PATH_MAX
    // Existing, missing, with runs of "/", and long (twice: made, then found).
    for (const std::string& path : {std::string("/"), temp / "a", temp / "a/b/c", temp / "t/u/",
                                    temp.path() + "//x///y//", deep, deep}) {
        EXPECT_EQ(MakeFolderPath(path.c_str()), 0) << path.substr(0, 80);
    }
    // A file on the way or at the end, an empty path, a name no file system takes.
    for (const std::string& path : {temp / "f/sub", temp / "f", temp / "f/", std::string(),
                                    temp / (std::string(256, 'n') + "/sub")}) {
        EXPECT_EQ(MakeFolderPath(path.c_str()), -1) << path;
    }
    for (const std::string& folder : {temp / "a/b/c", temp / "t/u", temp / "x/y", deep}) {
        platform::ItemInfo info;
        EXPECT_TRUE(platform::GetItemInfo(folder, info).ok() && info.isFolder()) << folder.size();
    }
    EXPECT_EQ(temp.read("f"), "data");
    {  // a relative path is created relative to the current folder
        const ScopedCurrentFolder current(temp.path());
        EXPECT_EQ(MakeFolderPath("rel//sub/"), 0);
    }
    EXPECT_TRUE(S_ISDIR(StatOf(temp / "rel/sub").st_mode));
    const ScopedUnprivileged unprivileged(temp);
    temp.createFolder("locked");
    ASSERT_EQ(::chmod((temp / "locked").c_str(), 0500), 0);
    EXPECT_EQ(MakeFolderPath((temp / "locked/new/deeper").c_str()), -1);
    EXPECT_FALSE(S_ISDIR(StatOf(temp / "locked/new").st_mode));
}

TEST(FormatToBuffer, WritesAndCutsAt255Characters) {
    char buffer[256];
    EXPECT_EQ(FormatToBuffer(buffer, "%s", std::string(300, 'z').c_str()), 255);
    EXPECT_EQ(std::string(buffer), std::string(255, 'z'));
}

}  // namespace
}  // namespace mirova::test
