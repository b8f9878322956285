// The mistakes people make with a mirroring tool, made with the real program: overlapping
// folders, a source that is empty because its disk is not plugged in, two copies at once, and
// failures that must never be called complete.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "AppTesting.h"
#include "TempDir.h"
#include "TreeSnapshot.h"
#include "fileops/RunLog.h"
#include "platform/InstanceGuard.h"

namespace mirova {
namespace {

using test::ProcessOutcome;
using test::RunMirova;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kRefused = "重なったﾌｫﾙﾀﾞは同期できません。";
constexpr const char* kBraked = "大量の削除を防ぐため、ｱｯﾌﾟﾃﾞｰﾄは行いませんでした。";
constexpr const char* kComplete = "ｱｯﾌﾟﾃﾞｰﾄ完了";
constexpr const char* kFailed = "の処理に失敗しました。";

std::size_t CountItems(const std::string& folder) {
    return test::SnapshotTree(folder).size();
}

void MakeFiles(const test::TempDir& dir, const std::string& folder, int count) {
    for (int i = 0; i < count; ++i) {
        dir.createFile(folder + "/file_" + std::to_string(i) + ".dat", "data", 1700000000);
    }
}

TEST(SafetyEndToEndTest, OverlappingFoldersAreRefusedInBothDirectionsAndThroughALink) {
    test::TempDir dir;
    test::ScopedConfigHome config(dir);
    MakeFiles(dir, "n1/src/docs", 5);
    MakeFiles(dir, "n1/src", 5);
    std::filesystem::create_directory_symlink(dir / "n1/src", dir / "link");
    const std::size_t before = CountItems(dir / "n1");

    // Source inside target, spelled with a trailing slash, "..", a doubled slash and a link.
    for (const auto& [source, target] : {
             std::pair{dir / "n1/src/docs", dir / "n1/src"},
             std::pair{dir / "n1/src/docs/", dir / "n1/src/docs/..//"},
             std::pair{dir / "link/docs", dir / "n1/src"},
             std::pair{dir / "n1/src", dir / "link"},
         }) {
        const ProcessOutcome outcome = RunMirova(dir, {"--sync", source, target, "--yes"});
        EXPECT_EQ(outcome.status, 2) << source << " " << target;
        EXPECT_THAT(outcome.err, HasSubstr(kRefused));
    }
    // Target inside source, not there yet: it is not created, and nothing is copied into it.
    const ProcessOutcome nested =
        RunMirova(dir, {"--merge", dir / "n1/src", dir / "link/backup", "--yes"});
    EXPECT_EQ(nested.status, 2);
    EXPECT_THAT(nested.err, HasSubstr("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + (dir / "link/backup") + " はｿｰｽﾌｫﾙﾀﾞ " +
                                      (dir / "n1/src") + " の中にあります。\n" + kRefused));
    EXPECT_EQ(CountItems(dir / "n1"), before);
    EXPECT_THAT(dir.readLog(), HasSubstr(kRefused));

    // A compare changes nothing and may look; a stored preset in a list is refused and the
    // list goes on with the next preset.
    EXPECT_NE(RunMirova(dir, {"--compare", dir / "n1/src", dir / "n1/src/docs"}).status, 2);
    dir.createFile("config/TK-ORVELAN/Mirova.conf", "[Settings]\nP1SRCFOLDER=" + (dir / "n1/src") +
                                                        "\nP1TARFOLDER=" + (dir / "n1/src/docs") +
                                                        "\nP2SRCFOLDER=" + (dir / "n1/src") +
                                                        "\nP2TARFOLDER=" + (dir / "copy") + "\n");
    const test::ScopedNoDisplay noDisplay;
    const ProcessOutcome list = RunMirova(dir, {"/A", "1,2"});
    EXPECT_EQ(list.status, 1);
    EXPECT_EQ(CountItems(dir / "n1"), before);
    EXPECT_EQ(test::TreeDifferences(dir / "n1/src", dir / "copy"), "");
}

TEST(SafetyEndToEndTest, MassDeletionsAreRefusedUnattendedUnlessAllowed) {
    test::TempDir dir;
    test::ScopedConfigHome config(dir);
    MakeFiles(dir, "dst", 100);
    MakeFiles(dir, "src", 40);
    dir.createFolder("empty");

    // A preset whose source is an empty mount point, run by a schedule.
    dir.createFile("config/TK-ORVELAN/Mirova.conf", "[Settings]\nP3SRCFOLDER=" + (dir / "empty") +
                                                        "\nP3TARFOLDER=" + (dir / "dst") + "\n");
    const test::ScopedNoDisplay noDisplay;
    const ProcessOutcome scheduled = RunMirova(dir, {"/A", "3"});
    EXPECT_EQ(scheduled.status, 1);
    EXPECT_THAT(scheduled.err, HasSubstr("は空です。"));
    EXPECT_EQ(CountItems(dir / "dst"), 100u);

    // 60 of 100 files.
    const ProcessOutcome braked = RunMirova(dir, {"--sync", dir / "src", dir / "dst", "--yes"});
    EXPECT_EQ(braked.status, 1);
    EXPECT_THAT(braked.err, HasSubstr("100 個のﾌｧｲﾙのうち 60 個 (60%) が削除されます。"));
    EXPECT_THAT(braked.err, HasSubstr(kBraked));
    EXPECT_THAT(dir.readLog(), HasSubstr(kBraked));
    EXPECT_EQ(CountItems(dir / "dst"), 100u);

    // A limit the user set in the settings file lets it through.
    dir.createFile("config/TK-ORVELAN/Mirova.conf", "[Settings]\nDELETELIMIT=70\n");
    dir.createFile("dst/x/extra.dat", "x");
    const ProcessOutcome limited = RunMirova(dir, {"--sync", dir / "src", dir / "dst", "--yes"});
    EXPECT_EQ(limited.status, 0) << limited.err;
    EXPECT_EQ(test::TreeDifferences(dir / "src", dir / "dst"), "");

    // --allow-mass-delete lifts the brake for one run (small trees: the engine's tests).
    MakeFiles(dir, "small/dst", 4);
    const ProcessOutcome allowed = RunMirova(
        dir, {"--sync", dir / "empty", dir / "small/dst", "--yes", "--allow-mass-delete"});
    EXPECT_EQ(allowed.status, 0) << allowed.err;
    EXPECT_EQ(CountItems(dir / "small/dst"), 0u);
}

TEST(SafetyEndToEndTest, ASecondCopyChangesNothing) {
    test::TempDir dir;
    test::ScopedConfigHome config(dir);
    test::ScopedLockDir lockDir(dir);
    const test::ScopedNoDisplay noDisplay;
    MakeFiles(dir, "src", 3);
    const std::string settings =
        "[Settings]\nP1SRCFOLDER=" + (dir / "src") + "\nP1TARFOLDER=" + (dir / "dst") + "\n";
    dir.createFile("config/TK-ORVELAN/Mirova.conf", settings);
    ASSERT_EQ(RunMirova(dir, {"--export-presets", dir / "Preset.dat"}).status, 0);

    platform::InstanceGuard running;  // the desktop program, open meanwhile
    ASSERT_EQ(running.Acquire("Mirova", dir.logDir()), platform::InstanceGuard::Result::Acquired);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"/A", "1"},
          {"--sync", dir / "src", dir / "dst", "--yes"},
          {"--import-presets", dir / "Preset.dat", "--yes"}}) {
        const ProcessOutcome outcome = RunMirova(dir, command);
        EXPECT_EQ(outcome.status, 1) << command[0];
        EXPECT_THAT(outcome.err, HasSubstr("「Mirova」を複数起動することはできません。"));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "dst"));
    EXPECT_EQ(dir.readLog(), "");
    EXPECT_EQ(test::ReadFileText(config.settingsFile()), settings);
    // Reading the presets out changes nothing and needs no guard.
    EXPECT_EQ(RunMirova(dir, {"--export-presets", dir / "again.dat"}).status, 0);

    running.Release();
    EXPECT_EQ(RunMirova(dir, {"/A", "1"}).status, 0);
    EXPECT_EQ(test::TreeDifferences(dir / "src", dir / "dst"), "");
}

