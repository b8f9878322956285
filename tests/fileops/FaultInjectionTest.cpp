// Failures of single file-system calls in the middle of the list operations: what the user is
// told, whether the list goes on, and that nothing is lost.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "FileOpsTesting.h"
#include "fileops/FileOperations.h"
#include "fileops/SafeCopy.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using platform::FaultCall;
using test::CannotCreateText;
using test::CannotDeleteText;
using test::CannotOpenText;
using test::CannotReadText;
using test::Names;
using test::ScriptedFileOpsUi;

constexpr std::int64_t kOldTime = 1600000000;
constexpr std::int64_t kSourceTime = 1700000000;

// What a failure must leave alone of an item: its content (a link's target) and its last-write
// time.
struct Kept {
    bool exists = false;
    std::string content;
    long long mtimeNs = 0;

    friend bool operator==(const Kept&, const Kept&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Kept& kept) {
        return out << (kept.exists ? "\"" + kept.content.substr(0, 40) + "\"" : "missing") << " @"
                   << kept.mtimeNs;
    }
};

Kept KeptOf(const std::string& path) {
    const struct stat st = test::StatOf(path);
    if (st.st_mode == 0) {
        return {};
    }
    Kept kept{true, {}, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
    if (S_ISLNK(st.st_mode)) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        kept.content.assign(target, length > 0 ? static_cast<std::size_t>(length) : 0);
    } else {
        kept.content = test::ReadFileText(path);
    }
    return kept;
}

// Unfinished copies anywhere below root.
std::vector<std::string> PartialCopiesBelow(const std::string& root) {
    std::vector<std::string> found;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        if (item.path().filename().string().starts_with(kPartialCopyPrefix)) {
            found.push_back(item.path().string());
        }
    }
    return found;
}

bool Exists(const std::string& path) {
    return test::StatOf(path).st_mode != 0;
}

class FaultInjectionTest : public test::FileOpsTest {
protected:
    void TearDown() override { platform::ClearFaultsForTesting(); }
};

// How the user meets a failed copy in the middle of a list, and what the list does next.
struct Handling {
    const char* label;
    int quiet;                 // noStopOnError
    std::vector<int> answers;  // the scripted questions, in order
    bool goesOn;               // the next file is copied
};

const Handling kAfterFailedCopy[] = {
    {"asked, go on", 0, {kIdYes}, true},
    {"asked, stop", 0, {kIdNo}, false},
    {"noStopOnError", 1, {}, true},
};

