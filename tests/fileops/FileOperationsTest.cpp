// The list operations and single copies, the failures of single calls in their midst, and the run
// log they write.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <sstream>
#include <thread>

#include "FileOpsTesting.h"
#include "fileops/PathText.h"
#include "fileops/RunLog.h"

namespace mirova::test {
namespace {

using platform::Exists;
using platform::FaultCall;
using platform::InjectFaultForTesting;

// With "/" as a base the list operations reach "/" + name, never a name of the current folder.
// Run in a child that works from a folder of the test's own, with names that "/" does not hold,
// so that the real root is never changed.
TEST(RootBase, ListOperationsNeverFallBackToTheCurrentFolder) {
    TempDir dir;
    const std::string victim = Format("mirova-root-test-%d-victim", ::getpid()),
                      hello = Format("mirova-root-test-%d-hello", ::getpid());
    ASSERT_FALSE(Exists("/" + victim) || Exists("/" + hello));
    dir.createFile(victim, "not in any tree");
    dir.createFile(hello, "the current folder's");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::chdir(dir.path().c_str()) != 0) {
            ::_exit(100);
        }
        ScriptedFileOpsUi ui;
        DeleteFileList("/", Names{victim}, ui);
        const int copied = CopyFileList("/", dir / "dst", Names{hello}, 1, ui);
        ::_exit((Exists(victim) ? 0 : 1) | (Exists(dir / ("dst/" + hello)) ? 2 : 0) |
                (copied != 0 ? 4 : 0));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "1: deleted from the current folder, 2 and 4: copied from it";
    EXPECT_EQ(dir.read(victim), "not in any tree");
}

TEST(Texts, PathSeparatorsAreStrippedJoinedAndKeptAsNeededAndFormattedTextsCut) {
    // path|stripped|folder to open|folder part
    for (const std::string row :
         {"/||/|/", "/data/|/data|/data|/data/", "/data//|/data/|/data/|/data//",
          "/a/b/c.txt|/a/b/c.txt|/a/b/c.txt|/a/b/", "sub/name|sub/name|sub/name|sub/",
          "name|name|name|", "|||"}) {
        const std::string path = row.substr(0, row.find('|'));
        EXPECT_EQ(path + "|" + StripTrailingBackslash(path) + "|" + FolderToOpen(path) + "|" +
                      FolderPartOf(path),
                  row);
    }
    EXPECT_EQ(JoinPath(StripTrailingBackslash("/"), "etc"), "/etc");
    EXPECT_EQ(JoinPath("/data", "表.txt"), "/data/表.txt");
    char buffer[256];
    EXPECT_EQ(FormatToBuffer(buffer, "%s", std::string(300, 'z').c_str()), 255);
    EXPECT_EQ(std::string(buffer), std::string(255, 'z'));
}

using ListOperationTest = FileOpsTest;

// Folders are made with their missing parents, those already there are no failure. Under
// noStopOnError a copy list goes past its failures, and its result is that of the last file.
TEST_F(ListOperationTest, ListsCreateMissingFoldersAndEndWithTheOutcomeOfTheLastItem) {
    tmp_.createFolder("base/a/b/c");
    EXPECT_EQ(CreateFolderList(tmp_ / "base", Names{"a/b/c", "p/q"}, 0, ui_), 1);
    EXPECT_TRUE(Exists(tmp_ / "base/p/q/"));
    EXPECT_TRUE(ui_.windows().empty());
    tmp_.createFile("src/top.txt", "top");
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "d1", Names{"top.txt", "gone", "top.txt"}, 1, ui_),
              1);
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "d2", Names{"top.txt", "gone"}, 1, ui_), 0);
    EXPECT_EQ(tmp_.read("d1/top.txt") + tmp_.read("d2/top.txt"), "toptop");
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 2);
}

