// Failures of single file-system calls in the middle of the list operations: what the user is
// told, whether the list goes on, and that nothing is lost.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "FileOpsTesting.h"
#include "fileops/FileOperations.h"
#include "fileops/SafeCopy.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"

namespace mirova::test {
namespace {

using platform::FaultCall;

constexpr std::int64_t kOldTime = 1600000000;
constexpr std::int64_t kSourceTime = 1700000000;

class FaultInjectionTest : public FileOpsTest {
protected:
    void TearDown() override { platform::ClearFaultsForTesting(); }
};

// A copy that fails once it has begun: the temporary copy goes, the old destination (or its
// absence) and the source stay exactly as they were.
TEST_F(FaultInjectionTest, FailedCopyLeavesDestinationAndSourceAsTheyWere) {
    enum Told { kSourceUnreadable, kDestinationUnreadable, kDestinationNotMade };
    const struct {
        const char* label;
        FaultCall call;
        int error;
        const char* nameContains;
        bool link;  // the source is a symbolic link
        Told told;
    } faults[] = {
        {"EIO reading the source", FaultCall::Read, EIO, "", false, kSourceUnreadable},
        {"ENOSPC writing the copy", FaultCall::Write, ENOSPC, "", false, kDestinationUnreadable},
        {"EIO giving the copy its times", FaultCall::SetTimes, EIO, "", false, kDestinationNotMade},
        {"EBUSY replacing the destination", FaultCall::Rename, EBUSY, "data.bin", false,
         kDestinationNotMade},
        {"EACCES creating the copy", FaultCall::Create, EACCES, kPartialCopyPrefix, false,
         kDestinationNotMade},
        {"EACCES creating the link", FaultCall::Create, EACCES, kPartialCopyPrefix, true,
         kDestinationNotMade},
        {"EIO giving the link its times", FaultCall::SetTimes, EIO, "", true, kDestinationNotMade},
        {"EBUSY replacing the destination with the link", FaultCall::Rename, EBUSY, "data.bin",
         true, kDestinationNotMade},
    };
    // How the user meets the failure, and whether the list then goes on to the next file.
    const struct {
        const char* label;
        int quiet;  // noStopOnError
        std::vector<int> answers;
        bool goesOn;
    } handlings[] = {
        {"asked, go on", 0, {kIdYes}, true},
        {"asked, stop", 0, {kIdNo}, false},
        {"noStopOnError", 1, {}, true},
    };
    for (const auto& fault : faults) {
        for (const auto& handling : handlings) {
            for (const bool hadOld : {true, false}) {
                SCOPED_TRACE(testing::Message() << fault.label << ", " << handling.label
                                                << (hadOld ? ", replacing" : ", new"));
                TempDir dir;
                ScriptedFileOpsUi ui;
                AnswerInOrder(ui, handling.answers);
                const std::string from = dir / "src/data.bin";
                const std::string to = dir / "dst/data.bin";
                if (fault.link) {
                    dir.createFolder("src");
                    ASSERT_EQ(::symlink("target.txt", from.c_str()), 0);
                    SetModificationTime(from, kSourceTime);
                } else {
                    dir.createFile("src/data.bin", Pattern(100 * 1024 + 3), kSourceTime);
                }
                dir.createFile("src/next.txt", "next", kSourceTime);
                dir.createFolder("dst");
                if (hadOld) {
                    dir.createFile("dst/data.bin", "old content", kOldTime, 5);
                }
                Items expected = ItemsOf(dir);
                platform::InjectFaultForTesting(fault.call, fault.error, fault.nameContains, 0, 1);

                EXPECT_EQ(CopyFileList(dir / "src", dir / "dst", Names{"data.bin", "next.txt"},
                                       handling.quiet, ui),
                          handling.goesOn ? 1 : 0);
                platform::ClearFaultsForTesting();

                const std::string texts[] = {CannotReadText(from), CannotReadText(to),
                                             CannotCreateText(330, to)};
                const std::string& text = texts[fault.told];
                const Boxes asked{{text, kMbOk}, {kContinueQuestion, kMbYesNo}};
                EXPECT_EQ(BoxesOf(ui), handling.quiet ? Boxes{} : asked);
                // A read failure is shown or logged; a destination that cannot be made is
                // logged in every case.
                const bool logged = handling.quiet || fault.told == kDestinationNotMade;
                EXPECT_EQ(dir.readLog(), logged ? Logged(text) : "");
                // The old destination (or its absence) and the source as they were, and no
                // temporary copy anywhere.
                if (handling.goesOn) {
                    expected["dst/next.txt"] = expected.at("src/next.txt");
                }
                EXPECT_EQ(DescribeDifferences(expected, ItemsOf(dir)), "");
                EXPECT_EQ(ui.failures(), 1);
                EXPECT_EQ(ui.messages.unscripted(), 0u);
                ASSERT_EQ(ui.windows().size(), 1u);
                EXPECT_TRUE(ui.windows()[0].destroyed);
            }
        }
    }
}

// A source that cannot be opened is asked about (Retry/Cancel), or logged under noStopOnError.
TEST_F(FaultInjectionTest, UnopenableSourceIsAskedAboutOrLogged) {
    const struct {
        const char* label;
        FaultCall call;  // the fault that makes it unopenable; none: it is deleted
        int error;
        const char* nameContains;
        int skip;
    } causes[] = {
        {"EACCES opening it", FaultCall::OpenRead, EACCES, "data.bin", 0},
        // The destination tree enters the folder first; the second entry is the source's.
        {"EACCES entering its folder", FaultCall::EnterFolder, EACCES, "sub", 1},
        {"deleted since the list was made", FaultCall::OpenRead, 0, "", 0},
    };
    const struct {
        const char* label;
        int quiet;
        std::vector<int> answers;  // Retry/Cancel, then the question after a failed copy
        int asked;                 // how often the Retry/Cancel question is asked
        bool copied;               // the file itself is copied in the end
        bool goesOn;               // the next file is copied
    } handlings[] = {
        {"Retry until the fault is gone", 0, {kIdRetry, kIdRetry}, 2, true, true},
        {"Cancel, go on", 0, {kIdCancel, kIdYes}, 1, false, true},
        {"Retry, Cancel, stop", 0, {kIdRetry, kIdCancel, kIdNo}, 2, false, false},
        {"noStopOnError", 1, {}, 0, false, true},
    };
    for (const auto& cause : causes) {
        const bool deleted = cause.error == 0;
        for (const auto& handling : handlings) {
            if (deleted && handling.copied) {
                continue;  // a deleted file does not come back
            }
            SCOPED_TRACE(testing::Message() << cause.label << ", " << handling.label);
            TempDir dir;
            ScriptedFileOpsUi ui;
            AnswerInOrder(ui, handling.answers);
            dir.createFile("src/sub/data.bin", "new content", kSourceTime);
            dir.createFile("src/next.txt", "next", kSourceTime);
            dir.createFile("dst/sub/data.bin", "old content", kOldTime);
            if (deleted) {
                ASSERT_EQ(::unlink((dir / "src/sub/data.bin").c_str()), 0);
            } else {
                // The fault is there as often as the user fails to get past it.
                const int times = handling.copied ? handling.asked : -1;
                platform::InjectFaultForTesting(cause.call, cause.error, cause.nameContains,
                                                cause.skip, times);
            }
            Items expected = ItemsOf(dir);

            EXPECT_EQ(CopyFileList(dir / "src", dir / "dst", Names{"sub/data.bin", "next.txt"},
                                   handling.quiet, ui),
                      handling.goesOn ? 1 : 0);
            platform::ClearFaultsForTesting();

            const std::string unopenable = CannotOpenText(dir / "src/sub/data.bin");
            Boxes boxes(handling.asked, {unopenable, kMbRetryCancel});
            if (!handling.quiet && !handling.copied) {
                boxes.emplace_back(kContinueQuestion, kMbYesNo);
            }
            EXPECT_EQ(BoxesOf(ui), boxes);
            EXPECT_EQ(dir.readLog(), handling.copied ? "" : Logged(unopenable));
            EXPECT_EQ(ui.failures(), handling.copied ? 0 : 1);
            // The source as it was; the old destination replaced only by a copy that went
            // through; no temporary copy anywhere.
            if (handling.copied) {
                expected["dst/sub/data.bin"] = expected.at("src/sub/data.bin");
            }
            if (handling.goesOn) {
                expected["dst/next.txt"] = expected.at("src/next.txt");
            }
            EXPECT_EQ(DescribeDifferences(expected, ItemsOf(dir)), "");
            EXPECT_EQ(ui.messages.unscripted(), 0u);
            ASSERT_EQ(ui.windows().size(), 1u);
            EXPECT_TRUE(ui.windows()[0].destroyed);
        }
    }
}

// The folder that is to hold a copy cannot be reached: the list ends at once, without the
// question, shown unless noStopOnError and logged in every case.
TEST_F(FaultInjectionTest, CopyListEndsWhenTheFolderForACopyCannotBeReached) {
    const struct {
        const char* label;
        FaultCall call;
        int error;        // 0: no fault, the item in the way is enough
        const char* old;  // what the destination holds; nullptr: not even the folder
    } rows[] = {
        {"EACCES entering it", FaultCall::EnterFolder, EACCES, "dst/sub/data.bin"},
        {"EACCES creating it", FaultCall::CreateFolder, EACCES, nullptr},
        {"a file in its place", FaultCall::CreateFolder, 0, "dst/sub"},
    };
    for (const auto& row : rows) {
        for (const int quiet : {0, 1}) {
            SCOPED_TRACE(testing::Message() << row.label << ", noStopOnError " << quiet);
            TempDir dir;
            ScriptedFileOpsUi ui;
            dir.createFile("src/first.txt", "first");
            dir.createFile("src/sub/data.bin", "new");
            dir.createFile("src/z-later.txt", "later");
            dir.createFolder("dst");
            if (row.old) {
                dir.createFile(row.old, "old", kOldTime);
            }
            Items expected = ItemsOf(dir);
            if (row.error) {
                platform::InjectFaultForTesting(row.call, row.error, "sub");
            }

            const Names names{"first.txt", "sub/data.bin", "z-later.txt"};
            EXPECT_EQ(CopyFileList(dir / "src", dir / "dst", names, quiet, ui), 0);
            platform::ClearFaultsForTesting();

            const std::string failure = CannotCreateText(206, dir / "dst/sub/");
            EXPECT_EQ(BoxesOf(ui), ShownUnless(quiet, failure));
            EXPECT_EQ(dir.readLog(), Logged(failure));
            // Only the first file copied; what stood in the way and the source as they were.
            expected["dst/first.txt"] = expected.at("src/first.txt");
            EXPECT_EQ(DescribeDifferences(expected, ItemsOf(dir)), "");
            EXPECT_EQ(ui.failures(), 1);
            ASSERT_EQ(ui.windows().size(), 1u);
            EXPECT_EQ(ui.windows()[0].statusTexts.size(), 2u);
            EXPECT_TRUE(ui.windows()[0].destroyed);
        }
    }
}

// Deletions that fail get a stamped log line with the reason and no box; the list goes on.
// An item that is gone already is no failure.
TEST_F(FaultInjectionTest, FailedDeletionsAreLoggedWithTheirReasonAndTheListGoesOn) {
    for (const char* name :
         {"a.txt", "locked.txt", "perm.txt", "gone.txt", "sub/inner.txt", "z.txt"}) {
        tmp_.createFile(std::string("files/") + name, name);
    }
    for (const char* name : {"busy", "gone", "c/d/e"}) {
        tmp_.createFolder(std::string("folders/") + name);
    }
    tmp_.createFile("folders/full/inside.txt", "i");
    const Names files{"a.txt", "locked.txt", "perm.txt", "gone.txt", "sub/inner.txt", "z.txt"};
    // Descending order, as the synchronisation passes it: subfolders before their parents.
    const Names folders{"busy", "full", "gone", "c/d/e", "c/d", "c"};
    // Removed by someone else after the lists were made.
    ASSERT_EQ(::unlink((tmp_ / "files/gone.txt").c_str()), 0);
    ASSERT_EQ(::rmdir((tmp_ / "folders/gone").c_str()), 0);
    Items expected = ItemsOf(tmp_);
    platform::InjectFaultForTesting(FaultCall::Delete, EACCES, "locked.txt");
    platform::InjectFaultForTesting(FaultCall::Delete, EPERM, "perm.txt");
    platform::InjectFaultForTesting(FaultCall::EnterFolder, EACCES, "sub");
    platform::InjectFaultForTesting(FaultCall::RemoveFolder, EBUSY, "busy");

    EXPECT_EQ(DeleteFileList(tmp_ / "files", files, ui_), 1);
    EXPECT_EQ(DeleteFolderList(tmp_ / "folders/", folders, ui_), 1);

    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(tmp_ / "files/locked.txt", EACCES)) +
                             Logged(CannotDeleteText(tmp_ / "files/perm.txt", EPERM)) +
                             Logged(CannotDeleteText(tmp_ / "files/sub/inner.txt", EACCES)) +
                             Logged(CannotDeleteText(tmp_ / "folders/busy", EBUSY)) +
                             Logged(CannotDeleteText(tmp_ / "folders/full", ENOTEMPTY)));
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 5);
    for (const char* gone :
         {"files/a.txt", "files/z.txt", "folders/c", "folders/c/d", "folders/c/d/e"}) {
        expected.erase(gone);
    }
    EXPECT_EQ(DescribeDifferences(expected, ItemsOf(tmp_)), "");
    const auto windows = ui_.windows();
    ASSERT_EQ(windows.size(), 2u);
    ExpectWholeWindow(windows[0], 6);
    EXPECT_EQ(windows[1].statusTexts,
              Statuses({"busy", "full", "gone", "c/d/e", "c/d", "c"}, " を削除中"));
    ExpectWholeWindow(windows[1], 6);
}

