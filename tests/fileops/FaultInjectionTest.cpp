// Failures of single file-system calls in the middle of the list operations: what the user is
// told, whether the list goes on, and that nothing is lost.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FileOpsTesting.h"
#include "fileops/SafeCopy.h"

namespace mirova::test {
namespace {

using platform::FaultCall;
using platform::InjectFaultForTesting;

constexpr std::int64_t kOldTime = 1600000000;
constexpr std::int64_t kSourceTime = 1700000000;

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

// A copy that fails once it has begun: the temporary copy goes, the old destination (or its
// absence) and the source (a file or a link) stay exactly as they were. A read failure is shown
// or logged; a destination that cannot be made is logged in every case.
TEST_F(FaultInjectionTest, FailedCopyLeavesDestinationAndSourceAsTheyWere) {
    enum Told { kSourceUnreadable, kDestinationUnreadable, kDestinationNotMade };
    const struct {
        FaultCall call;
        int error;
        const char* nameContains;
        bool link;  // the source is a symbolic link
        Told told;
    } faults[] = {{FaultCall::Read, EIO, "", false, kSourceUnreadable},
                  {FaultCall::Write, ENOSPC, "", false, kDestinationUnreadable},
                  {FaultCall::SetTimes, EIO, "", false, kDestinationNotMade},
                  {FaultCall::Rename, EBUSY, "data", false, kDestinationNotMade},
                  {FaultCall::Create, EACCES, kPartialCopyPrefix, false, kDestinationNotMade},
                  {FaultCall::Create, EACCES, kPartialCopyPrefix, true, kDestinationNotMade},
                  {FaultCall::SetTimes, EIO, "", true, kDestinationNotMade},
                  {FaultCall::Rename, EBUSY, "data", true, kDestinationNotMade}};
    for (const auto& fault : faults) {
        // Asked whether to go on (yes, no), or noStopOnError; with and without an old copy.
        for (const int handling : {kIdYes, kIdNo, 0}) {
            for (const bool hadOld : {true, false}) {
                SCOPED_TRACE(testing::Message()
                             << static_cast<int>(fault.call) << fault.link << handling << hadOld);
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
                InjectFaultForTesting(fault.call, fault.error, fault.nameContains, 0, 1);
                const int quiet = handling == 0;
                const bool goesOn = handling != kIdNo;
                CopyAndCompare(
                    dir, ui, quiet ? std::vector<int>{} : std::vector{handling}, quiet, goesOn,
                    goesOn ? std::vector<std::string>{"next.txt"} : std::vector<std::string>{});
                const std::string texts[] = {CannotReadText(dir / "src/sub/data"),
                                             CannotReadText(dir / "dst/sub/data"),
                                             CannotCreateText(330, dir / "dst/sub/data")};
                const std::string& text = texts[fault.told];
                const Boxes asked{{text, kMbOk}, {kContinueQuestion, kMbYesNo}};
                EXPECT_EQ(BoxesOf(ui), quiet ? Boxes{} : asked);
                const bool logged = quiet || fault.told == kDestinationNotMade;
                EXPECT_EQ(dir.readLog(), logged ? Logged(text) : "");
                EXPECT_EQ(ui.failures(), 1);
            }
        }
    }
}

// A source that cannot be opened is asked about (Retry/Cancel), or logged under noStopOnError.
TEST_F(FaultInjectionTest, UnopenableSourceIsAskedAboutOrLogged) {
    const struct {
        FaultCall call;  // the fault that makes it unopenable; error 0: it is deleted
        int error;
        const char* nameContains;
        int skip;  // the destination tree enters the folder first
    } causes[] = {{FaultCall::OpenRead, EACCES, "data", 0},
                  {FaultCall::EnterFolder, EACCES, "sub", 1},
                  {FaultCall::OpenRead, 0, "", 0}};
    const struct {
        int quiet;
        std::vector<int> answers;  // Retry/Cancel, then the question after a failed copy
        int asked;                 // how often the Retry/Cancel question is asked
        bool copied;               // the file itself is copied in the end
        bool goesOn;               // the next file is copied
    } handlings[] = {{0, {kIdRetry, kIdRetry}, 2, true, true},
                     {0, {kIdCancel, kIdYes}, 1, false, true},
                     {0, {kIdRetry, kIdCancel, kIdNo}, 2, false, false},
                     {1, {}, 0, false, true}};
    for (const auto& cause : causes) {
        for (const auto& handling : handlings) {
            if (cause.error == 0 && handling.copied) {
                continue;  // a deleted file does not come back
            }
            SCOPED_TRACE(testing::Message() << cause.nameContains << handling.answers.size());
            TempDir dir;
            ScriptedFileOpsUi ui;
            dir.createFile("src/sub/data", "new content", kSourceTime);
            dir.createFile("src/next.txt", "next", kSourceTime);
            dir.createFile("dst/sub/data", "old content", kOldTime);
            if (cause.error == 0) {
                ASSERT_EQ(::unlink((dir / "src/sub/data").c_str()), 0);
            } else {  // there as often as the user fails to get past it
                InjectFaultForTesting(cause.call, cause.error, cause.nameContains, cause.skip,
                                      handling.copied ? handling.asked : -1);
            }
            std::vector<std::string> copied;
            if (handling.copied) {
                copied.push_back("sub/data");
            }
            if (handling.goesOn) {
                copied.push_back("next.txt");
            }
            CopyAndCompare(dir, ui, handling.answers, handling.quiet, handling.goesOn, copied);
            const std::string unopenable = CannotOpenText(dir / "src/sub/data");
            Boxes boxes(handling.asked, {unopenable, kMbRetryCancel});
            if (!handling.quiet && !handling.copied) {
                boxes.emplace_back(kContinueQuestion, kMbYesNo);
            }
            EXPECT_EQ(BoxesOf(ui), boxes);
            EXPECT_EQ(dir.readLog(), handling.copied ? "" : Logged(unopenable));
            EXPECT_EQ(ui.failures(), handling.copied ? 0 : 1);
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
    SetCopyStartHookForTesting(nullptr);
    EXPECT_EQ(std::filesystem::path(temporary).parent_path(),
              std::filesystem::canonical(tmp_ / "dst"));
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(330, tmp_ / "dst/locked.txt")));
    expected["dst/new.txt"] = expected.at("src/new.txt");
    expected["dst/old.txt"] = expected.at("src/old.txt");
    EXPECT_EQ(DescribeDifferences(expected, ItemsOf(tmp_)), "");
}

}  // namespace
}  // namespace mirova::test