// Cancel in the progress window works alike in the three list operations: confirmed, it ends the
// list before the next item.
TEST_F(ListOperationTest, CancelIsConfirmedBeforeTheNextItem) {
    for (const std::string folder : {"files", "folders", "dst"}) {
        for (const bool stop : {false, true}) {
            SCOPED_TRACE(folder + std::to_string(stop));
            TempDir dir;
            for (const std::string name : {"/a", "/b", "/c"}) {
                dir.createFile("files" + name, "x");
                dir.createFolder("folders" + name);
                dir.createFile("src" + name, "x");
            }
            ScriptedFileOpsUi ui;
            ui.PressCancelBeforeItem(1);
            ui.messages.Answer(stop ? kIdYes : kIdNo);
            const Names names{"a", "b", "c"};
            const bool copy = folder == "dst";
            EXPECT_EQ(copy                ? CopyFileList(dir / "src", dir / folder, names, 0, ui)
                      : folder == "files" ? DeleteFileList(dir / folder, names, ui)
                                          : DeleteFolderList(dir / folder, names, ui),
                      stop ? 0 : 1);
            for (const std::string name : {"a", "b", "c"}) {
                EXPECT_EQ(Exists(dir / (folder + "/" + name)) == copy, name == "a" || !stop);
            }
            EXPECT_EQ(BoxesOf(ui), (Boxes{{kReallyStopQuestion, kMbYesNo}}));
            ASSERT_EQ(ui.windows().size(), 1u);
            const ScriptedFileOpsUi::Window window = ui.windows()[0];
            EXPECT_EQ(
                std::tuple(window.statusTexts.size(), window.stepBarCalls, window.destroyed,
                           window.statusTexts[0]),
                std::tuple(stop ? 1u : 3u, stop ? 1 : 3, true, copy ? "a をｺﾋﾟｰ中" : "a を削除中"));
        }
    }
}

// Below 10,000 items the bar counts items; from 10,000 on it counts percent, stepping at the
// first item and then about every hundredth.
TEST_F(ListOperationTest, ProgressBarCountsItemsOrPercent) {
    for (const auto& [items, steps] : {std::pair{9999, 9999}, {10000, 100}, {25000, 100}}) {
        std::vector<std::string> texts;  // names that do not exist: cheap, and no failures
        for (int i = 0; i < items; ++i) {
            texts.push_back("n" + std::to_string(i));
        }
        ScriptedFileOpsUi ui;
        EXPECT_EQ(DeleteFileList(tmp_ / "empty", Names(std::move(texts)), ui), 1);
        ASSERT_EQ(ui.windows().size(), 1u);
        ExpectWholeWindow(ui.windows()[0], items, steps);
    }
}

// "outside" holds items of the names the operations are given, so that any of them that went
// through a link would find something to delete, overwrite or read.
class ConfinementTest : public FileOpsTest {
protected:
    ConfinementTest() {
        tmp_.createFile("outside/f", "outside f");
        tmp_.createFile("outside/secret.txt", "outside secret");
        tmp_.createFolder("outside/sub");
        tmp_.createFolder("outside/empty");
        before_ = SnapshotTree(tmp_ / "outside");
    }
    void TearDown() override {
        EXPECT_EQ(DescribeDifferences(before_, SnapshotTree(tmp_ / "outside")), "");
        EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
    }
    void Link(const std::string& relative, const std::string& target = "outside") {
        tmp_.createFolder(relative.substr(0, relative.rfind('/')));
        ASSERT_EQ(::symlink((tmp_ / target).c_str(), (tmp_ / relative).c_str()), 0);
    }
    Items before_;
};

// A link that is the item itself is worked on as a link (deleted, replaced, copied), never what
// it points to; a source folder swapped for a link is a source that cannot be opened. The deletes
// below a link and the folders made through one are tried with the other failures of the lists.
TEST_F(ConfinementTest, LinksAreNeverFollowedToTheirTargets) {
    Link("base/d");
    Link("base/lf", "outside/f");
    EXPECT_EQ(DeleteFileList(tmp_ / "base", Names{"lf"}, ui_), 1);
    EXPECT_FALSE(Exists(tmp_ / "base/lf"));
    EXPECT_EQ(CreateFolderList(tmp_ / "base", Names{"d"}, 1, ui_), 0);
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(244, tmp_ / "base/d")));
    EXPECT_TRUE(IsLink(tmp_ / "base/d"));

    tmp_.createFile("src/ok.txt", "ok");
    tmp_.createFile("src/lf", "new content");
    Link("src/d");
    Link("src/link", "outside/f");
    Link("dst/lf", "outside/f");
    const Names names{"d/secret.txt", "lf", "link", "ok.txt"};
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", names, 1, ui_), 1);
    EXPECT_EQ(TakeLog(), Logged(CannotOpenText(tmp_ / "src/d/secret.txt")));
    EXPECT_FALSE(Exists(tmp_ / "dst/d/secret.txt") || IsLink(tmp_ / "dst/lf"));
    EXPECT_EQ(tmp_.read("dst/ok.txt") + tmp_.read("dst/lf"), "oknew content");
    EXPECT_EQ(ItemsOf(tmp_).at("dst/link").content, tmp_ / "outside/f");
    EXPECT_TRUE(TakeBoxes().empty());
}