// A copy that fails once it has begun: the temporary copy goes, the old destination (or its
// absence) and the source stay exactly as they were.
TEST_F(FaultInjectionTest, FailedCopyLeavesDestinationAndSourceAsTheyWere) {
    enum class Told { SourceUnreadable, DestinationUnreadable, DestinationNotMade };
    const struct {
        const char* label;
        FaultCall call;
        int error;
        const char* nameContains;
        bool link;  // the source is a symbolic link
        Told told;
    } faults[] = {
        {"EIO reading the source", FaultCall::Read, EIO, "", false, Told::SourceUnreadable},
        {"ENOSPC writing the copy", FaultCall::Write, ENOSPC, "", false,
         Told::DestinationUnreadable},
        {"EIO giving the copy its times", FaultCall::SetTimes, EIO, "", false,
         Told::DestinationNotMade},
        {"EBUSY replacing the destination", FaultCall::Rename, EBUSY, "data.bin", false,
         Told::DestinationNotMade},
        {"EACCES creating the copy", FaultCall::Create, EACCES, kPartialCopyPrefix, false,
         Told::DestinationNotMade},
        {"EACCES creating the link", FaultCall::Create, EACCES, kPartialCopyPrefix, true,
         Told::DestinationNotMade},
        {"EIO giving the link its times", FaultCall::SetTimes, EIO, "", true,
         Told::DestinationNotMade},
        {"EBUSY replacing the destination with the link", FaultCall::Rename, EBUSY, "data.bin",
         true, Told::DestinationNotMade},
    };
    for (const auto& fault : faults) {
        for (const Handling& handling : kAfterFailedCopy) {
            for (const bool hadOld : {true, false}) {
                SCOPED_TRACE(testing::Message() << fault.label << ", " << handling.label
                                                << (hadOld ? ", replacing" : ", new"));
                test::TempDir dir;
                ScriptedFileOpsUi ui;
                for (const int answer : handling.answers) {
                    ui.messages.Answer(answer);
                }
                const std::string from = dir / "src/data.bin";
                const std::string to = dir / "dst/data.bin";
                if (fault.link) {
                    dir.createFolder("src");
                    ASSERT_EQ(::symlink("target.txt", from.c_str()), 0);
                    test::SetModificationTime(from, kSourceTime);
                } else {
                    dir.createFile("src/data.bin", test::Pattern(100 * 1024 + 3), kSourceTime);
                }
                dir.createFile("src/next.txt", "next", kSourceTime);
                dir.createFolder("dst");
                if (hadOld) {
                    dir.createFile("dst/data.bin", "old content", kOldTime, 5);
                }
                const Kept source = KeptOf(from);
                const Kept old = KeptOf(to);
                const Names names{"data.bin", "next.txt"};
                platform::InjectFaultForTesting(fault.call, fault.error, fault.nameContains, 0, 1);

                EXPECT_EQ(CopyFileList(dir / "src", dir / "dst", names, handling.quiet, ui),
                          handling.goesOn ? 1 : 0);
                platform::ClearFaultsForTesting();

                const std::string text = fault.told == Told::SourceUnreadable ? CannotReadText(from)
                                         : fault.told == Told::DestinationUnreadable
                                             ? CannotReadText(to)
                                             : CannotCreateText(330, to);
                const auto boxes = ui.messages.requests();
                if (handling.quiet) {
                    EXPECT_TRUE(boxes.empty());
                } else {
                    ASSERT_EQ(boxes.size(), 2u);
                    EXPECT_EQ(boxes[0].text, text);
                    EXPECT_EQ(boxes[0].style, kMbOk);
                    EXPECT_EQ(boxes[1].text, kContinueQuestion);
                    EXPECT_EQ(boxes[1].style, kMbYesNo);
                }
                // A read failure is shown or logged; a destination that cannot be made is
                // logged in every case.
                const bool logged = handling.quiet || fault.told == Told::DestinationNotMade;
                EXPECT_EQ(dir.readLog(), logged ? Logged(text) : "");
                EXPECT_EQ(KeptOf(to), old);
                EXPECT_EQ(KeptOf(from), source);
                EXPECT_EQ(dir.read("dst/next.txt"), handling.goesOn ? "next" : "");
                EXPECT_TRUE(PartialCopiesBelow(dir.path()).empty());
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
            test::TempDir dir;
            ScriptedFileOpsUi ui;
            for (const int answer : handling.answers) {
                ui.messages.Answer(answer);
            }
            const std::string from = dir / "src/sub/data.bin";
            const std::string to = dir / "dst/sub/data.bin";
            dir.createFile("src/sub/data.bin", "new content", kSourceTime);
            dir.createFile("src/next.txt", "next", kSourceTime);
            dir.createFile("dst/sub/data.bin", "old content", kOldTime);
            const Kept source = KeptOf(from);
            const Kept old = KeptOf(to);
            const Names names{"sub/data.bin", "next.txt"};
            if (deleted) {
                ASSERT_EQ(::unlink(from.c_str()), 0);
            } else {
                // The fault is there as often as the user fails to get past it.
                const int times = handling.copied ? handling.asked : -1;
                platform::InjectFaultForTesting(cause.call, cause.error, cause.nameContains,
                                                cause.skip, times);
            }

            EXPECT_EQ(CopyFileList(dir / "src", dir / "dst", names, handling.quiet, ui),
                      handling.goesOn ? 1 : 0);
            platform::ClearFaultsForTesting();

            const std::string unopenable = CannotOpenText(from);
            const auto boxes = ui.messages.requests();
            const std::size_t questions = handling.quiet || handling.copied ? 0 : 1;
            ASSERT_EQ(boxes.size(), handling.asked + questions);
            for (int i = 0; i < handling.asked; ++i) {
                EXPECT_EQ(boxes[i].text, unopenable);
                EXPECT_EQ(boxes[i].style, kMbRetryCancel);
            }
            if (questions == 1) {
                EXPECT_EQ(boxes.back().text, kContinueQuestion);
                EXPECT_EQ(boxes.back().style, kMbYesNo);
            }
            EXPECT_EQ(dir.readLog(), handling.copied ? "" : Logged(unopenable));
            EXPECT_EQ(ui.failures(), handling.copied ? 0 : 1);
            if (handling.copied) {
                EXPECT_EQ(dir.read("dst/sub/data.bin"), "new content");
                EXPECT_EQ(KeptOf(from), source);
            } else {
                EXPECT_EQ(KeptOf(to), old);
                EXPECT_EQ(KeptOf(from), deleted ? Kept{} : source);
            }
            EXPECT_EQ(dir.read("dst/next.txt"), handling.goesOn ? "next" : "");
            EXPECT_TRUE(PartialCopiesBelow(dir.path()).empty());
            EXPECT_EQ(ui.messages.unscripted(), 0u);
        }
    }
}

// The folder that is to hold a copy cannot be reached: the list ends at once, without the
// question, shown unless noStopOnError and logged in every case.
TEST_F(FaultInjectionTest, CopyListEndsWhenTheFolderForACopyCannotBeReached) {
    const struct {
        const char* label;
        FaultCall call;
        bool folderExists;
    } rows[] = {
        {"EACCES entering it", FaultCall::EnterFolder, true},
        {"EACCES creating it", FaultCall::CreateFolder, false},
    };
    for (const auto& row : rows) {
        for (const int quiet : {0, 1}) {
            SCOPED_TRACE(testing::Message() << row.label << ", noStopOnError " << quiet);
            test::TempDir dir;
            ScriptedFileOpsUi ui;
            dir.createFile("src/first.txt", "first");
            dir.createFile("src/sub/data.bin", "new");
            dir.createFile("src/z-later.txt", "later");
            if (row.folderExists) {
                dir.createFile("dst/sub/data.bin", "old", kOldTime);
            } else {
                dir.createFolder("dst");
            }
            const Kept old = KeptOf(dir / "dst/sub/data.bin");
            const Names names{"first.txt", "sub/data.bin", "z-later.txt"};
            platform::InjectFaultForTesting(row.call, EACCES, "sub");

            EXPECT_EQ(CopyFileList(dir / "src", dir / "dst", names, quiet, ui), 0);
            platform::ClearFaultsForTesting();

            const std::string failure = CannotCreateText(206, dir / "dst/sub/");
            const auto boxes = ui.messages.requests();
            ASSERT_EQ(boxes.size(), quiet ? 0u : 1u);
            if (!quiet) {
                EXPECT_EQ(boxes[0].text, failure);
                EXPECT_EQ(boxes[0].style, kMbOk);
            }
            EXPECT_EQ(dir.readLog(), Logged(failure));
            EXPECT_EQ(dir.read("dst/first.txt"), "first");
            EXPECT_FALSE(Exists(dir / "dst/z-later.txt"));
            EXPECT_EQ(KeptOf(dir / "dst/sub/data.bin"), old);
            EXPECT_EQ(Exists(dir / "dst/sub"), row.folderExists);
            EXPECT_EQ(dir.read("src/sub/data.bin"), "new");
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
    for (const char* name : {"busy", "empty", "gone"}) {
        tmp_.createFolder(std::string("folders/") + name);
    }
    const Names files{"a.txt", "locked.txt", "perm.txt", "gone.txt", "sub/inner.txt", "z.txt"};
    const Names folders{"busy", "empty", "gone"};
    // Removed by someone else after the lists were made.
    ASSERT_EQ(::unlink((tmp_ / "files/gone.txt").c_str()), 0);
    ASSERT_EQ(::rmdir((tmp_ / "folders/gone").c_str()), 0);
    platform::InjectFaultForTesting(FaultCall::Delete, EACCES, "locked.txt");
    platform::InjectFaultForTesting(FaultCall::Delete, EPERM, "perm.txt");
    platform::InjectFaultForTesting(FaultCall::EnterFolder, EACCES, "sub");
    platform::InjectFaultForTesting(FaultCall::RemoveFolder, EBUSY, "busy");

    EXPECT_EQ(DeleteFileList(tmp_ / "files", files, ui_), 1);
    EXPECT_EQ(DeleteFolderList(tmp_ / "folders/", folders, ui_), 1);

    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(tmp_ / "files/locked.txt", EACCES)) +
                             Logged(CannotDeleteText(tmp_ / "files/perm.txt", EPERM)) +
                             Logged(CannotDeleteText(tmp_ / "files/sub/inner.txt", EACCES)) +
                             Logged(CannotDeleteText(tmp_ / "folders/busy", EBUSY)));
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 4);
    for (const char* name : {"locked.txt", "perm.txt", "sub/inner.txt"}) {
        EXPECT_EQ(tmp_.read(std::string("files/") + name), name);
    }
    EXPECT_FALSE(Exists(tmp_ / "files/a.txt"));
    EXPECT_FALSE(Exists(tmp_ / "files/z.txt"));
    EXPECT_TRUE(Exists(tmp_ / "folders/busy"));
    EXPECT_FALSE(Exists(tmp_ / "folders/empty"));
    const auto windows = ui_.windows();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].statusTexts.size(), 6u);
    EXPECT_EQ(windows[1].statusTexts.size(), 3u);
}

