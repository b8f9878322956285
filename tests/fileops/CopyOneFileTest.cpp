#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <optional>
#include <string>

#include "FileOpsTesting.h"
#include "fileops/SafeCopy.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using test::CannotCreateText;
using test::CannotEnterText;
using test::CannotOpenText;
using test::CannotReadText;
using test::PartialCopiesIn;
using test::Pattern;
using test::StatOf;

constexpr timespec kAccessTime{1400000000, 123456789};
constexpr timespec kWriteTime{1500000000, 987654321};
constexpr uid_t kOtherOwner = 12345;
constexpr gid_t kOtherGroup = 23456;

bool IsRoot() {
    return ::geteuid() == 0;
}

void SetTimes(const std::string& path) {
    const timespec times[2] = {kAccessTime, kWriteTime};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

void ExpectSameTime(const timespec& actual, const timespec& expected) {
    EXPECT_EQ(actual.tv_sec, expected.tv_sec);
    EXPECT_EQ(actual.tv_nsec, expected.tv_nsec);
}

class CopyOneFileTest : public test::FileOpsTest {
protected:
    std::string src(const std::string& name) const { return tmp_ / ("src/" + name); }
    std::string dst(const std::string& name) const { return tmp_ / ("dst/" + name); }
};

TEST_F(CopyOneFileTest, CopyKeepsContentTimesPermissionsAndOwner) {
    struct Row {
        const char* name;
        std::size_t size;
        mode_t mode;
        bool replacesAFile;
    };
    // The set-user-id row fails when the owner is given after the permission bits.
    const Row rows[] = {{"empty.txt", 0, 0640, false},
                        {"small.txt", 5, 0600, true},
                        {"big.bin", 300 * 1024 + 7, 04755, true},
                        {".hidden", 3, 0644, true}};
    tmp_.createFolder("dst");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string content = Pattern(row.size);
        tmp_.createFile(std::string("src/") + row.name, content);
        if (row.replacesAFile) {
            tmp_.createFile(std::string("dst/") + row.name, "old content, longer than the new");
        }
        if (IsRoot()) {
            ASSERT_EQ(::chown(src(row.name).c_str(), kOtherOwner, kOtherGroup), 0);
        }
        ASSERT_EQ(::chmod(src(row.name).c_str(), row.mode), 0);
        SetTimes(src(row.name));

        EXPECT_EQ(CopyOneFile(src(row.name), dst(row.name), 0, ui_), 1);
        const struct stat copied = StatOf(dst(row.name));  // before a read moves its access time
        EXPECT_TRUE(S_ISREG(copied.st_mode));
        EXPECT_EQ(copied.st_mode & 07777, row.mode);
        ExpectSameTime(copied.st_atim, kAccessTime);
        ExpectSameTime(copied.st_mtim, kWriteTime);
        if (IsRoot()) {
            EXPECT_EQ(copied.st_uid, kOtherOwner);
            EXPECT_EQ(copied.st_gid, kOtherGroup);
        }
        EXPECT_TRUE(tmp_.read(std::string("dst/") + row.name) == content);
    }
    EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(TakeLog(), "");
    EXPECT_EQ(ui_.failures(), 0);
}