// Beyond PATH_MAX the lists work as well, and the user is also told which folder could not be
// entered.
TEST_F(ConfinementTest, ListsReachPathsLongerThanPathMaxAndNameTheLinkThatStoppedTheWalk) {
    const std::string deep = DeepFolder(tmp_ / "base", 'b');
    WriteAnyLength(deep + "/ro.txt", "x");
    ASSERT_TRUE(platform::SetPermissions(deep + "/ro.txt", 0444).ok());
    ASSERT_TRUE(platform::CreateFolder(deep + "/empty").ok());
    platform::PathAnchor anchor;
    ASSERT_TRUE(platform::AnchorPath(deep + "/d", anchor).ok());
    ASSERT_TRUE(platform::CreateLink(tmp_ / "outside", {anchor.dir, anchor.leaf.c_str()}).ok());
    EXPECT_EQ(DeleteFileList(deep, Names{"ro.txt", "d/f"}, ui_), 1);
    EXPECT_EQ(DeleteFolderList(deep, Names{"empty"}, ui_), 1);
    EXPECT_FALSE(Exists(deep + "/ro.txt") || Exists(deep + "/empty"));
    EXPECT_EQ(TakeBoxes(), (Boxes{{CannotEnterText(deep + "/d/f", "d", deep), kMbOk}}));
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(deep + "/d/f", ENOTDIR)));
    // A folder that cannot be created is no folder that cannot be entered.
    InjectFaultForTesting(FaultCall::CreateFolder, EACCES, "new");
    EXPECT_EQ(CreateFolderList(deep, Names{"x/new/y"}, 1, ui_), 0);
    platform::ClearFaultsForTesting();
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(244, deep + "/x/new/y")));
    EXPECT_TRUE(TakeBoxes().empty());
    const std::string to = DeepFolder(tmp_ / "dst", 't', false);  // created by the copy
    tmp_.createFile("src/sub/f.bin", Pattern(1000));
    EXPECT_EQ(CopyFileList(tmp_ / "src/", to, Names{"sub/f.bin"}, 0, ui_), 1);
    EXPECT_TRUE(ReadAnyLength(to + "/sub/f.bin") == Pattern(1000));
}

using CopyOneFileTest = FileOpsTest;