// Sets or clears the immutable flag, which stops even root from deleting a file. False where
// the file system has no such flag.
bool SetImmutable(const std::string& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return done;
}

TEST(SafetyEndToEndTest, FailuresAreNeverCalledCompleteAndReadOnlyCopiesConverge) {
    test::TempDir dir;
    dir.createFile("src/a-ro.txt", "new", 1700000100);
    dir.createFile("dst/a-ro.txt", "old", 1700000000);
    dir.createFile("src/b-new.txt", "b", 1700000000);
    ASSERT_EQ(::chmod((dir / "dst/a-ro.txt").c_str(), 0444), 0);
    ASSERT_EQ(::chmod((dir / "src/a-ro.txt").c_str(), 0444), 0);

    // With deletion suppressed the read-only copy is kept: a failure passed over, although the
    // last file of the list was copied.
    const ProcessOutcome passedOver = RunMirova(dir, {"--sync", dir / "src", dir / "dst", "--yes",
                                                      "--suppress-deletion", "--no-stop-on-error"});
    EXPECT_EQ(passedOver.status, 1);
    EXPECT_THAT(passedOver.err, HasSubstr(":330 - " + (dir / "dst/a-ro.txt")));
    EXPECT_THAT(passedOver.err, HasSubstr("1 個のﾌｧｲﾙ/ﾌｫﾙﾀﾞ" + std::string(kFailed)));
    EXPECT_THAT(passedOver.err, HasSubstr(LogFilePath(kRunLogName)));
    EXPECT_THAT(passedOver.err, Not(HasSubstr(kComplete)));
    EXPECT_THAT(dir.readLog(), Not(HasSubstr(kComplete)));
    EXPECT_EQ(dir.read("dst/a-ro.txt"), "old");
    EXPECT_EQ(dir.read("dst/b-new.txt"), "b");

    // Otherwise it is replaced, now and after the read-only source changes again.
    for (const auto& [content, time] : {std::pair{"new", 1700000100}, {"newer", 1700000200}}) {
        ASSERT_EQ(::chmod((dir / "src/a-ro.txt").c_str(), 0644), 0);
        dir.createFile("src/a-ro.txt", content, time);
        ASSERT_EQ(::chmod((dir / "src/a-ro.txt").c_str(), 0444), 0);
        const ProcessOutcome synced = RunMirova(dir, {"--sync", dir / "src", dir / "dst", "--yes"});
        EXPECT_EQ(synced.status, 0) << synced.err;
        EXPECT_THAT(synced.err, HasSubstr(kComplete));
        EXPECT_EQ(dir.read("dst/a-ro.txt"), content);
    }

    // A file that cannot be deleted is printed as it happens and fails the run.
    dir.createFile("dst/stuck.txt", "s");
    if (!SetImmutable(dir / "dst/stuck.txt", true)) {
        GTEST_SKIP() << "no immutable flag here (needs root on ext4 or similar)";
    }
    const ProcessOutcome stuck = RunMirova(dir, {"--sync", dir / "src", dir / "dst", "--yes"});
    SetImmutable(dir / "dst/stuck.txt", false);
    EXPECT_EQ(stuck.status, 1);
    EXPECT_THAT(stuck.err, HasSubstr((dir / "dst/stuck.txt") + " が削除できません。"));
    EXPECT_THAT(stuck.err, HasSubstr(kFailed));
    EXPECT_THAT(stuck.err, Not(HasSubstr(kComplete)));
}

}  // namespace
}  // namespace mirova
