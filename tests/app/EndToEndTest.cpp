// The real program, started as a user or a schedule starts it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "AppTesting.h"
#include "fileops/FileOperations.h"
#include "fileops/RunLog.h"
#include "platform/InstanceGuard.h"

namespace mirova {
namespace {

using namespace ::testing;

constexpr const char* kRefused = "重なったﾌｫﾙﾀﾞは同期できません。";
constexpr const char* kComplete = "ｱｯﾌﾟﾃﾞｰﾄ完了";

struct ProcessOutcome {
    std::string out, err;
};

// Runs the real program without a display or a terminal (the desktop program offscreen, its boxes
// auto-answered), output in the test folder's "out.txt" and "err.txt": the exit status, or 128 +
// the signal. Killed once `stop` says so or after two minutes (a fault fails, not hangs, a test).
int RunMirova(
    const test::TempDir& dir, std::vector<std::string> arguments, bool desktop = false,
    const std::function<bool()>& stop = [] { return false; }) {
    const std::string shell =
        "exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u MIROVA_TEST_AUTOANSWER " +
        std::string(desktop ? "QT_QPA_PLATFORM=offscreen MIROVA_TEST_AUTOANSWER=1 " : "") +
        "\"$0\" \"$@\" </dev/null >'" + dir / "out.txt" + "' 2>'" + dir / "err.txt" + "'";
    arguments.insert(arguments.begin(), {"/bin/sh", "-c", shell, MIROVA_EXE});
    std::vector<char*> argv(arguments.size() + 1);  // ends with a null
    std::ranges::transform(arguments, argv.begin(), [](std::string& each) { return each.data(); });
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (stop() || std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class EndToEndTest : public ::testing::Test {
protected:
    // Runs the program; checks its exit status and that standard error holds `errHas`.
    ProcessOutcome Expect(const std::vector<std::string>& arguments, int status,
                          const std::string& errHas = "", bool desktop = false) {
        const int exited = RunMirova(dir, arguments, desktop);
        const ProcessOutcome outcome{dir.read("out.txt"), dir.read("err.txt")};
        EXPECT_EQ(exited, status) << testing::PrintToString(arguments) << outcome.err;
        EXPECT_THAT(outcome.err, HasSubstr(errHas));
        return outcome;
    }
    void MakeFiles(const std::string& folder, int count) {
        for (int i = 0; i < count; ++i) {
            dir.createFile(folder + "/file_" + std::to_string(i) + ".dat", "data", 1700000000);
        }
    }
    std::string Differences(const std::string& source, const std::string& target) {
        return test::DescribeDifferences(test::SnapshotTree(source), test::SnapshotTree(target));
    }
    test::TestFolder dir;
    const std::string src = dir / "src", dst = dir / "dst";
};

TEST_F(EndToEndTest, ComparesSyncsAndMergesRealTreesAndReportsTheExitStatus) {
    // A usage error starts nothing.
    Expect({"--compare", src}, 2, "Usage:");
    EXPECT_THAT(dir.readLog(), Not(HasSubstr("Start.")));
    test::MakeTree(dir,
                   "src/docs/a.txt=same dst/docs/a.txt=same src/docs/new.txt=new "
                   "dst/docs/old.txt=old src/build/x.o=object");
    Expect({"--compare", src, dst}, 0, "ﾀｰｹﾞｯﾄに 3 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ、1 個の余剰ﾌｧｲﾙ、0 個");
    EXPECT_THAT(
        dir.readLog(),
        AllOf(HasSubstr("  Compare Preset 0 Start.\n"), HasSubstr(": 余剰ファイル 1\n"),
              HasSubstr(": " + dst + "/docs/old.txt\n"), HasSubstr(": " + dst + "/build/x.o\n"),
              HasSubstr("  Compare Preset 0 Done.\n")));
    // Excluding what differs leaves equal trees.
    Expect({"--compare", src, dst, "--exclude", "/build", "--exclude-ext", "TXT"}, 0,
           "ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。");
    Expect({"--compare", dir / "nothing", dst}, 1,
           "ｿｰｽﾌｫﾙﾀﾞ " + (dir / "nothing") + " が存在しません。");
    // A source older than its copy is asked about: without a terminal No, unless --yes.
    test::MakeTree(dir, "src/docs/a.txt=older dst/docs/a.txt=newer@1700000100");
    EXPECT_THAT(Expect({"--compare", src, dst}, 1, "本当に同期させてよろしいですか？\n-> No").err,
                HasSubstr(dir.logDir() + "/ReverseList.txt\n"));
    EXPECT_THAT(dir.readLog(), HasSubstr(": Aborted !\n"));
    Expect({"--compare", "--yes", src, dst}, 0);
    EXPECT_THAT(dir.readLog(), HasSubstr("本当に同期させてよろしいですか？YES\n"));
    // A synchronisation asks too; a merge goes both ways.
    test::MakeTree(dir,
                   "src/keep/a.txt=a src/new.txt=new src/empty/ dst/extra/deep/x.txt=x "
                   "dst/keep/a.txt=stale@1600000000");
    Expect({"--sync", src, dst}, 1);  // No without a terminal: nothing changes
    EXPECT_EQ(dir.read("dst/keep/a.txt"), "stale");
    Expect({"--sync", "--yes", "--suppress-deletion", src, dst}, 0);
    EXPECT_EQ(dir.read("dst/extra/deep/x.txt") + dir.read("dst/keep/a.txt"), "xa");
    // --list prints the change record's item lines: a compare's is the dry run of the sync.
    const ProcessOutcome compare = Expect({"--compare", "--list", src, dst}, 0,
                                          "Change record: " + dir.logDir() + "/Changes-");
    EXPECT_THAT(compare.out, HasSubstr("delete-file\ttarget\textra/deep/x.txt\t1\t"));
    EXPECT_EQ(Expect({"--sync", "--list", "--yes", src, dst}, 0, kComplete).out, compare.out);
    EXPECT_EQ(Differences(src, dst), "");
    test::MakeTree(dir, "dst/only-in-target.txt=t src/new.txt=newer@1700000100");
    Expect({"--merge", "--no-stop-on-error", src, dst}, 0);
    EXPECT_EQ(dir.read("src/only-in-target.txt") + dir.read("dst/new.txt"), "tnewer");
    EXPECT_THAT(dir.readLog(), HasSubstr(": ﾏｰｼﾞ処理終了\n"));
}

// The presets go out to a file and come back over another user's settings; "/A" runs them.
TEST_F(EndToEndTest, ExportImportAndTheCommandLineListWorkOnTheSettingsFile) {
    test::MakeTree(dir, "src/sub/a.txt=a dst/old.txt=o");
    dir.writeSettings("[Settings]\nPRESETNO=3\nP2SRCFOLDER=" + src + "\nP2TARFOLDER=" + dst +
                      "\nP2CAPTION=\"夜の\\nバックアップ\"\nP1CAPTION=empty\n"
                      "[ELIST]\nELIST_CNT=1\nELIST-0=bak\n");
    const std::string file = dir / "Preset.dat";
    EXPECT_EQ(Expect({"--export-presets", file}, 0).out, "保存終了\n");
    // Another user's settings: different presets, another current one and window place.
    dir.writeSettings("[Settings]\nPOSX=300\nPRESETNO=8\nP2SRCFOLDER=/other\nP3CAPTION=gone\n");
    Expect({"--import-presets", file}, 1, "ﾌﾟﾘｾｯﾄﾃﾞｰﾀを読込みますか？\n-> No");
    EXPECT_THAT(dir.readSettings(), HasSubstr("P2SRCFOLDER=/other"));
    EXPECT_EQ(Expect({"--import-presets", file, "--yes"}, 0).out, "読込み終了\n");
    EXPECT_THAT(dir.readSettings(), AllOf(HasSubstr("P2SRCFOLDER=" + src + "\n"),
                                          HasSubstr("P3CAPTION=\n"), HasSubstr("PRESETNO=8\n"),
                                          HasSubstr("POSX=300\n"), HasSubstr("ELIST-0=bak\n")));
    // The list passes over the empty preset 1 and leaves preset 2 the current one.
    Expect({"/A", "1,2"}, 0);
    EXPECT_EQ(Differences(src, dst), "");
    EXPECT_THAT(dir.readLog(), AllOf(HasSubstr(": OptionD=OFF OptionA=2 menbers=1,2\n"),
                                     Not(HasSubstr("Preset 1 Start."))));
    EXPECT_THAT(dir.readSettings(),
                AllOf(HasSubstr("PRESETNO=1\n"), HasSubstr("P2CAPTION=夜の\\nバックアップ\n")));
}

TEST_F(EndToEndTest, OverlappingFoldersAreRefusedInBothDirectionsAndThroughALink) {
    MakeFiles("n1/src/docs", 5);
    MakeFiles("n1/src", 5);
    std::filesystem::create_directory_symlink(dir / "n1/src", dir / "link");
    const std::size_t before = test::SnapshotTree(dir / "n1").size();
    // Source inside target, spelled with "..", "//" and a link (more: the engine's tests).
    Expect({"--sync", dir / "n1/src/docs/", dir / "n1/src/docs/..//", "--yes"}, 2, kRefused);
    Expect({"--sync", dir / "n1/src", dir / "link", "--yes"}, 2, kRefused);
    // Target inside source, not there yet: it is not created, and nothing is copied into it.
    Expect({"--merge", dir / "n1/src", dir / "link/backup", "--yes"}, 2,
           "ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + (dir / "link/backup") + " はｿｰｽﾌｫﾙﾀﾞ " + (dir / "n1/src") +
               " の中にあります。\n" + kRefused);
    EXPECT_EQ(test::SnapshotTree(dir / "n1").size(), before);
    EXPECT_THAT(dir.readLog(), HasSubstr(kRefused));
    // A compare may look; a list refuses the stored preset and goes on with the next.
    Expect({"--compare", dir / "n1/src", dir / "n1/src/docs"}, 0);
    dir.writeSettings(
        "[Settings]\nP1SRCFOLDER=" + (dir / "n1/src") + "\nP1TARFOLDER=" + (dir / "n1/src/docs") +
        "\nP2SRCFOLDER=" + (dir / "n1/src") + "\nP2TARFOLDER=" + (dir / "copy") + "\n");
    Expect({"/A", "1,2"}, 1);
    EXPECT_EQ(test::SnapshotTree(dir / "n1").size(), before);
    EXPECT_EQ(Differences(dir / "n1/src", dir / "copy"), "");
}

TEST_F(EndToEndTest, MassDeletionsAreRefusedUnattendedUnlessAllowed) {
    MakeFiles("dst", 100);
    MakeFiles("src", 40);
    dir.createFolder("empty");
    // A preset whose source is an empty mount point, run by a schedule.
    dir.writeSettings("[Settings]\nP3SRCFOLDER=" + (dir / "empty") + "\nP3TARFOLDER=" + dst + "\n");
    Expect({"/A", "3"}, 1, "は空です。");
    EXPECT_EQ(test::SnapshotTree(dst).size(), 100u);
    Expect({"--sync", src, dst, "--yes"}, 1, "100 個のﾌｧｲﾙのうち 60 個 (60%) が削除されます。");
    EXPECT_THAT(dir.readLog(), HasSubstr("大量の削除を防ぐため、ｱｯﾌﾟﾃﾞｰﾄは行いませんでした。"));
    EXPECT_EQ(test::SnapshotTree(dst).size(), 100u);
    // A limit the user set in the settings file lets it through.
    dir.writeSettings("[Settings]\nDELETELIMIT=70\n");
    dir.createFile("dst/x/extra.dat", "x");
    Expect({"--sync", src, dst, "--yes"}, 0);
    EXPECT_EQ(Differences(src, dst), "");
    // --allow-mass-delete lifts the brake for one run (small trees: the engine's tests).
    MakeFiles("small/dst", 4);
    Expect({"--sync", dir / "empty", dir / "small/dst", "--yes", "--allow-mass-delete"}, 0);
    EXPECT_EQ(test::SnapshotTree(dir / "small/dst").size(), 0u);
}

TEST_F(EndToEndTest, ASecondCopyChangesNothingWhileTheFirstOrAnotherUsersRuns) {
    test::MakeTree(dir, "src/a.txt=new@1700000100 dst/a.txt=old");
    const std::string settings = "[Settings]\nP1SRCFOLDER=" + src + "\nP1TARFOLDER=" + dst + "\n";
    dir.writeSettings(settings);
    Expect({"--export-presets", dir / "Preset.dat"}, 0);
    // Another user's copy holds only the machine-wide lock.
    const std::string machineLock = platform::InstanceGuard::MachineLockPath("Mirova");
    const int fd = ::open(machineLock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    Expect({}, 1, "「Mirova」は既に1ユーザーで起動中です。\n-> OK", true);
    ::close(fd);
    platform::InstanceGuard running;  // the desktop program, open meanwhile
    ASSERT_EQ(running.Acquire("Mirova", dir.logDir()), platform::InstanceGuard::Result::Acquired);
    const std::string twice = "「Mirova」を複数起動することはできません。";
    Expect({"/A", "1"}, 1, twice);
    Expect({"--sync", src, dst, "--yes"}, 1, twice);
    Expect({"--import-presets", dir / "Preset.dat", "--yes"}, 1, twice);
    // The desktop program ends before the main dialog and the list.
    Expect({"/A", "1"}, 1, twice + "\n-> OK", true);
    EXPECT_EQ(dir.read("dst/a.txt") + dir.readLog(), "old");
    EXPECT_EQ(dir.readSettings(), settings);
    // Reading the presets out changes nothing and needs no guard.
    Expect({"--export-presets", dir / "again.dat"}, 0);
    // The first copy has ended: the list runs in the desktop program without a box, passes over
    // the empty preset 3 but makes it current, and closes; an unknown argument is ignored.
    running.Release();
    EXPECT_THAT(Expect({"/A", "1,3", "-x"}, 0, "", true).err, Not(HasSubstr("->")));
    EXPECT_EQ(Differences(src, dst), "");
    EXPECT_THAT(dir.readLog(), AllOf(HasSubstr("OptionD=OFF OptionA=2 menbers=1,3"),
                                     Not(HasSubstr("Preset 3 Start."))));
    EXPECT_THAT(dir.readSettings(), HasSubstr("PRESETNO=2\n"));
}

TEST_F(EndToEndTest, FailuresAreNeverCalledCompleteAndReadOnlyCopiesConverge) {
    test::MakeTree(dir, "src/a-ro.txt=new@1700000100 dst/a-ro.txt=old src/b-new.txt=b");
    ASSERT_EQ(::chmod((dir / "src/a-ro.txt").c_str(), 0444), 0);
    ASSERT_EQ(::chmod((dir / "dst/a-ro.txt").c_str(), 0444), 0);
    // Deletion suppressed, the read-only copy stays: a failure, though the last file was copied.
    const ProcessOutcome passedOver =
        Expect({"--sync", src, dst, "--yes", "--suppress-deletion", "--no-stop-on-error"}, 1,
               ":330 - " + (dir / "dst/a-ro.txt"));
    EXPECT_THAT(passedOver.err,
                AllOf(HasSubstr("1 個のﾌｧｲﾙ/ﾌｫﾙﾀﾞの処理に失敗しました。"),
                      HasSubstr(LogFilePath(kRunLogName)), Not(HasSubstr(kComplete))));
    EXPECT_THAT(dir.readLog(), Not(HasSubstr(kComplete)));
    EXPECT_EQ(dir.read("dst/a-ro.txt") + dir.read("dst/b-new.txt"), "oldb");
    // Otherwise it is replaced by the new read-only copy.
    Expect({"--sync", src, dst, "--yes"}, 0, kComplete);
    EXPECT_EQ(dir.read("dst/a-ro.txt"), "new");
    // A file that cannot be deleted (immutable: even for root) is printed and fails the run.
    dir.createFile("dst/stuck.txt", "s");
    const auto chattr = [&](const std::string& flag) {
        return std::system(
            ("chattr " + flag + " '" + (dir / "dst/stuck.txt") + "' 2>/dev/null").c_str());
    };
    if (chattr("+i") != 0) {
        GTEST_SKIP() << "no immutable flag here (needs root on ext4 or similar)";
    }
    const ProcessOutcome stuck =
        Expect({"--sync", src, dst, "--yes"}, 1, (dir / "dst/stuck.txt") + " が削除できません。");
    chattr("-i");
    EXPECT_THAT(stuck.err, AllOf(HasSubstr("の処理に失敗しました。"), Not(HasSubstr(kComplete))));
}

TEST_F(EndToEndTest, AKilledSyncShowsNoHalfFileAndTheNextRunsCompleteTheMirror) {
    // Six large files of random data (zeros may be copied at once by sharing blocks).
    std::mt19937_64 random(8);
    std::vector<std::uint64_t> words(std::size_t{8} << 20);
    for (int i = 0; i < 6; ++i) {
        std::ranges::generate(words, std::ref(random));
        dir.createFile("src/large" + std::to_string(i),
                       {reinterpret_cast<const char*>(words.data()), words.size() * 8}, 1700000000);
    }
    MakeFiles("src/small", 20);
    const auto expected = test::SnapshotTree(src);
    const std::vector<std::string> sync = {"--sync", src, dst, "--yes", "--no-stop-on-error"};
    std::vector<std::string> leftovers;
    // A kill that finds no copy in progress (it fell between two files) is tried again.
    for (int attempt = 0; attempt < 5 && leftovers.empty(); ++attempt) {
        std::filesystem::remove_all(dst);
        dir.createFolder("dst");
        // Killed once a copy is under way (or collected when it ended first).
        RunMirova(dir, sync, false, [&] {
            std::error_code error;
            return std::ranges::any_of(
                std::filesystem::directory_iterator(dst, error), [](const auto& item) {
                    return IsPartialCopyName(item.path().filename().string());
                });
        });
        // Every file under a real name is complete; an unfinished one is a temporary file.
        for (const auto& [name, item] : test::SnapshotTree(dst)) {
            if (IsPartialCopyName(std::filesystem::path(name).filename().string())) {
                leftovers.push_back(dst + "/" + name);
                EXPECT_EQ(item.kind, 'f') << name;
            } else if (item.kind == 'f') {
                ASSERT_TRUE(expected.contains(name)) << name;
                EXPECT_TRUE(item == expected.at(name)) << name << " is not a complete copy";
            }
        }
    }
    ASSERT_FALSE(leftovers.empty()) << "no kill landed in the middle of a copy\n"
                                    << dir.read("err.txt");
    // The killed run's change record holds what it did up to the kill, and no end.
    RecordContents killed;
    ASSERT_TRUE(ReadChangeRecord(LatestChangeRecord(), killed));
    EXPECT_EQ(killed.endLine, "");
    const auto copied = test::SnapshotTree(dst);
    for (const ChangeItem& item : killed.items) {
        EXPECT_TRUE(copied.contains(item.path)) << item.path << " recorded but not there";
        if (item.action == ChangeAction::CopyNew) {
            EXPECT_TRUE(copied.at(item.path) == expected.at(item.path)) << item.path;
        }
    }
    Expect(sync, 0);
    // The leftover is gone too: it would show as an extra item of the target.
    EXPECT_EQ(test::DescribeDifferences(expected, test::SnapshotTree(dst)), "");
    const std::string log = dir.readLog();
    for (const std::string& leftover : leftovers) {
        EXPECT_THAT(log, HasSubstr(": " + leftover + " を削除しました（中断されたｺﾋﾟｰの残り）\n"));
    }
}

TEST_F(EndToEndTest, TheDesktopProgramNeedsADisplayAndSettingsItCanRead) {
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"/D"}, {"/A"}}) {
        Expect(arguments, 2, "mirova: the desktop program needs a display");
    }
    // The console's own commands need no display.
    EXPECT_THAT(Expect({"--help"}, 0).out, HasSubstr("mirova --compare SOURCE TARGET"));
    // Saving the dialog's empty table over an unreadable file would lose every preset.
    dir.createFolder("config/TK-ORVELAN/Mirova.conf");
    Expect({"/A", "1"}, 1,
           "Mirova.conf が読めません。\nﾌﾟﾘｾｯﾄが失われないよう、起動を中止します。\n-> OK", true);
    EXPECT_THAT(dir.readLog(), Not(HasSubstr("OptionA=")));
}

}  // namespace
}  // namespace mirova