// Files keep content, times, permissions and owner; links are copied as links with their own
// target, times and owner, whatever they replace (a longer file, a file, a link).
TEST_F(CopyOneFileTest, CopyKeepsContentTimesPermissionsAndOwner) {
    const std::pair<const char*, mode_t> files[] = {
        {"empty.txt", 0640}, {"small.txt", 0600}, {"big.bin", 04755}, {"ro.txt", 0444}};
    tmp_.createFile("src/target.txt", "pointed at");
    tmp_.createFile("dst/small.txt", "old content, longer than the new");
    tmp_.createFile("dst/dangling", "a file the link replaces");
    ASSERT_EQ(::symlink("old-target", dst("link").c_str()), 0);
    std::vector<std::string> names = {"target.txt", "dangling", "link", "self"};
    // Opening a link to itself fails as a loop does, yet it is a link to copy.
    for (const auto& [target, link] : {std::pair{"../elsewhere/missing", "dangling"},
                                       {"target.txt", "link"},
                                       {"self", "self"}}) {
        ASSERT_EQ(::symlink(target, src(link).c_str()), 0);
    }
    std::size_t size = 0;
    for (const auto& [name, mode] : files) {
        tmp_.createFile(std::string("src/") + name, Pattern(size));
        size = size * 37 + 70001;
        names.push_back(name);
    }
    const timespec times[2] = {{1400000000, 123456789}, {1500000000, 987654321}};
    for (const std::string& name : names) {
        ASSERT_EQ(::lchown(src(name).c_str(), 12345, 23456), 0);  // the tests run as root
        ASSERT_EQ(::utimensat(AT_FDCWD, src(name).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    // After the owner, which takes the set-user-id bit away: the set-user-id file fails when
    // the owner is given after the bits, the read-only one unless it is whole before it loses
    // its write permission.
    for (const auto& [name, mode] : files) {
        ASSERT_EQ(::chmod(src(name).c_str(), mode), 0);
    }
    for (const std::string& name : names) {
        EXPECT_EQ(CopyOneFile(src(name), dst(name), 0, ui_), 1) << name;
        const struct stat copied = StatOf(dst(name));  // before a read moves its access time
        EXPECT_TRUE(S_ISLNK(copied.st_mode) || copied.st_atim.tv_nsec == times[0].tv_nsec);
        EXPECT_EQ(copied.st_uid * 100000 + copied.st_gid, 12345u * 100000 + 23456u) << name;
    }
    // Kind, content or link target, permissions and last-write time; no unfinished copy.
    EXPECT_EQ(DescribeDifferences(SnapshotTree(tmp_ / "src"), SnapshotTree(tmp_ / "dst")), "");
    EXPECT_EQ(TakeLog() + std::to_string(ui_.failures() + TakeBoxes().size()), "0");
}

// A source that shrinks during the copy is a source that cannot be read: the old destination
// stays whole, and the failure is shown or, when no box may stop the run, logged.
TEST_F(CopyOneFileTest, ShrinkingSourceLeavesTheOldDestination) {
    SetCopyStartHookForTesting([&](int, int) { ASSERT_EQ(::truncate(src("d").c_str(), 10), 0); });
    for (const int quiet : {0, 1}) {
        tmp_.createFile("src/d", Pattern(200 * 1024));
        tmp_.createFile("dst/d", "old");
        EXPECT_EQ(CopyOneFile(src("d"), dst("d"), quiet, ui_), 0);
        EXPECT_EQ(TakeBoxes(), ShownUnless(quiet, CannotReadText(src("d"))));
        EXPECT_EQ(TakeLog(), quiet ? Logged(CannotReadText(src("d"))) : "");
        EXPECT_EQ(tmp_.read("dst/d"), "old");
        EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
    }
}

// Where the kernel cannot copy (the source is swapped for a pipe of the same bytes), the plain
// read/write loop copies, in several rounds of its buffer.
TEST_F(CopyOneFileTest, PlainLoopCopiesWhatTheKernelCannot) {
    const std::string content = Pattern(300 * 1024 + 11);
    tmp_.createFile("src/data.bin", content);
    tmp_.createFolder("dst");
    SetCopyStartHookForTesting([&](int source, int) {
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        ASSERT_GE(::fcntl(ends[1], F_SETPIPE_SZ, 512 * 1024), static_cast<int>(content.size()));
        ASSERT_EQ(::write(ends[1], content.data(), content.size()),
                  static_cast<ssize_t>(content.size()));
        ::close(ends[1]);
        ASSERT_EQ(::dup2(ends[0], source), source);
        ::close(ends[0]);
    });
    EXPECT_EQ(CopyOneFile(src("data.bin"), dst("data.bin"), 0, ui_), 1);
    EXPECT_TRUE(tmp_.read("dst/data.bin") == content);
}

// A partial copy is stale once the process that made it is gone; an id that is no process's
// must never reach kill(), where 0 and -1 address whole groups.
TEST(PartialCopy, IsStaleOnceItsProcessIsGone) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    for (const auto& [pid, stale] : {std::pair{std::to_string(::getpid()), false},
                                     {"1", false},
                                     {std::to_string(child), true},
                                     {"0", true},
                                     {"", true},
                                     {"99999999999", true}}) {
        EXPECT_EQ(IsStalePartialCopy(kPartialCopyPrefix + pid + "-7"), stale) << pid;
    }
}

// Failures of single file-system calls in the middle of the list operations: what the user is
// told, whether the list goes on, and that nothing is lost.
using FaultInjectionTest = FileOpsTest;

// Runs a copy list of src/{sub/data, next.txt} into dst, answering in order; the tree is then as
// it was but for the copies listed in `copied` (and holds no temporary copy).
void CopyAndCompare(TempDir& dir, ScriptedFileOpsUi& ui, const std::vector<int>& answers, int quiet,
                    int result, const std::vector<std::string>& copied) {
    for (const int answer : answers) {
        ui.messages.Answer(answer);
    }
    Items expected = ItemsOf(dir);
    EXPECT_EQ(CopyFileList(dir / "src", dir / "dst", Names{"sub/data", "next.txt"}, quiet, ui),
              result);
    platform::ClearFaultsForTesting();
    for (const std::string& name : copied) {
        expected["dst/" + name] = expected.at("src/" + name);
    }
    EXPECT_EQ(DescribeDifferences(expected, ItemsOf(dir)), "");
    EXPECT_EQ(ui.messages.unscripted(), 0u);
    ASSERT_EQ(ui.windows().size(), 1u);
    EXPECT_TRUE(ui.windows()[0].destroyed);
}

// A copy that fails: the temporary copy goes, the old destination (or its absence) and the
// source (a file or a link) stay exactly as they were. A source that cannot be opened is asked
// about (Retry/Cancel) and logged; one that cannot be read is shown or, under noStopOnError,
// logged; a destination that cannot be made is shown unless noStopOnError and logged. The user
// is then asked whether to go on, unless noStopOnError.
TEST_F(FaultInjectionTest, FailedCopyLeavesDestinationAndSourceAsTheyWere) {
    enum Told { kUnopenable, kSourceUnreadable, kDestinationUnreadable, kDestinationNotMade };
    const struct {
        FaultCall call;
        int error;  // 0: the source is deleted
        const char* nameContains;
        int skip;   // the destination tree enters the folder first
        bool link;  // the source is a symbolic link
        Told told;
    } faults[] = {{FaultCall::OpenRead, EACCES, "data", 0, false, kUnopenable},
                  {FaultCall::EnterFolder, EACCES, "sub", 1, false, kUnopenable},
                  {FaultCall::OpenRead, 0, "", 0, false, kUnopenable},
                  {FaultCall::Read, EIO, "", 0, false, kSourceUnreadable},
                  {FaultCall::Write, ENOSPC, "", 0, false, kDestinationUnreadable},
                  {FaultCall::SetTimes, EIO, "", 0, false, kDestinationNotMade},
                  {FaultCall::Rename, EBUSY, "data", 0, false, kDestinationNotMade},
                  {FaultCall::Create, EACCES, kPartialCopyPrefix, 0, false, kDestinationNotMade},
                  {FaultCall::Create, EACCES, kPartialCopyPrefix, 0, true, kDestinationNotMade},
                  {FaultCall::SetTimes, EIO, "", 0, true, kDestinationNotMade},
                  {FaultCall::Rename, EBUSY, "data", 0, true, kDestinationNotMade}};
    const struct {
        int quiet;
        int retries;  // Retry answers to a source that cannot be opened, then Cancel
        bool opens;   // the source opens after them instead
        int goOn;     // the answer whether to go on after the failure
    } handlings[] = {{0, 2, true, 0},
                     {0, 0, false, kIdYes},
                     {0, 1, false, kIdNo},
                     {0, 0, false, kIdNo},
                     {1, 0, false, 0}};
    for (const auto& fault : faults) {
        for (const auto& handling : handlings) {
            for (const bool hadOld : {true, false}) {
                const bool unopenable = fault.told == kUnopenable;
                if ((!unopenable && (handling.retries > 0 || handling.opens)) ||
                    (fault.error == 0 && handling.opens)) {
                    continue;  // no question to retry; a deleted file does not come back
                }
                SCOPED_TRACE(testing::Message() << static_cast<int>(fault.call) << fault.link
                                                << handling.retries << handling.goOn << hadOld);
                TempDir dir;
                ScriptedFileOpsUi ui;
                if (fault.link) {
                    dir.createFolder("src/sub");
                    ASSERT_EQ(::symlink("target.txt", (dir / "src/sub/data").c_str()), 0);
                    SetModificationTime(dir / "src/sub/data", kSourceTime);
                } else {
                    dir.createFile("src/sub/data", Pattern(100 * 1024 + 3), kSourceTime);
                }
                dir.createFile("src/next.txt", "next", kSourceTime);
                dir.createFolder("dst/sub");
                if (hadOld) {
                    dir.createFile("dst/sub/data", "old content", kOldTime, 5);
                }
                const int failures = handling.retries + !handling.opens;
                if (fault.error == 0) {
                    ASSERT_EQ(::unlink((dir / "src/sub/data").c_str()), 0);
                } else {  // there as often as the user fails to get past it
                    InjectFaultForTesting(fault.call, fault.error, fault.nameContains, fault.skip,
                                          failures);
                }
                std::vector<int> answers(handling.retries, kIdRetry);
                if (unopenable && !handling.opens && !handling.quiet) {
                    answers.push_back(kIdCancel);
                }
                if (handling.goOn) {
                    answers.push_back(handling.goOn);
                }
                std::vector<std::string> copied;
                if (handling.opens) {
                    copied.push_back("sub/data");
                }
                if (handling.goOn != kIdNo) {
                    copied.push_back("next.txt");
                }
                CopyAndCompare(dir, ui, answers, handling.quiet, handling.goOn != kIdNo, copied);
                const std::string texts[] = {CannotOpenText(dir / "src/sub/data"),
                                             CannotReadText(dir / "src/sub/data"),
                                             CannotReadText(dir / "dst/sub/data"),
                                             CannotCreateText(330, dir / "dst/sub/data")};
                const std::string& text = texts[fault.told];
                Boxes boxes;
                if (!handling.quiet) {
                    boxes =
                        unopenable ? Boxes(failures, {text, kMbRetryCancel}) : Boxes{{text, kMbOk}};
                }
                if (handling.goOn) {
                    boxes.emplace_back(kContinueQuestion, kMbYesNo);
                }
                EXPECT_EQ(BoxesOf(ui), boxes);
                const bool logged =
                    handling.quiet || unopenable || fault.told == kDestinationNotMade;
                EXPECT_EQ(dir.readLog(), logged && !handling.opens ? Logged(text) : "");
                EXPECT_EQ(ui.failures(), handling.opens ? 0 : 1);
            }
        }
    }
}

// A folder that cannot be made or reached (by a fault, a file in its way, or a link to a folder
// outside the tree, which holds items of the names given) ends a copy or a create list at once,
// without the question: shown unless noStopOnError, logged in every case, nothing later made and
// nothing outside changed.
TEST_F(FaultInjectionTest, ListsEndAtAFolderThatCannotBeMadeOrReached) {
    const struct {
        FaultCall call;
        int error;  // 0: no fault
        const char* nameContains;
        const char* file;  // an old copy, or a file in the way
        const char* link;  // a link to "outside"
        const char* item;  // of a create list in "base"; nullptr: the copy list
    } rows[] = {{FaultCall::EnterFolder, EACCES, "sub", "dst/sub/data", nullptr, nullptr},
                {FaultCall::CreateFolder, EACCES, "sub", nullptr, nullptr, nullptr},
                {FaultCall::CreateFolder, 0, "", "dst/sub", nullptr, nullptr},
                {FaultCall::CreateFolder, 0, "", nullptr, "dst/sub", nullptr},
                {FaultCall::CreateFolder, EACCES, "blocked", nullptr, nullptr, "blocked"},
                {FaultCall::CreateFolder, EACCES, "parent", nullptr, nullptr, "parent/child"},
                {FaultCall::CreateFolder, 0, "", "base/x/file", nullptr, "x/file/y"},
                {FaultCall::CreateFolder, 0, "", nullptr, "base/d", "d/new"},
                {FaultCall::CreateFolder, 0, "", nullptr, "base/d", "d/sub/new"},
                {FaultCall::CreateFolder, 0, "", nullptr, "base/d", "d/x/y"}};
    int quiet = 0;
    for (const auto& row : rows) {
        quiet = !quiet;
        SCOPED_TRACE(testing::Message() << row.nameContains << row.file << row.link << row.item);
        TempDir dir;
        ScriptedFileOpsUi ui;
        dir.createFile("src/sub/data", "new");
        dir.createFile("src/next.txt", "next");
        dir.createFile("outside/data", "outside");
        dir.createFolder("outside/sub");
        dir.createFolder("dst");
        dir.createFolder("base");
        if (row.file) {
            dir.createFile(row.file, "old", kOldTime);
        }
        if (row.link) {
            ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / row.link).c_str()), 0);
        }
        if (row.error) {
            InjectFaultForTesting(row.call, row.error, row.nameContains);
        }
        std::string failure = CannotCreateText(206, dir / "dst/sub/");
        if (!row.item) {
            CopyAndCompare(dir, ui, {}, quiet, 0, {});
            EXPECT_EQ(ui.windows()[0].statusTexts.size(), 1u);
        } else {
            const Items expected = ItemsOf(dir);
            EXPECT_EQ(
                CreateFolderList(dir / "base/", Names{"first/one", row.item, "later"}, quiet, ui),
                0);
            platform::ClearFaultsForTesting();
            Items after = ItemsOf(dir);
            EXPECT_EQ(after.erase("base/first") + after.erase("base/first/one"), 2u);
            EXPECT_EQ(DescribeDifferences(expected, after), "");
            failure = CannotCreateText(244, dir / "base/" + row.item);
        }
        EXPECT_EQ(BoxesOf(ui), ShownUnless(quiet, failure));
        EXPECT_EQ(dir.readLog(), Logged(failure));
        EXPECT_EQ(ui.failures(), 1);
    }
}