// A folder that cannot be created ends the create list at once: shown unless noStopOnError,
// logged in every case, the later folders not made.
TEST_F(FaultInjectionTest, CreateFolderListStopsAtAFolderThatCannotBeCreated) {
    const struct {
        const char* label;
        const char* nameContains;  // nullptr: no fault, a file is in the way
        const char* failing;       // the listed name that fails
    } rows[] = {
        {"the listed folder itself", "blocked", "blocked"},
        {"a missing parent on its way", "parent", "parent/child"},
        {"a file on its way", nullptr, "x/file/y"},
    };
    for (const auto& row : rows) {
        for (const int quiet : {0, 1}) {
            SCOPED_TRACE(testing::Message() << row.label << ", noStopOnError " << quiet);
            TempDir dir;
            ScriptedFileOpsUi ui;
            dir.createFile("base/x/file", "in the way");
            if (row.nameContains) {
                platform::InjectFaultForTesting(FaultCall::CreateFolder, EACCES, row.nameContains);
            }

            const Names names{"first/one", row.failing, "later"};
            EXPECT_EQ(CreateFolderList(dir / "base/", names, quiet, ui), 0);
            platform::ClearFaultsForTesting();

            const std::string failure = CannotCreateText(244, dir / "base/" + row.failing);
            EXPECT_EQ(BoxesOf(ui), ShownUnless(quiet, failure));
            EXPECT_EQ(dir.readLog(), Logged(failure));
            EXPECT_TRUE(platform::Exists(dir / "base/first/one/"));
            EXPECT_FALSE(platform::Exists(dir / "base/" + row.failing));
            EXPECT_FALSE(platform::Exists(dir / "base/later"));
            EXPECT_EQ(dir.read("base/x/file"), "in the way");
            EXPECT_EQ(ui.failures(), 1);
        }
    }
}

