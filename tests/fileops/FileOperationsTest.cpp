// The list operations, single copies, failing calls in their midst, the run log, the workers ahead.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <random>
#include <thread>

#include "ScriptedFileOpsUi.h"
#include "TreeSnapshot.h"
#include "fileops/AheadWorkers.h"
#include "fileops/FileOperations.h"
#include "fileops/Format.h"
#include "fileops/RunLog.h"
#include "fileops/SafeCopy.h"
#include "platform/Clock.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"

namespace mirova::test {
namespace {

using namespace platform;
namespace fs = std::filesystem;
using Boxes = std::vector<std::pair<std::string, int>>;  // the message boxes met: text, style
constexpr std::int64_t kOldTime = 1600000000, kSourceTime = 1700000000;

// The names of a list operation: owns the texts, and is the list of pointers the operations take.
struct Names : std::vector<const char*> {
    Names(std::vector<std::string> names) : texts(std::move(names)) {
        for (const std::string& text : texts) {
            push_back(text.c_str());
        }
    }
    Names(std::initializer_list<std::string> names) : Names(std::vector<std::string>(names)) {}
    std::vector<std::string> texts;
};

Boxes BoxesOf(const ScriptedFileOpsUi& ui) {
    Boxes boxes;
    for (const auto& request : ui.messages.requests()) {
        boxes.emplace_back(request.text, request.style);
    }
    return boxes;
}

// Every item of a folder but its run log, by relative name.
Snapshot ItemsOf(const TempDir& dir) {
    Snapshot items = SnapshotTree(dir.path());
    std::erase_if(items, [](const auto& item) { return item.first.starts_with("log"); });
    return items;
}

// A fresh folder, a scripted front end and a fixed clock, so that log lines are known exactly; the
// current folder, faults and copy hook of a test are undone at its end.
class FileOpsTest : public ::testing::Test {
protected:
    FileOpsTest() { SetClock(&clock_); }
    ~FileOpsTest() override {
        fs::current_path(cwd_);
        SetClock(nullptr);
        ClearFaultsForTesting();
        SetCopyStartHookForTesting(nullptr);
    }
    std::string src(const std::string& name) const { return tmp_ / ("src/" + name); }
    std::string dst(const std::string& name) const { return tmp_ / ("dst/" + name); }
    std::string TakeLog() {  // the log lines written since the last call
        const std::string all = tmp_.readLog();
        return all.substr(std::exchange(logSeen_, all.size()));
    }
    // A log line as a stamped WriteLog writes it at the fixed time.
    static std::string Logged(const std::string& text) { return "240102-030405: " + text + "\n"; }
    // The texts of the file operations, written out here rather than taken from the code.
    static std::string CannotCreateText(int site, const std::string& path) {
        return Format(".\\FileCtrl:%d - %s が作成できません。", site, path.c_str());
    }
    static std::string CannotOpenText(const std::string& path) {
        return ".\\FileCtrl:316 - " + path + " が開けません。";
    }
    static std::string CannotReadText(const std::string& path) { return path + " が読めません。"; }
    static std::string CannotDeleteText(const std::string& path, int error) {
        return path + " が削除できません。(" + std::strerror(error) + ")";
    }
    // The attributes of an item itself (a link is not followed); all zero when it is missing.
    static struct stat StatOf(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st : decltype(st){};
    }
    static std::string Pattern(std::size_t size) {  // distinct bytes of the given length
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
        }
        return bytes;
    }
    // Nested folders of 200-byte names below base, longer than PATH_MAX; not created.
    static std::string DeepFolder(const std::string& base, char letter) {
        std::string path = base;
        while (path.size() <= PATH_MAX) {
            path += "/" + std::string(200, letter);
        }
        return path;
    }
    TempDir tmp_;
    ScriptedFileOpsUi ui_;
    FixedClock clock_{{2024, 1, 2, 3, 4, 5}};
    std::size_t logSeen_ = 0;
    const fs::path cwd_ = fs::current_path();
};

// With "/" as a base the lists reach "/" + name, never the current folder's; run in a child in a
// folder of the test's own, with names that "/" does not hold, so that "/" is never changed.
TEST_F(FileOpsTest, ListsWithTheRootAsBaseNeverFallBackToTheCurrentFolder) {
    const std::string victim = Format("mirova-root-test-%d-victim", ::getpid()),
                      hello = Format("mirova-root-test-%d-hello", ::getpid());
    ASSERT_FALSE(Exists("/" + victim) || Exists("/" + hello));
    tmp_.make(victim + "=not-in-any-tree " + hello + "=the-current-folder's");
    const pid_t child = ::fork();
    if (child == 0) {
        const int moved = ::chdir(tmp_.path().c_str());  // 0, or -1 that fails the test
        ScriptedFileOpsUi ui;
        DeleteFileList("/", Names{victim}, ui);
        const int copied = CopyFileList("/", tmp_ / "dst", Names{hello}, 1, ui);
        ::_exit(moved | (Exists(victim) ? 0 : 1) | (Exists(dst(hello)) ? 2 : 0) |
                (copied != 0 ? 4 : 0));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "1: deleted from the current folder, 2 and 4: copied from it";
    EXPECT_EQ(tmp_.read(victim), "not-in-any-tree");
}

// Folders are made with their missing parents, those already there are no failure. Under
// noStopOnError a copy list goes past its failures, and its result is that of the last file.
TEST_F(FileOpsTest, ListsCreateMissingFoldersAndEndWithTheOutcomeOfTheLastItem) {
    tmp_.make("base/a/b/c/ src/t=top");
    EXPECT_EQ(CreateFolderList(tmp_ / "base", Names{"a/b/c", "p/q"}, 0, ui_), 1);
    EXPECT_TRUE(Exists(tmp_ / "base/p/q/") && ui_.windows().empty());
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "d1", Names{"t", "gone", "t"}, 1, ui_), 1);
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "d2", Names{"t", "gone"}, 1, ui_), 0);
    EXPECT_EQ(tmp_.read("d1/t") + tmp_.read("d2/t"), "toptop");
    EXPECT_EQ(std::pair(BoxesOf(ui_).size(), ui_.failures()), std::pair(0ul, 2));
}