// Deletions that fail get a stamped log line with the reason and no box; the list goes on.
// An item that is gone already is no failure; read-only files go too.
TEST_F(FaultInjectionTest, FailedDeletionsAreLoggedWithTheirReasonAndTheListGoesOn) {
    for (const char* name : {"a.txt", "locked.txt", "perm.txt", "sub/inner.txt", "z.txt"}) {
        tmp_.createFile(std::string("files/") + name, name);
    }
    ASSERT_EQ(::chmod((tmp_ / "files/a.txt").c_str(), 0444), 0);
    tmp_.createFolder("folders/busy");
    tmp_.createFolder("folders/c/d/e");
    tmp_.createFile("folders/full/inside.txt", "i");
    // Links to a folder outside: the items below them fail with ENOTDIR, the link itself is no
    // folder to remove, and nothing outside goes.
    tmp_.createFile("outside/f", "outside f");
    tmp_.createFolder("outside/empty");
    for (const char* link : {"files/l", "folders/l"}) {
        ASSERT_EQ(::symlink((tmp_ / "outside").c_str(), (tmp_ / link).c_str()), 0);
    }
    Items expected = ItemsOf(tmp_);
    InjectFaultForTesting(FaultCall::Delete, EACCES, "locked.txt");
    InjectFaultForTesting(FaultCall::Delete, EPERM, "perm.txt");
    InjectFaultForTesting(FaultCall::EnterFolder, EACCES, "sub");
    InjectFaultForTesting(FaultCall::RemoveFolder, EBUSY, "busy");
    const Names files{"a.txt",         "locked.txt", "perm.txt", "gone.txt",
                      "sub/inner.txt", "l/f",        "z.txt"};
    EXPECT_EQ(DeleteFileList(tmp_ / "files", files, ui_), 1);
    // Descending order, as the synchronisation passes it: subfolders before their parents.
    const Names folders{"busy", "full", "gone", "l/empty", "l", "c/d/e", "c/d", "c"};
    EXPECT_EQ(DeleteFolderList(tmp_ / "folders/", folders, ui_), 1);
    std::string log;
    for (const auto& [name, error] : {std::pair{"files/locked.txt", EACCES},
                                      {"files/perm.txt", EPERM},
                                      {"files/sub/inner.txt", EACCES},
                                      {"files/l/f", ENOTDIR},
                                      {"folders/busy", EBUSY},
                                      {"folders/full", ENOTEMPTY},
                                      {"folders/l/empty", ENOTDIR},
                                      {"folders/l", ENOTDIR}}) {
        log += Logged(CannotDeleteText(tmp_ / name, error));
    }
    EXPECT_EQ(TakeLog(), log);
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 8);
    for (const char* gone :
         {"files/a.txt", "files/z.txt", "folders/c", "folders/c/d", "folders/c/d/e"}) {
        expected.erase(gone);
    }
    EXPECT_EQ(DescribeDifferences(expected, ItemsOf(tmp_)), "");
    ASSERT_EQ(ui_.windows().size(), 2u);
    ExpectWholeWindow(ui_.windows()[0], 7);
    ExpectWholeWindow(ui_.windows()[1], 8);
}