// A folder that cannot be created ends the create list at once: shown unless noStopOnError,
// logged in every case, the later folders not made.
TEST_F(FaultInjectionTest, CreateFolderListStopsAtAFolderThatCannotBeCreated) {
    const struct {
        const char* label;
        const char* nameContains;
        const char* failing;  // the listed name that fails
    } rows[] = {
        {"the listed folder itself", "blocked", "blocked"},
        {"a missing parent on its way", "parent", "parent/child"},
    };
    for (const auto& row : rows) {
        for (const int quiet : {0, 1}) {
            SCOPED_TRACE(testing::Message() << row.label << ", noStopOnError " << quiet);
            test::TempDir dir;
            ScriptedFileOpsUi ui;
            dir.createFolder("base");
            const Names names{"first/one", row.failing, "later"};
            platform::InjectFaultForTesting(FaultCall::CreateFolder, EACCES, row.nameContains);

            EXPECT_EQ(CreateFolderList(dir / "base", names, quiet, ui), 0);
            platform::ClearFaultsForTesting();

            const std::string failure =
                CannotCreateText(244, dir / (std::string("base/") + row.failing));
            const auto boxes = ui.messages.requests();
            ASSERT_EQ(boxes.size(), quiet ? 0u : 1u);
            if (!quiet) {
                EXPECT_EQ(boxes[0].text, failure);
                EXPECT_EQ(boxes[0].style, kMbOk);
            }
            EXPECT_EQ(dir.readLog(), Logged(failure));
            EXPECT_TRUE(Exists(dir / "base/first/one"));
            EXPECT_FALSE(Exists(dir / (std::string("base/") + row.failing)));
            EXPECT_FALSE(Exists(dir / "base/later"));
            EXPECT_EQ(ui.failures(), 1);
        }
    }
}