// Cancel, once confirmed, ends any of the three list operations before the next item.
TEST_F(FileOpsTest, CancelIsConfirmedBeforeTheNextItem) {
    for (const std::string folder : {"files", "folders", "dst"}) {
        for (const bool stop : {false, true}) {
            SCOPED_TRACE(folder + std::to_string(stop));
            TempDir dir;
            dir.make("files/a files/b files/c folders/a/ folders/b/ folders/c/ src/a src/b src/c");
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
            const auto w = ui.windows().at(0);
            EXPECT_EQ(
                std::tuple(w.statusTexts.size(), w.stepBarCalls, w.destroyed, w.statusTexts[0]),
                std::tuple(stop ? 1u : 3u, stop ? 1 : 3, true, copy ? "a をｺﾋﾟｰ中" : "a を削除中"));
        }
    }
}

// "outside" holds items of the given names: an operation going through a link would find them.
class ConfinementTest : public FileOpsTest {
protected:
    ConfinementTest() {
        tmp_.make("outside/f=outside outside/secret.txt=secret outside/sub/ outside/empty/");
        before_ = SnapshotTree(tmp_ / "outside");
    }
    void TearDown() override {
        EXPECT_EQ(DescribeDifferences(before_, SnapshotTree(tmp_ / "outside")), "");
        for (const auto& [name, item] : SnapshotTree(tmp_ / "dst")) {
            EXPECT_EQ(name.find(kPartialCopyPrefix), std::string::npos) << name;
        }
    }
    Snapshot before_;
};

// A link that is the item itself is deleted, replaced or copied as a link, never what it points
// to; a source folder swapped for a link is a source that cannot be opened.
TEST_F(ConfinementTest, LinksAreNeverFollowedToTheirTargets) {
    tmp_.make("base/d->outside base/lf->outside/f");
    EXPECT_EQ(DeleteFileList(tmp_ / "base", Names{"lf"}, ui_), 1);
    EXPECT_FALSE(Exists(tmp_ / "base/lf"));
    EXPECT_EQ(CreateFolderList(tmp_ / "base", Names{"d"}, 1, ui_), 0);
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(244, tmp_ / "base/d")));
    EXPECT_TRUE(S_ISLNK(StatOf(tmp_ / "base/d").st_mode));
    tmp_.make("src/ok.txt=ok src/lf=new src/d->outside src/link->outside/f dst/lf->outside/f");
    const Names names{"d/secret.txt", "lf", "link", "ok.txt"};
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", names, 1, ui_), 1);
    EXPECT_EQ(TakeLog(), Logged(CannotOpenText(tmp_ / "src/d/secret.txt")));
    EXPECT_FALSE(Exists(tmp_ / "dst/d/secret.txt") || S_ISLNK(StatOf(tmp_ / "dst/lf").st_mode));
    EXPECT_EQ(tmp_.read("dst/ok.txt") + tmp_.read("dst/lf"), "oknew");
    EXPECT_EQ(ItemsOf(tmp_).at("dst/link").content, tmp_ / "outside/f");
    EXPECT_TRUE(BoxesOf(ui_).empty());
}

// Beyond PATH_MAX the lists work too, and the user is told which folder could not be entered.
TEST_F(ConfinementTest, ListsReachPathsLongerThanPathMaxAndNameTheLinkThatStoppedTheWalk) {
    const std::string deep = DeepFolder(tmp_ / "base", 'b');
    tmp_.make("src/ro.txt=x src/sub/f.bin=far");
    ASSERT_EQ(::chmod(src("ro.txt").c_str(), 0444), 0);
    EXPECT_EQ(CopyFileList(tmp_ / "src/", deep, Names{"ro.txt", "sub/f.bin"}, 0, ui_), 1);
    EXPECT_EQ(CopyFileList(deep, tmp_ / "back", Names{"sub/f.bin"}, 0, ui_), 1);
    EXPECT_EQ(tmp_.read("back/sub/f.bin"), "far");
    ASSERT_TRUE(CreateFolder(deep + "/empty").ok());
    PathAnchor anchor;
    ASSERT_TRUE(AnchorPath(deep + "/d", anchor).ok());
    ASSERT_TRUE(CreateLink(tmp_ / "outside", {anchor.dir, anchor.leaf.c_str()}).ok());
    EXPECT_EQ(DeleteFileList(deep, Names{"ro.txt", "d/f"}, ui_), 1);
    EXPECT_EQ(DeleteFolderList(deep, Names{"empty"}, ui_), 1);
    EXPECT_FALSE(Exists(deep + "/ro.txt") || Exists(deep + "/empty"));
    const std::string notice =
        deep + "/d/f\nd に移動できません。\n現在はのカレントは" + deep + "です。";
    EXPECT_EQ(BoxesOf(ui_), (Boxes{{notice, kMbOk}}));
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(deep + "/d/f", ENOTDIR)));
    // A folder that cannot be created is no folder that cannot be entered.
    InjectFaultForTesting(FaultCall::CreateFolder, EACCES, "new");
    EXPECT_EQ(CreateFolderList(deep, Names{"x/new/y"}, 1, ui_), 0);
    ClearFaultsForTesting();
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(244, deep + "/x/new/y")));
    EXPECT_EQ(BoxesOf(ui_).size(), 1u);
}