// The temporary copy belongs beside the destination whatever the current folder is: anywhere
// else the rename fails across file systems, and a copy cut short leaves it where no scan of
// the trees finds it. Where the file system refuses the one-step "rename unless something is
// there", the copy looks at the destination itself: a writable one is replaced, a read-only one
// kept.
TEST_F(FaultInjectionTest, TemporaryCopyBesideTheDestinationAndCommitWithoutNoReplaceRename) {
    for (const char* name : {"new.txt", "old.txt", "locked.txt"}) {
        tmp_.createFile(std::string("src/") + name, "changed");
        InjectFaultForTesting(FaultCall::Rename, EOPNOTSUPP, name, 0, 1);
    }
    tmp_.createFile("dst/old.txt", "old");
    tmp_.createFile("dst/locked.txt", "locked");
    ASSERT_EQ(::chmod((tmp_ / "dst/locked.txt").c_str(), 0444), 0);
    tmp_.createFolder("elsewhere");
    Items expected = ItemsOf(tmp_);
    const ScopedCurrentFolder current(tmp_ / "elsewhere");
    std::string temporary;
    SetCopyStartHookForTesting([&temporary](int, int fd) {
        temporary = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd));
    });
    EXPECT_EQ(
        CopyFileList(tmp_ / "src", tmp_ / "dst", Names{"locked.txt", "new.txt", "old.txt"}, 1, ui_),
        1);
    EXPECT_EQ(std::filesystem::path(temporary).parent_path(),
              std::filesystem::canonical(tmp_ / "dst"));
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(330, tmp_ / "dst/locked.txt")));
    expected["dst/new.txt"] = expected.at("src/new.txt");
    expected["dst/old.txt"] = expected.at("src/old.txt");
    EXPECT_EQ(DescribeDifferences(expected, ItemsOf(tmp_)), "");
}

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