// Makes another folder the current one while it lives.
class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const std::string& folder) {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder);
    }
    ~ScopedCurrentFolder() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

// The temporary copy belongs beside the destination whatever the current folder is: anywhere
// else the rename fails across file systems, an unwritable current folder fails every copy, and
// a copy cut short leaves it where no scan of the trees finds it.
TEST_F(FaultInjectionTest, TemporaryCopyOfCopyOneFileIsMadeBesideTheDestination) {
    tmp_.createFile("src/a.txt", "a");
    tmp_.createFolder("dst");
    test::TempDir elsewhere;
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
    platform::InjectFaultForTesting(FaultCall::Rename, EOPNOTSUPP, "new.txt", 0, 1);
    platform::InjectFaultForTesting(FaultCall::Rename, EOPNOTSUPP, "old.txt", 0, 1);
    platform::InjectFaultForTesting(FaultCall::Rename, EOPNOTSUPP, "locked.txt", 0, 1);
    const Names names{"locked.txt", "new.txt", "old.txt"};
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", names, 1, ui_), 1);
    EXPECT_EQ(tmp_.read("dst/new.txt"), "new");
    EXPECT_EQ(tmp_.read("dst/old.txt"), "changed");
    EXPECT_EQ(tmp_.read("dst/locked.txt"), "locked");
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(330, tmp_ / "dst/locked.txt")));
    EXPECT_TRUE(PartialCopiesBelow(tmp_.path()).empty());
}

}  // namespace
}  // namespace mirova