TEST_F(CopyOneFileTest, LinkIsCopiedAsALinkWithItsOwnTimes) {
    tmp_.createFile("src/target.txt", "pointed at");
    ASSERT_EQ(::symlink("../elsewhere/missing", src("dangling").c_str()), 0);
    ASSERT_EQ(::symlink("target.txt", src("link").c_str()), 0);
    // A link to itself: opening it gives the same error as a loop, yet it is a link to copy.
    ASSERT_EQ(::symlink("self", src("self").c_str()), 0);
    tmp_.createFile("dst/dangling", "a file the link replaces");
    ASSERT_EQ(::symlink("old-target", dst("link").c_str()), 0);
    const struct {
        const char* name;
        const char* target;
    } rows[] = {{"dangling", "../elsewhere/missing"}, {"link", "target.txt"}, {"self", "self"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (IsRoot()) {
            ASSERT_EQ(::lchown(src(row.name).c_str(), kOtherOwner, kOtherGroup), 0);
        }
        SetTimes(src(row.name));
        EXPECT_EQ(CopyOneFile(src(row.name), dst(row.name), 0, ui_), 1);
        const struct stat copied = StatOf(dst(row.name));
        ASSERT_TRUE(S_ISLNK(copied.st_mode));
        ExpectSameTime(copied.st_mtim, kWriteTime);
        if (IsRoot()) {
            EXPECT_EQ(copied.st_uid, kOtherOwner);
            EXPECT_EQ(copied.st_gid, kOtherGroup);
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(dst(row.name).c_str(), target, sizeof target);
        EXPECT_EQ(std::string(target, length > 0 ? length : 0), row.target);
    }
    EXPECT_EQ(tmp_.read("src/target.txt"), "pointed at");
    EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
    EXPECT_EQ(ui_.failures(), 0);
}

TEST_F(CopyOneFileTest, ReadOnlySourceGivesAReadOnlyCopyThatIsNotReplacedLater) {
    tmp_.createFile("src/ro.txt", "first");
    tmp_.createFolder("dst");
    ASSERT_EQ(::chmod(src("ro.txt").c_str(), 0444), 0);
    ASSERT_EQ(CopyOneFile(src("ro.txt"), dst("ro.txt"), 0, ui_), 1);
    EXPECT_EQ(StatOf(dst("ro.txt")).st_mode & 07777, 0444u);

    // Even root, whom no permission stops, keeps a read-only destination.
    ASSERT_EQ(::chmod(src("ro.txt").c_str(), 0644), 0);
    tmp_.createFile("src/ro.txt", "second");
    EXPECT_EQ(CopyOneFile(src("ro.txt"), dst("ro.txt"), 0, ui_), 0);
    EXPECT_EQ(tmp_.read("dst/ro.txt"), "first");
    const std::string refused = CannotCreateText(330, dst("ro.txt"));
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, refused);
    EXPECT_EQ(boxes[0].style, kMbOk);
    EXPECT_EQ(TakeLog(), Logged(refused));
    EXPECT_EQ(ui_.failures(), 1);
}

// The destination cannot be made: nothing at it changes, and no partial copy is left.
TEST_F(CopyOneFileTest, UnmakeableDestinationIsLeftAsItWas) {
    enum class Setup { ReadOnlyFile, Folder, UnwritableFolder };
    const struct {
        const char* label;
        Setup setup;
    } rows[] = {{"read-only file", Setup::ReadOnlyFile},
                {"a folder in the way", Setup::Folder},
                {"folder without write permission", Setup::UnwritableFolder}};
    for (const auto& row : rows) {
        for (const int quiet : {0, 1}) {
            SCOPED_TRACE(testing::Message() << row.label << ", noStopOnError " << quiet);
            test::TempDir dir;
            dir.createFile("src/file.txt", "new");
            const std::string from = dir / "src/file.txt";
            const std::string to = dir / "out/file.txt";
            std::optional<test::ScopedUnprivileged> unprivileged;
            if (row.setup == Setup::Folder) {
                dir.createFile("out/file.txt/inside", "old");
            } else {
                dir.createFile("out/file.txt", "old");
            }
            if (row.setup == Setup::ReadOnlyFile) {
                ASSERT_EQ(::chmod(to.c_str(), 0444), 0);
            }
            if (row.setup == Setup::UnwritableFolder) {
                unprivileged.emplace(dir);
                ASSERT_EQ(::chmod((dir / "out").c_str(), 0555), 0);
            }

            EXPECT_EQ(CopyOneFile(from, to, quiet, ui_), 0);
            const std::string refused = CannotCreateText(330, to);
            const auto boxes = TakeBoxes();
            ASSERT_EQ(boxes.size(), quiet ? 0u : 1u);
            if (!quiet) {
                EXPECT_EQ(boxes[0].text, refused);
            }
            EXPECT_EQ(test::ReadFileText(dir.logDir() + "/Mirova.log"), Logged(refused));
            const std::string kept =
                row.setup == Setup::Folder ? "out/file.txt/inside" : "out/file.txt";
            EXPECT_EQ(dir.read(kept), "old");
            EXPECT_TRUE(PartialCopiesIn(dir / "out").empty());
        }
    }
    EXPECT_EQ(ui_.failures(), 6);
}

// Puts a test's fault into every copy while it lives.
class ScopedCopyHook {
public:
    explicit ScopedCopyHook(CopyStartHook hook) { SetCopyStartHookForTesting(std::move(hook)); }
    ~ScopedCopyHook() { SetCopyStartHookForTesting(nullptr); }
};

// Replaces an open descriptor with another open file.
void Substitute(int fd, const char* path, int flags) {
    const int other = ::open(path, flags | O_CLOEXEC);
    ASSERT_GE(other, 0) << path;
    ASSERT_EQ(::dup2(other, fd), fd);
    ::close(other);
}

// Faults in the middle of the content: the old destination stays whole.
TEST_F(CopyOneFileTest, ContentFaultLeavesTheOldDestination) {
    const std::string from = src("data.bin");
    const std::string to = dst("data.bin");
    const std::string folder = tmp_.path();
    const struct {
        const char* label;
        CopyStartHook fault;
        std::string named;
    } rows[] = {
        {"the source shrinks", [&](int, int) { ASSERT_EQ(::truncate(from.c_str(), 10), 0); }, from},
        {"the source cannot be read",
         [&](int source, int) { Substitute(source, folder.c_str(), O_RDONLY | O_DIRECTORY); },
         from},
        {"the disk is full",
         [](int, int temporary) { Substitute(temporary, "/dev/full", O_WRONLY); }, to},
    };
    for (const auto& row : rows) {
        for (const int quiet : {0, 1}) {
            SCOPED_TRACE(testing::Message() << row.label << ", noStopOnError " << quiet);
            tmp_.createFile("src/data.bin", Pattern(200 * 1024));
            tmp_.createFile("dst/data.bin", "old");
            const ScopedCopyHook hook(row.fault);
            EXPECT_EQ(CopyOneFile(from, to, quiet, ui_), 0);
            // Shown, or logged instead when no box may stop the run.
            const auto boxes = TakeBoxes();
            const std::string log = TakeLog();
            if (quiet) {
                EXPECT_TRUE(boxes.empty());
                EXPECT_EQ(log, Logged(CannotReadText(row.named)));
            } else {
                ASSERT_EQ(boxes.size(), 1u);
                EXPECT_EQ(boxes[0].text, CannotReadText(row.named));
                EXPECT_EQ(boxes[0].style, kMbOk);
                EXPECT_EQ(log, "");
            }
            EXPECT_EQ(tmp_.read("dst/data.bin"), "old");
            EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
        }
    }
    EXPECT_EQ(ui_.failures(), 6);
}

// Where the kernel cannot copy between the two (here: the source is swapped for a pipe that
// holds the same bytes), the plain read/write loop copies, in several rounds of its buffer.
TEST_F(CopyOneFileTest, PlainLoopCopiesWhatTheKernelCannot) {
    const std::string content = Pattern(300 * 1024 + 11);
    tmp_.createFile("src/data.bin", content);
    tmp_.createFile("dst/data.bin", "old");
    const ScopedCopyHook hook([&](int source, int) {
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
    EXPECT_EQ(ui_.failures(), 0);
}

TEST_F(CopyOneFileTest, UnopenableSourceAsksRetryOrIsLogged) {
    tmp_.createFolder("src/folder");
    ASSERT_EQ(::mkfifo(src("fifo").c_str(), 0600), 0);
    tmp_.createFile("dst/missing.txt", "old");
    for (const char* name : {"missing.txt", "folder", "fifo"}) {
        SCOPED_TRACE(name);
        const std::string unopenable = CannotOpenText(src(name));
        // Asked as often as the user chooses Retry; Cancel logs it.
        ui_.messages.Answer(kIdRetry);
        ui_.messages.Answer(kIdRetry);
        ui_.messages.Answer(kIdCancel);
        EXPECT_EQ(CopyOneFile(src(name), dst("missing.txt"), 0, ui_), 0);
        const auto boxes = TakeBoxes();
        ASSERT_EQ(boxes.size(), 3u);
        for (const auto& box : boxes) {
            EXPECT_EQ(box.text, unopenable);
            EXPECT_EQ(box.style, kMbRetryCancel);
        }
        EXPECT_EQ(TakeLog(), Logged(unopenable));
        // Without asking when no box may stop the run.
        EXPECT_EQ(CopyOneFile(src(name), dst("missing.txt"), 1, ui_), 0);
        EXPECT_TRUE(TakeBoxes().empty());
        EXPECT_EQ(TakeLog(), Logged(unopenable));
    }
    EXPECT_EQ(tmp_.read("dst/missing.txt"), "old");
    EXPECT_EQ(ui_.failures(), 6);
    EXPECT_EQ(ui_.messages.unscripted(), 0u);
}

// A front end on which the user frees the file before answering Retry.
class ReleasingUi : public test::ScriptedFileOpsUi {
public:
    std::function<void()> beforeAnswer;
    int DoMessageBox(const std::string& text, int style) override {
        beforeAnswer();
        return ScriptedFileOpsUi::DoMessageBox(text, style);
    }
};

TEST_F(CopyOneFileTest, RetryCopiesOnceTheSourceIsReleased) {
    tmp_.createFile("src/held.txt", "content");
    tmp_.createFolder("dst");
    platform::UniqueFd holder(::open(src("held.txt").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
    ReleasingUi ui;
    ui.beforeAnswer = [&] { holder.reset(); };
    ui.messages.Answer(kIdRetry);
    EXPECT_EQ(CopyOneFile(src("held.txt"), dst("held.txt"), 0, ui), 1);
    EXPECT_EQ(ui.messages.requests().size(), 1u);
    EXPECT_EQ(tmp_.read("dst/held.txt"), "content");
    EXPECT_EQ(ui.failures(), 0);
    EXPECT_EQ(TakeLog(), "");
}

TEST_F(CopyOneFileTest, CopyFileAnyLengthReachesPathsLongerThanPathMax) {
    const std::string shortFolder = tmp_ / "short";
    const std::string longSource = test::DeepFolder(tmp_ / "from", 's');
    const std::string longTarget = test::DeepFolder(tmp_ / "to", 't');
    tmp_.createFolder("short");
    const struct {
        const char* label;
        std::string from;
        std::string to;
    } rows[] = {{"long to long", longSource, longTarget},
                {"long to short", longSource, shortFolder},
                {"short to long", shortFolder, longTarget}};
    int serial = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string name = "file" + std::to_string(++serial) + ".bin";
        const std::string content = Pattern(70000 + serial);
        test::WriteAnyLength(row.from + "/" + name, content);
        const platform::FileTime written = platform::FileTimeFromTimespec(kWriteTime);
        ASSERT_TRUE(platform::SetTimes(row.from + "/" + name, written, written).ok());
        ASSERT_TRUE(platform::SetPermissions(row.from + "/" + name, 0604).ok());

        EXPECT_EQ(CopyFileAnyLength(row.from + "/" + name, row.to + "/" + name, 0, ui_), 1);
        platform::ItemInfo info;
        ASSERT_TRUE(platform::GetItemInfo(row.to + "/" + name, info).ok());
        EXPECT_EQ(info.lastWrite, written);
        EXPECT_EQ(info.permissions, 0604u);
        EXPECT_TRUE(test::ReadAnyLength(row.to + "/" + name) == content);
        EXPECT_TRUE(PartialCopiesIn(row.to).empty());
    }
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 0);
}

// A folder of a long path cannot be entered (a file stands in its place): the user is told
// whatever noStopOnError says, and the copy fails as it would at that end.
TEST_F(CopyOneFileTest, LongPathThatCannotBeWalkedIsToldAndFails) {
    tmp_.createFile("blocker", "a file, not a folder");
    tmp_.createFile("short.txt", "data");
    const std::string throughFile = test::DeepFolder(tmp_ / "blocker", 'w', false) + "/f.txt";
    const std::string notice = CannotEnterText(throughFile, "blocker", tmp_.path());
    for (const bool sourceSide : {true, false}) {
        for (const int quiet : {0, 1}) {
            SCOPED_TRACE(testing::Message()
                         << (sourceSide ? "source" : "destination") << ", noStopOnError " << quiet);
            const std::string from = sourceSide ? throughFile : tmp_ / "short.txt";
            const std::string to = sourceSide ? tmp_ / "copy.txt" : throughFile;
            const std::string failure =
                sourceSide ? CannotOpenText(from) : CannotCreateText(330, to);
            if (sourceSide && !quiet) {
                ui_.messages.Answer(kIdCancel);
            }
            EXPECT_EQ(CopyFileAnyLength(from, to, quiet, ui_), 0);
            const auto boxes = TakeBoxes();
            ASSERT_EQ(boxes.size(), quiet ? 1u : 2u);
            EXPECT_EQ(boxes[0].text, notice);
            EXPECT_EQ(boxes[0].style, kMbOk);
            if (!quiet) {
                EXPECT_EQ(boxes[1].text, failure);
                EXPECT_EQ(boxes[1].style, sourceSide ? kMbRetryCancel : kMbOk);
            }
            EXPECT_EQ(TakeLog(), Logged(failure));
        }
    }
    EXPECT_FALSE(::access((tmp_ / "copy.txt").c_str(), F_OK) == 0);
    EXPECT_EQ(tmp_.read("blocker"), "a file, not a folder");
    EXPECT_EQ(ui_.failures(), 4);
    EXPECT_EQ(ui_.messages.unscripted(), 0u);
}

}  // namespace
}  // namespace mirova