using WriteLogTest = FileOpsTest;

TEST_F(WriteLogTest, LogFolderFollowsTheEnvironmentAndIsCreatedPrivateWithItsParents) {
    EnvOverride logDir("MIROVA_LOG_DIR"), stateHome("XDG_STATE_HOME"), home("HOME");
    home.Set("/home/tester");
    logDir.Set("/var/tmp/mirova-logs");
    stateHome.Set("/srv/state");
    EXPECT_EQ(LogFilePath(kRunLogName), "/var/tmp/mirova-logs/Mirova.log");
    logDir.Set("");  // empty counts as unset
    EXPECT_EQ(LogFilePath(kReverseListName), "/srv/state/Mirova/ReverseList.txt");
    stateHome.Set("relative/state");  // a relative XDG_STATE_HOME is ignored
    EXPECT_EQ(LogFolder(), "/home/tester/.local/state/Mirova");
    logDir.Set((tmp_ / "state/deeper/Mirova//").c_str());
    ASSERT_TRUE(EnsureLogFolder());
    EXPECT_EQ(StatOf(tmp_ / "state/deeper/Mirova").st_mode & 07777, 0700u);
    EXPECT_TRUE(EnsureLogFolder());  // and finds it the second time
    // A file where the log folder's parent should be: the folder cannot be created, by anyone,
    // and lines are lost without a word.
    tmp_.createFile("blocker", "keep");
    logDir.Set((tmp_ / "blocker/log").c_str());
    EXPECT_FALSE(EnsureLogFolder());
    WriteLog("lost", 1);
    AppendReverseList("lost.txt");
    EXPECT_EQ(tmp_.read("blocker"), "keep");
}