// Files keep content, times, permissions and owner; links are copied as links with their own
// target, times and owner, whatever they replace.
TEST_F(FileOpsTest, CopyKeepsContentTimesPermissionsAndOwner) {
    tmp_.createFile("src/big.bin", Pattern(2660038));
    tmp_.createFile("src/ro.txt", Pattern(70001));
    // Opening a link to itself fails as a loop does, yet it is a link to copy.
    tmp_.make("src/self->src/self dst/self=replaced");
    const timespec times[2] = {{1400000000, 123456789}, {1500000000, 987654321}};
    for (const char* name : {"big.bin", "ro.txt", "self"}) {
        ASSERT_EQ(::lchown(src(name).c_str(), 12345, 23456), 0);  // the tests run as root
        ASSERT_EQ(::utimensat(AT_FDCWD, src(name).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    // The set-user-id file fails when its owner (which clears the bit) follows its bits, the
    // read-only one unless it is whole before it loses its write permission.
    ASSERT_EQ(::chmod(src("big.bin").c_str(), 04755) + ::chmod(src("ro.txt").c_str(), 0444), 0);
    for (const char* name : {"big.bin", "ro.txt", "self"}) {
        EXPECT_EQ(CopyOneFile(src(name), dst(name), 0, ui_), 1) << name;
        const struct stat copied = StatOf(dst(name));  // before a read moves its access time
        EXPECT_TRUE(S_ISLNK(copied.st_mode) || copied.st_atim.tv_nsec == times[0].tv_nsec);
        EXPECT_EQ(copied.st_uid * 100000 + copied.st_gid, 12345u * 100000 + 23456u) << name;
    }
    // Kind, content or link target, permissions and last-write time; no unfinished copy.
    EXPECT_EQ(DescribeDifferences(SnapshotTree(tmp_ / "src"), SnapshotTree(tmp_ / "dst")), "");
    EXPECT_EQ(TakeLog() + std::to_string(ui_.failures() + BoxesOf(ui_).size()), "0");
}

// A source that shrinks during the copy is a source that cannot be read: the old destination
// stays whole, and the failure is shown or, when no box may stop the run, logged.
TEST_F(FileOpsTest, ShrinkingSourceLeavesTheOldDestination) {
    SetCopyStartHookForTesting([&](int, int) { ASSERT_EQ(::truncate(src("d").c_str(), 10), 0); });
    for (const int quiet : {0, 1}) {
        tmp_.createFile("src/d", Pattern(200 * 1024));
        tmp_.createFile("dst/d", "old");
        EXPECT_EQ(CopyOneFile(src("d"), dst("d"), quiet, ui_), 0);
        EXPECT_EQ(BoxesOf(ui_), (Boxes{{CannotReadText(src("d")), kMbOk}}));  // none when quiet
        EXPECT_EQ(TakeLog(), quiet ? Logged(CannotReadText(src("d"))) : "");
        EXPECT_EQ(tmp_.read("dst/d") + std::to_string(SnapshotTree(tmp_ / "dst").size()), "old1");
    }
}

// Where the kernel cannot copy (the source is a pipe), the plain read/write loop copies in rounds.
TEST_F(FileOpsTest, PlainLoopCopiesWhatTheKernelCannot) {
    const std::string content = Pattern(300 * 1024 + 11);
    tmp_.createFile("src/data.bin", content);
    tmp_.createFolder("dst");
    SetCopyStartHookForTesting([&](int source, int) {
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        ASSERT_GE(::fcntl(ends[1], F_SETPIPE_SZ, 512 * 1024), static_cast<int>(content.size()));
        ASSERT_EQ(::write(ends[1], content.data(), content.size()), ssize_t(content.size()));
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
    // Two processes that run, then ids of none.
    const std::string pids[] = {
        "1", std::to_string(::getpid()), std::to_string(child), "0", "", "99999999999"};
    for (std::size_t i = 0; i < std::size(pids); ++i) {
        EXPECT_EQ(IsStalePartialCopy(kPartialCopyPrefix + pids[i] + "-7"), i >= 2) << pids[i];
    }
}

// Failures of single file-system calls in the middle of the list operations: what the user is
// told, whether the list goes on, and that nothing is lost.
using FaultInjectionTest = FileOpsTest;

// Runs a copy list of src/{sub/data, next.txt} into dst; the tree is then as it was but for
// the copies made (and holds no temporary copy).
void CopyAndCompare(TempDir& dir, ScriptedFileOpsUi& ui, int quiet, bool dataCopied, bool goesOn) {
    Snapshot expected = ItemsOf(dir);
    EXPECT_EQ(CopyFileList(dir / "src", dir / "dst", Names{"sub/data", "next.txt"}, quiet, ui),
              goesOn ? 1 : 0);
    ClearFaultsForTesting();
    for (const std::string name : {"sub/data", "next.txt"}) {
        if (name == "sub/data" ? dataCopied : goesOn) {
            expected["dst/" + name] = expected.at("src/" + name);
        }
    }
    EXPECT_EQ(DescribeDifferences(expected, ItemsOf(dir)), "");
    EXPECT_EQ(
        std::tuple(ui.messages.unscripted(), ui.windows().size(), ui.windows().at(0).destroyed),
        std::tuple(0ul, 1ul, true));
}

// A failed copy leaves no temporary copy and the old destination (or none) and the source as they
// were. An unopenable source is asked about (Retry/Cancel) and logged, an unreadable one shown or
// (noStopOnError) logged, an unmade destination shown unless noStopOnError and logged; then
// whether to go on is asked unless noStopOnError.
TEST_F(FaultInjectionTest, FailedCopyLeavesDestinationAndSourceAsTheyWere) {
    enum Told { kUnopenable, kSourceUnreadable, kDestinationUnreadable, kDestinationNotMade };
    // The fault (error 0: the source is deleted; skip 1: the destination tree enters the folder
    // first), whether the source is a link, and what the user is told.
    const std::tuple<FaultCall, int, const char*, int, bool, Told> faults[] = {
        {FaultCall::OpenRead, EACCES, "data", 0, false, kUnopenable},
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
    // noStopOnError; Retry answers to a source that cannot be opened, then Cancel unless it opens
    // after them; the answer whether to go on after the failure.
    const std::tuple<int, int, bool, int> handlings[] = {
        {0, 2, true, 0},      {0, 0, false, kIdYes}, {0, 1, false, kIdNo},
        {0, 0, false, kIdNo}, {1, 0, false, 0},
    };
    for (const auto& [call, error, nameContains, skip, link, told] : faults) {
        for (const auto& [quiet, retries, opens, goOn] : handlings) {
            for (const bool hadOld : {true, false}) {
                const bool unopenable = told == kUnopenable;
                if ((!unopenable && (retries > 0 || opens)) || (error == 0 && opens)) {
                    continue;  // no question to retry; a deleted file does not come back
                }
                SCOPED_TRACE(Format("%d %d %d %d %d", int(call), link, retries, goOn, hadOld));
                TempDir dir;
                ScriptedFileOpsUi ui;
                dir.make(std::string(hadOld ? "dst/sub/data=old@1600000000" : "dst/sub/") +
                         (link ? " src/sub/data->x src/next.txt=next" : " src/next.txt=next"));
                const std::string from = dir / "src/sub/data", to = dir / "dst/sub/data";
                link ? SetModificationTime(from, kSourceTime)
                     : dir.createFile("src/sub/data", Pattern(100 * 1024 + 3), kSourceTime);
                const int failures = retries + !opens;
                if (error == 0) {
                    ASSERT_EQ(::unlink(from.c_str()), 0);
                } else {  // there as often as the user fails to get past it
                    InjectFaultForTesting(call, error, nameContains, skip, failures);
                }
                std::vector<int> answers(retries, kIdRetry);  // then Cancel, then whether to go on
                answers.insert(answers.end(),
                               {unopenable && !opens && !quiet ? kIdCancel : 0, goOn});
                std::erase(answers, 0);
                for (const int answer : answers) {
                    ui.messages.Answer(answer);
                }
                CopyAndCompare(dir, ui, quiet, opens, goOn != kIdNo);
                const std::string texts[] = {CannotOpenText(from), CannotReadText(from),
                                             CannotReadText(to), CannotCreateText(330, to)};
                const std::string& text = texts[told];
                Boxes boxes = quiet        ? Boxes{}
                              : unopenable ? Boxes(failures, {text, kMbRetryCancel})
                                           : Boxes{{text, kMbOk}};
                if (goOn) {
                    boxes.emplace_back(kContinueQuestion, kMbYesNo);
                }
                EXPECT_EQ(BoxesOf(ui), boxes);
                const bool logged = quiet || unopenable || told == kDestinationNotMade;
                EXPECT_EQ(dir.readLog(), logged && !opens ? Logged(text) : "");
                EXPECT_EQ(ui.failures(), opens ? 0 : 1);
            }
        }
    }
}

// A folder that cannot be made or reached (a fault, a file in its way, a link to "outside", which
// holds items of the given names) ends a copy or create list at once without the question: shown
// unless noStopOnError, logged always, nothing later made and nothing outside changed.
TEST_F(FaultInjectionTest, ListsEndAtAFolderThatCannotBeMadeOrReached) {
    // The fault (error 0: none); an old copy, a file in the way or a link to "outside"; the item of
    // a create list in "base" (nullptr: the copy list).
    const std::tuple<FaultCall, int, const char*, const char*, const char*> rows[] = {
        {FaultCall::EnterFolder, EACCES, "sub", "dst/sub/data=old", nullptr},
        {FaultCall::CreateFolder, EACCES, "sub", "", nullptr},
        {FaultCall::CreateFolder, 0, "", "dst/sub=old", nullptr},
        {FaultCall::CreateFolder, 0, "", "dst/sub->outside", nullptr},
        {FaultCall::CreateFolder, EACCES, "blocked", "", "blocked"},
        {FaultCall::CreateFolder, EACCES, "parent", "", "parent/child"},
        {FaultCall::CreateFolder, 0, "", "base/x/file=old", "x/file/y"},
        {FaultCall::CreateFolder, 0, "", "base/d->outside", "d/new"},
        {FaultCall::CreateFolder, 0, "", "base/d->outside", "d/sub/new"},
        {FaultCall::CreateFolder, 0, "", "base/d->outside", "d/x/y"}};
    int quiet = 0;
    for (const auto& [call, error, nameContains, layout, item] : rows) {
        quiet = !quiet;
        SCOPED_TRACE(testing::Message() << nameContains << layout << item);
        TempDir dir;
        ScriptedFileOpsUi ui;
        dir.make("src/sub/data=new src/next.txt=next outside/data=outside outside/sub/ dst/ base/");
        dir.make(layout);
        if (error) {
            InjectFaultForTesting(call, error, nameContains);
        }
        std::string failure = CannotCreateText(206, dir / "dst/sub/");
        if (!item) {
            CopyAndCompare(dir, ui, quiet, false, false);
            EXPECT_EQ(ui.windows()[0].statusTexts.size(), 1u);
        } else {
            const Snapshot expected = ItemsOf(dir);
            EXPECT_EQ(CreateFolderList(dir / "base/", Names{"first/one", item, "later"}, quiet, ui),
                      0);
            ClearFaultsForTesting();
            Snapshot after = ItemsOf(dir);
            EXPECT_EQ(after.erase("base/first") + after.erase("base/first/one"), 2u);
            EXPECT_EQ(DescribeDifferences(expected, after), "");
            failure = CannotCreateText(244, dir / "base/" + item);
        }
        EXPECT_EQ(BoxesOf(ui), (quiet ? Boxes{} : Boxes{{failure, kMbOk}}));
        EXPECT_EQ(dir.readLog(), Logged(failure));
        EXPECT_EQ(ui.failures(), 1);
    }
}

// Deletions that fail get a stamped log line with the reason and no box; the list goes on.
// An item that is gone already is no failure; read-only files go too.
TEST_F(FaultInjectionTest, FailedDeletionsAreLoggedWithTheirReasonAndTheListGoesOn) {
    // Links to a folder outside: the items below them fail with ENOTDIR, the link itself is no
    // folder to remove, and nothing outside goes.
    tmp_.make(
        "files/a.txt=a files/locked.txt=b files/perm.txt=c files/sub/inner.txt=d "
        "files/z.txt=e folders/busy/ folders/c/d/e/ folders/full/inside.txt outside/f "
        "outside/empty/ files/l->outside folders/l->outside");
    ASSERT_EQ(::chmod((tmp_ / "files/a.txt").c_str(), 0444), 0);
    Snapshot expected = ItemsOf(tmp_);
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
    const int errors[] = {EACCES, EPERM, EACCES, ENOTDIR, EBUSY, ENOTEMPTY, ENOTDIR, ENOTDIR};
    std::string log, item;
    std::istringstream failed(
        "files/locked.txt files/perm.txt files/sub/inner.txt files/l/f folders/busy folders/full "
        "folders/l/empty folders/l");
    for (const int error : errors) {
        failed >> item;
        log += Logged(CannotDeleteText(tmp_ / item, error));
    }
    EXPECT_EQ(TakeLog(), log);
    EXPECT_EQ(std::pair(BoxesOf(ui_).size(), ui_.failures()), std::pair(0ul, 8));
    for (const char* gone :
         {"files/a.txt", "files/z.txt", "folders/c", "folders/c/d", "folders/c/d/e"}) {
        expected.erase(gone);
    }
    EXPECT_EQ(DescribeDifferences(expected, ItemsOf(tmp_)), "");
    // Each window: a status line and a Cancel look per item, a bar of a step of 1 per item, closed;
    // from 10,000 items on the bar counts percent, stepping at the first item, then each 100th.
    EXPECT_EQ(DeleteFileList(tmp_ / "files", Names(std::vector<std::string>(10000, "gone")), ui_),
              1);
    std::vector<std::tuple<std::size_t, int, int, int, int, int, bool>> windows;
    for (const auto& w : ui_.windows()) {
        windows.emplace_back(w.statusTexts.size(), w.cancelChecks, w.rangeLow, w.rangeHigh, w.step,
                             w.stepBarCalls, w.destroyed);
    }
    EXPECT_EQ(windows, (decltype(windows){{7, 7, 0, 7, 1, 7, true},
                                          {8, 8, 0, 8, 1, 8, true},
                                          {10000, 10000, 0, 100, 1, 100, true}}));
}

// The temporary copy is made beside the destination whatever the current folder. Where "rename
// unless something is there" is refused, the copy looks: a writable one is replaced, a read-only
// kept.
TEST_F(FaultInjectionTest, TemporaryCopyBesideTheDestinationAndCommitWithoutNoReplaceRename) {
    for (const char* name : {"new.txt", "old.txt", "locked.txt"}) {
        InjectFaultForTesting(FaultCall::Rename, EOPNOTSUPP, name, 0, 1);
    }
    tmp_.make(
        "src/new.txt=new src/old.txt=changed src/locked.txt=changed dst/old.txt=old "
        "dst/locked.txt=locked elsewhere/");
    ASSERT_EQ(::chmod((tmp_ / "dst/locked.txt").c_str(), 0444), 0);
    Snapshot expected = ItemsOf(tmp_);
    fs::current_path(tmp_ / "elsewhere");
    std::string temporary;
    SetCopyStartHookForTesting([&temporary](int, int fd) {
        temporary = fs::read_symlink("/proc/self/fd/" + std::to_string(fd));
    });
    EXPECT_EQ(
        CopyFileList(tmp_ / "src", tmp_ / "dst", Names{"locked.txt", "new.txt", "old.txt"}, 1, ui_),
        1);
    EXPECT_EQ(fs::path(temporary).parent_path(), fs::canonical(tmp_ / "dst"));
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(330, tmp_ / "dst/locked.txt")));
    expected["dst/new.txt"] = expected.at("src/new.txt");
    expected["dst/old.txt"] = expected.at("src/old.txt");
    EXPECT_EQ(DescribeDifferences(expected, ItemsOf(tmp_)), "");
}

using WriteLogTest = FileOpsTest;

// Only stamped lines carry the time; the log folder follows the environment and is created private
// with its parents.
TEST_F(WriteLogTest, StampedLinesAndAFolderThatFollowsTheEnvironment) {
    FixedClock early{{2001, 1, 2, 0, 0, 0}};
    WriteLog("ﾏｰｼﾞ処理終了", 1);
    EXPECT_EQ(StatOf(tmp_.logDir()).st_mode & 07777, 0700u);
    EXPECT_EQ(StatOf(LogFilePath(kRunLogName)).st_mode & 0077, 0u);
    WriteLog("", 0);
    WriteLog("two", 2);
    WriteLog("上書きしますか？\nYes", 0);
    SetClock(&early);
    WriteLog("", 1);
    AppendReverseList("sub/file.txt");
    AppendReverseList("表.txt");
    EXPECT_EQ(tmp_.readLog(),
              Logged("ﾏｰｼﾞ処理終了") + "\ntwo\n上書きしますか？\nYes\n010102-000000: \n");
    EXPECT_EQ(ReadFileText(LogFilePath(kReverseListName)), "sub/file.txt\r\n表.txt\r\n");
    ScopedEnv logDir("MIROVA_LOG_DIR", "/var/tmp/mirova-logs"), home("HOME", "/home/tester"),
        stateHome("XDG_STATE_HOME", "/srv/state");
    EXPECT_EQ(LogFilePath(kRunLogName), "/var/tmp/mirova-logs/Mirova.log");
    logDir.Set("");  // empty counts as unset
    EXPECT_EQ(LogFilePath(kReverseListName), "/srv/state/Mirova/ReverseList.txt");
    stateHome.Set("relative/state");  // a relative XDG_STATE_HOME is ignored
    EXPECT_EQ(LogFolder(), "/home/tester/.local/state/Mirova");
    logDir.Set((tmp_ / "state/deeper/Mirova//").c_str());
    ASSERT_TRUE(EnsureLogFolder());
    EXPECT_EQ(StatOf(tmp_ / "state/deeper/Mirova").st_mode & 07777, 0700u);
    EXPECT_TRUE(EnsureLogFolder());  // and finds it the second time
    // A file in the log folder's way: the folder cannot be made, and lines are lost without a word.
    tmp_.createFile("blocker", "keep");
    logDir.Set((tmp_ / "blocker/log").c_str());
    EXPECT_FALSE(EnsureLogFolder());
    WriteLog("lost", 1);
}

TEST_F(WriteLogTest, ConcurrentWritersKeepLinesWholeAndInOrder) {
    const std::string padding(300, 'x');
    auto writer = [&](char id) {
        for (int i = 0; i < 3000; ++i) {
            WriteLog(id + Format("%06d", i) + padding + id, 0);
        }
    };
    [&] { std::jthread first(writer, 'A'), second(writer, 'B'); }();  // both run, then are joined
    std::istringstream log(tmp_.readLog());
    int next[2] = {0, 0};
    for (std::string line; std::getline(log, line);) {
        const char id = line.front();
        ASSERT_TRUE((id == 'A' || id == 'B') && line.back() == id) << line.substr(0, 40);
        ASSERT_EQ(line, id + Format("%06d", next[id - 'A']++) + padding + id);
    }
    EXPECT_EQ(next[0] + next[1], 6000);
}

TEST_F(FileOpsTest, MakeFolderPathCreatesWhatIsMissingAndFailsOnAnythingButFolders) {
    tmp_.make("a/keep.txt f=data");
    const std::string deep = DeepFolder(tmp_ / "deep", 'd');  // longer than PATH_MAX
    // Existing, missing, with runs of "/", and long (twice: made, then found).
    for (const std::string& path :
         {std::string("/"), tmp_ / "a", tmp_ / "a/b/c", tmp_.path() + "//x///y//", deep, deep}) {
        EXPECT_EQ(MakeFolderPath(path.c_str()), 0) << path.substr(0, 80);
    }
    // A file on the way or at the end, an empty path, a name no file system takes.
    for (const std::string& path :
         {tmp_ / "f/sub", tmp_ / "f/", std::string(), tmp_ / (std::string(256, 'n') + "/sub")}) {
        EXPECT_EQ(MakeFolderPath(path.c_str()), -1) << path;
    }
    fs::current_path(tmp_.path());  // a relative path is created relative to the current folder
    EXPECT_EQ(MakeFolderPath("rel//sub/"), 0);
    ItemInfo info;
    EXPECT_TRUE(GetItemInfo(deep, info).ok() && info.isFolder());
    for (const char* folder : {"a/b/c", "x/y", "rel/sub"}) {
        EXPECT_TRUE(S_ISDIR(StatOf(tmp_ / folder).st_mode)) << folder;
    }
    const ScopedUnprivileged unprivileged(tmp_);
    tmp_.createFolder("locked");
    ASSERT_EQ(::chmod((tmp_ / "locked").c_str(), 0500), 0);
    EXPECT_EQ(MakeFolderPath((tmp_ / "locked/new/deeper").c_str()), -1);
    EXPECT_FALSE(S_ISDIR(StatOf(tmp_ / "locked/new").st_mode));
}

// Lists carried out by workers ahead against the same lists one item after the other, on random
// trees, failing and stopped: the same boxes, log, progress, change record and tree.
using Told = std::pair<ItemDone, std::string>;

// A front end that keeps a run's change record, and whether anything came off the list's thread.
struct RecordingUi : ScriptedFileOpsUi, ChangeListener {
    RecordingUi() { SetChangeListener(this); }
    void OnItemDone(ItemDone what, const std::string&, const char* name) override {
        OnFailure(name);
        told.emplace_back(what, name);
    }
    void OnFailure(const std::string&) override { offThread |= std::this_thread::get_id() != list; }
    std::vector<Told> told;
    bool offThread = false;
    std::thread::id list = std::this_thread::get_id();
};

// One case of the table: a copy (else a delete) list, read-only older copies, the fault (Read:
// none; else on one item in the middle), noStopOnError, the Retry answers to each Retry/Cancel box
// before Cancel, the answer whether to go on, and 0 or the answer to Cancel before the middle item.
struct Case {
    bool copy, withReadOnly;
    FaultCall fault;
    int quiet, retries, continueAnswer, reallyStopAnswer;
};

// What one run of a list showed and left behind.
struct Observed {
    Snapshot tree;
    std::string log;
    std::vector<Told> told;
    std::tuple<int, Boxes, int, std::vector<std::string>, int, int, bool> shown;
};

class ParallelListTest : public FileOpsTest {
protected:
    enum Kind { kNew = 0, kLink = 1, kOld = 2 };  // kOld: an older copy in the destination
    // A random tree: folders kNN nested at random, files (some links) fNNN.txt in them; dst holds
    // some folders (never the last, which every copy makes) and older files, some read-only.
    void BuildTree(std::uint32_t seed, bool withReadOnly) {
        fs::remove_all(tmp_ / "run");
        fs::remove_all(tmp_.logDir());
        std::mt19937 random(seed);
        const auto below = [&random](int n) { return static_cast<int>(random() % n); };
        std::vector<std::pair<std::string, bool>> folders{{"", true}};  // "kNN/...", and if in dst
        const int count = 4 + below(8);
        for (int folder = 0; folder < count; ++folder) {
            const auto [parent, there] = folders[below(folder + 1)];
            const std::string name = parent + Format("k%02d/", folder);
            folders.emplace_back(name, folder + 1 < count && there && below(2) == 0);
            tmp_.createFolder("run/src/" + name);
            if (folders.back().second) {
                tmp_.createFolder("run/dst/" + name);
            }
        }
        tmp_.createFolder("run/dst");
        kinds_.clear();
        for (int file = 0, files = 40 + below(40); file < files; ++file) {
            const auto& [folder, there] = folders[file == 0 ? count : below(count + 1)];
            const std::string name = folder + Format("f%03d.txt", file);
            const std::size_t size = below(4) == 0 ? 0 : 1 + below(20000);
            const std::string from = tmp_ / "run/src/" + name, to = tmp_ / "run/dst/" + name;
            int& kind = kinds_[name] = below(8) == 0 ? kLink : kNew;
            if (kind == kLink) {
                EXPECT_EQ(::symlink(("to-" + name).c_str(), from.c_str()), 0);
                SetModificationTime(from, kOldTime);
            } else {
                tmp_.createFile("run/src/" + name, name + Pattern(size), kOldTime + size);
            }
            if (there && below(3) == 0) {
                kind |= kOld;
                tmp_.createFile("run/dst/" + name, "older " + name, kOldTime);
                EXPECT_EQ(withReadOnly && below(6) == 0 ? ::chmod(to.c_str(), 0444) : 0, 0);
            }
        }
        lastFolder_ = Format("k%02d", count - 1);
    }
    // Builds the tree afresh and runs the case's list with that many workers.
    Observed Run(const Case& c, std::uint32_t seed, int threads) {
        BuildTree(seed, c.withReadOnly);
        names_.clear();  // every file, or some older copies and two names that are not there
        std::mt19937 random(seed ^ 0xde1u);
        for (const auto& [name, kind] : kinds_) {
            if (c.copy || ((kind & kOld) && random() % 4 != 0)) {
                names_.push_back(name);
            }
        }
        if (!c.copy) {
            names_.insert(names_.end(), {"gone.txt", "k00/gone-too.txt"});
            std::sort(names_.begin(), names_.end());
        }
        // The item in the middle of the list, or the nearest after it (then before it) that fits.
        const auto middle = [this](const auto& fits) {
            std::size_t item = names_.size() / 2;
            for (std::size_t n = 0; n < names_.size() && !fits(kinds_[names_[item]]); ++n) {
                item = (item + 1) % names_.size();
            }
            return item;
        };
        // The fault: on the middle item (in dst for a delete), or on the folder every copy makes.
        if (c.fault != FaultCall::Read) {
            const std::string& item = names_[middle(
                [&](int kind) { return c.fault != FaultCall::Delete || (kind & kOld); })];
            InjectFaultForTesting(c.fault, c.fault == FaultCall::Rename ? EBUSY : EACCES,
                                  c.fault == FaultCall::CreateFolder
                                      ? lastFolder_
                                      : item.substr(item.rfind('/') + 1));
        }
        const std::string base = tmp_ / "run/dst";
        RecordingUi ui;
        std::string watched;  // an item that a worker surely carries out, ahead of a stop
        if (c.reallyStopAnswer) {
            const std::size_t item =
                middle([&](int kind) { return c.copy ? kind == kNew : (kind & kOld) != 0; });
            watched = base + "/" + names_[item];
            ui.PressCancelBeforeItem(item);
        }
        // The answers follow a rule, so that one rule serves both runs whatever the tree.
        std::map<std::string, int> asked;
        ui.messages.beforeAnswer = [&](const std::string& text, int style) {
            // Lets the workers get ahead, so that a stop has items done beyond it to tell.
            const bool wait = text == kReallyStopQuestion && c.reallyStopAnswer == kIdYes;
            for (int ms = 0; wait && threads > 1 && ms < 20000 && Exists(watched) != c.copy; ++ms) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (style != kMbOk) {
                ui.messages.Answer(style == kMbRetryCancel
                                       ? (asked[text]++ < c.retries ? kIdRetry : kIdCancel)
                                   : text == kContinueQuestion   ? c.continueAnswer
                                   : text == kReallyStopQuestion ? c.reallyStopAnswer
                                                                 : kIdOk);
            }
        };
        const ScopedEnv workers(kCopyThreadsVariable, std::to_string(threads).c_str());
        const int result = c.copy ? CopyFileList(tmp_ / "run/src", base, Names(names_), c.quiet, ui)
                                  : DeleteFileList(base, Names(names_), ui);
        ClearFaultsForTesting();
        EXPECT_EQ(std::tuple(ui.offThread, ui.messages.unscripted(), ui.windows().size()),
                  std::tuple(false, 0ul, 1ul));
        const auto window = ui.windows().at(0);
        return {SnapshotTree(tmp_ / "run"), tmp_.readLog(), ui.told,
                std::tuple(result, BoxesOf(ui), ui.failures(), window.statusTexts,
                           window.cancelChecks, window.stepBarCalls, window.destroyed)};
    }
    // Runs the case one item after the other and with workers on the same tree and compares.
    void Compare(const Case& c, std::uint32_t seed) {
        const Observed one = Run(c, seed, 1), many = Run(c, seed, 8);
        EXPECT_EQ(many.shown, one.shown);  // boxes, failures, progress
        // The items told in turn are the same; those carried out ahead of a stop follow, in list
        // order, each beyond the item the list stopped at (whose bar step was not taken).
        ASSERT_GE(many.told.size(), one.told.size());
        EXPECT_TRUE(std::equal(one.told.begin(), one.told.end(), many.told.begin()));
        const std::vector<Told> ahead(many.told.begin() + std::ssize(one.told), many.told.end());
        const int stopItem = std::get<5>(one.shown);
        const bool stopped = static_cast<std::size_t>(stopItem) < names_.size();
        EXPECT_TRUE(stopped ? !ahead.empty() || c.reallyStopAnswer != kIdYes : ahead.empty());
        const std::string note = Format("中止の前に %zu 個の項目が処理済みでした。", ahead.size());
        EXPECT_EQ(many.log, one.log + (ahead.empty() ? "" : Logged(note)));
        // The tree: whole copies (or deletions) of the items done ahead, and nothing else but
        // folders made on the way to items beyond the stop.
        Snapshot expected = one.tree;
        long previous = stopItem - 1;
        for (const auto& [what, name] : ahead) {
            const long item = std::find(names_.begin(), names_.end(), name) - names_.begin();
            EXPECT_GT(item, std::exchange(previous, item)) << name;
            if (c.copy) {
                expected["dst/" + name] = one.tree.at("src/" + name);
            } else {
                expected.erase("dst/" + name);
            }
        }
        Snapshot actual = many.tree;
        std::erase_if(actual, [&](const auto& item) {
            return item.second.kind == 'd' && !expected.count(item.first) && stopped &&
                   std::any_of(names_.begin() + stopItem, names_.end(), [&](const std::string& n) {
                       return ("dst/" + n).starts_with(item.first + "/");
                   });
        });
        EXPECT_EQ(DescribeDifferences(expected, actual), "");
    }
    std::map<std::string, int> kinds_;  // the files of the tree, by name
    std::string lastFolder_;
    std::vector<std::string> names_;  // the list of the case
};

TEST_F(ParallelListTest, WorkersAheadChangeNothingTheUserMeets) {
    using enum FaultCall;
    const Case cases[] = {
        {true, true, Read, 0, 0, kIdYes, 0},          {true, false, OpenRead, 0, 1, kIdYes, 0},
        {true, false, OpenRead, 0, 0, kIdNo, 0},      {true, false, OpenRead, 1, 0, kIdYes, 0},
        {true, true, Rename, 0, 0, kIdNo, 0},         {true, true, Rename, 1, 0, kIdYes, 0},
        {true, false, CreateFolder, 0, 0, kIdYes, 0}, {true, false, CreateFolder, 1, 0, kIdYes, 0},
        {true, false, Read, 0, 0, kIdYes, kIdYes},    {true, false, Read, 0, 0, kIdYes, kIdNo},
        {false, false, Read, 0, 0, kIdYes, 0},        {false, false, Delete, 0, 0, kIdYes, 0},
        {false, false, Read, 0, 0, kIdYes, kIdYes},   {false, false, Read, 0, 0, kIdYes, kIdNo},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        for (const std::uint32_t seed : {1u, 2u, 3u}) {
            SCOPED_TRACE(testing::Message() << "case " << i << ", seed " << seed);
            Compare(cases[i], seed);
        }
    }
}

// Two names that differ in letter case alone are one file where case is ignored; the later is
// copied by the list itself, in its turn, never by a worker ahead of it.
TEST_F(ParallelListTest, NamesDifferingInCaseAloneAreCopiedInTurn) {
    tmp_.make("src/A.txt=upper src/a.txt=lower-and-longer");
    std::atomic<bool> laterByCaller = false;
    const std::thread::id caller = std::this_thread::get_id();
    SetCopyStartHookForTesting([&](int sourceFd, int) {
        struct stat st {};
        laterByCaller = laterByCaller || (::fstat(sourceFd, &st) == 0 && st.st_size == 16 &&
                                          std::this_thread::get_id() == caller);
    });
    const ScopedEnv workers(kCopyThreadsVariable, "8");
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", Names{"A.txt", "a.txt"}, 0, ui_), 1);
    EXPECT_EQ(tmp_.read("dst/a.txt") + TakeLog(), "lower-and-longer");
    EXPECT_TRUE(laterByCaller);
}

}  // namespace
}  // namespace mirova::test