// The temporary copy belongs beside the destination whatever the current folder is: anywhere
// else the rename fails across file systems, an unwritable current folder fails every copy, and
// a copy cut short leaves it where no scan of the trees finds it.
TEST_F(FaultInjectionTest, TemporaryCopyOfCopyOneFileIsMadeBesideTheDestination) {
    tmp_.createFile("src/a.txt", "a");
    tmp_.createFolder("dst");
    TempDir elsewhere;
    const ScopedCurrentFolder current(elsewhere.path());
    std::string temporary;
    SetCopyStartHookForTesting([&temporary](int, int temporaryFd) {
        temporary = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(temporaryFd));
    });
    EXPECT_EQ(CopyOneFile(tmp_ / "src/a.txt", tmp_ / "dst/a.txt", 0, ui_), 1);
    SetCopyStartHookForTesting(nullptr);
    EXPECT_EQ(std::filesystem::path(temporary).parent_path(),
              std::filesystem::canonical(tmp_ / "dst"));
    EXPECT_EQ(tmp_.read("dst/a.txt"), "a");
}

// Where the file system refuses the one-step "rename unless something is there", the copy looks
// at the destination itself: a writable one is replaced, a read-only one kept.
TEST_F(FaultInjectionTest, CommitWithoutNoReplaceRenameStillKeepsReadOnlyDestinations) {
    tmp_.createFile("src/new.txt", "new");
    tmp_.createFile("src/old.txt", "changed");
    tmp_.createFile("src/locked.txt", "changed");
    tmp_.createFile("dst/old.txt", "old");
    tmp_.createFile("dst/locked.txt", "locked");
    ASSERT_EQ(::chmod((tmp_ / "dst/locked.txt").c_str(), 0444), 0);
    // Every first attempt is refused as unsupported; the fallback's rename then goes through.
    for (const char* name : {"new.txt", "old.txt", "locked.txt"}) {
        platform::InjectFaultForTesting(FaultCall::Rename, EOPNOTSUPP, name, 0, 1);
    }
    Items expected = ItemsOf(tmp_);
    const Names names{"locked.txt", "new.txt", "old.txt"};
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", names, 1, ui_), 1);
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(330, tmp_ / "dst/locked.txt")));
    // New and old replaced, the read-only one kept, and no temporary copy anywhere.
    expected["dst/new.txt"] = expected.at("src/new.txt");
    expected["dst/old.txt"] = expected.at("src/old.txt");
    EXPECT_EQ(DescribeDifferences(expected, ItemsOf(tmp_)), "");
}

}  // namespace
}  // namespace mirova::test