TEST_F(WriteLogTest, OnlyStampedOneLinesCarryTheTime) {
    platform::FixedClock first{{2017, 3, 5, 14, 7, 9}}, late{{2100, 12, 31, 23, 59, 58}},
        early{{2001, 1, 2, 0, 0, 0}};
    platform::SetClock(&first);
    WriteLog("ﾏｰｼﾞ処理終了", 1);
    EXPECT_EQ(StatOf(tmp_.logDir()).st_mode & 07777, 0700u);
    EXPECT_EQ(StatOf(LogFilePath(kRunLogName)).st_mode & 0077, 0u);
    WriteLog("", 0);
    WriteLog("two", 2);
    WriteLog("上書きしますか？\nYes", 0);
    platform::SetClock(&late);  // the year field grows past two digits
    WriteLog("late", 1);
    platform::SetClock(&early);
    WriteLog("", 1);
    AppendReverseList("sub/file.txt");
    AppendReverseList("表.txt");
    EXPECT_EQ(tmp_.readLog(),
              "170305-140709: ﾏｰｼﾞ処理終了\n\ntwo\n上書きしますか？\nYes\n"
              "1001231-235958: late\n010102-000000: \n");
    EXPECT_EQ(ReadFileText(LogFilePath(kReverseListName)), "sub/file.txt\r\n表.txt\r\n");
    // A folder where the log file should be: the open fails, and nothing else happens.
    ::unlink(LogFilePath(kRunLogName).c_str());
    tmp_.createFolder("log/Mirova.log");
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
    std::istringstream log(tmp_.readLog());
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

}  // namespace
}  // namespace mirova::test
