#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

#include "FileOpsTesting.h"
#include "fileops/SafeCopy.h"
#include "platform/FileSystem.h"

namespace mirova::test {
namespace {

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

class CopyOneFileTest : public FileOpsTest {
protected:
    std::string src(const std::string& name) const { return tmp_ / ("src/" + name); }
    std::string dst(const std::string& name) const { return tmp_ / ("dst/" + name); }
};

// Files keep content, times, permissions and owner; links are copied as links with their own
// target, times and owner, whatever they replace.
TEST_F(CopyOneFileTest, CopyKeepsContentTimesPermissionsAndOwner) {
    const struct {
        const char* name;
        std::size_t size;
        mode_t mode;
    } files[] = {{"empty.txt", 0, 0640},
                 {"small.txt", 5, 0600},
                 {"big.bin", 300 * 1024 + 7, 04755},
                 {".hidden", 3, 0644},
                 {"ro.txt", 70000, 0444}};
    tmp_.createFile("src/target.txt", "pointed at");
    ASSERT_EQ(::symlink("../elsewhere/missing", src("dangling").c_str()), 0);
    ASSERT_EQ(::symlink("target.txt", src("link").c_str()), 0);
    // A link to itself: opening it gives the same error as a loop, yet it is a link to copy.
    ASSERT_EQ(::symlink("self", src("self").c_str()), 0);
    std::vector<std::string> names = {"target.txt", "dangling", "link", "self"};
    for (const auto& file : files) {
        tmp_.createFile("src/" + std::string(file.name), Pattern(file.size));
        names.push_back(file.name);
    }
    for (const std::string& name : names) {
        if (IsRoot()) {
            ASSERT_EQ(::lchown(src(name).c_str(), kOtherOwner, kOtherGroup), 0);
        }
        SetTimes(src(name));
    }
    // After the owner, which takes the set-user-id bit away; the set-user-id file fails when the
    // copy gives the owner after the permission bits, the read-only one unless it is made whole
    // before it loses its write permission.
    for (const auto& file : files) {
        ASSERT_EQ(::chmod(src(file.name).c_str(), file.mode), 0);
    }
    // What the copies replace: files longer than the new, a file by a link, a link by a link.
    for (const char* name : {"small.txt", "big.bin", ".hidden"}) {
        tmp_.createFile("dst/" + std::string(name), "old content, longer than the new");
    }
    tmp_.createFile("dst/dangling", "a file the link replaces");
    ASSERT_EQ(::symlink("old-target", dst("link").c_str()), 0);

    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(CopyOneFile(src(name), dst(name), 0, ui_), 1);
        const struct stat copied = StatOf(dst(name));  // before a read moves its access time
        if (S_ISREG(copied.st_mode)) {
            ExpectSameTime(copied.st_atim, kAccessTime);
        }
        if (IsRoot()) {
            EXPECT_EQ(copied.st_uid, kOtherOwner);
            EXPECT_EQ(copied.st_gid, kOtherGroup);
        }
    }
    // Kind, content or link target, permissions and last-write time; no unfinished copy.
    EXPECT_EQ(DescribeDifferences(SnapshotTree(tmp_ / "src"), SnapshotTree(tmp_ / "dst")), "");
    EXPECT_EQ(tmp_.read("src/target.txt"), "pointed at");
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(TakeLog(), "");
    EXPECT_EQ(ui_.failures(), 0);
}

// The destination cannot be made: nothing at it changes, and no partial copy is left. Even root,
// whom no permission stops, keeps a read-only destination.
TEST_F(CopyOneFileTest, UnmakeableDestinationIsLeftAsItWas) {
    const struct {
        const char* label;
        const char* old;       // what stands at the destination
        const char* readOnly;  // made read-only, for the unprivileged user when it is a folder
    } rows[] = {{"read-only file", "out/file.txt", "out/file.txt"},
                {"a folder in the way", "out/file.txt/inside", nullptr},
                {"folder without write permission", "out/file.txt", "out"}};
    for (const auto& row : rows) {
        for (const int quiet : {0, 1}) {
            SCOPED_TRACE(testing::Message() << row.label << ", noStopOnError " << quiet);
            TempDir dir;
            dir.createFile("src/file.txt", "new");
            dir.createFile(row.old, "old");
            std::optional<ScopedUnprivileged> unprivileged;
            if (row.readOnly) {
                const bool folder = S_ISDIR(StatOf(dir / row.readOnly).st_mode);
                if (folder) {
                    unprivileged.emplace(dir);
                }
                ASSERT_EQ(::chmod((dir / row.readOnly).c_str(), folder ? 0555 : 0444), 0);
            }
            const Items expected = ItemsOf(dir);

            const std::string to = dir / "out/file.txt";
            EXPECT_EQ(CopyOneFile(dir / "src/file.txt", to, quiet, ui_), 0);
            const std::string refused = CannotCreateText(330, to);
            EXPECT_EQ(TakeBoxes(), ShownUnless(quiet, refused));
            EXPECT_EQ(dir.readLog(), Logged(refused));
            EXPECT_EQ(DescribeDifferences(expected, ItemsOf(dir)), "");
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
            EXPECT_EQ(TakeBoxes(), ShownUnless(quiet, CannotReadText(row.named)));
            EXPECT_EQ(TakeLog(), quiet ? Logged(CannotReadText(row.named)) : "");
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
        EXPECT_EQ(TakeBoxes(), Boxes(3, {unopenable, kMbRetryCancel}));
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
class ReleasingUi : public ScriptedFileOpsUi {
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
    const std::string longSource = DeepFolder(tmp_ / "from", 's');
    const std::string longTarget = DeepFolder(tmp_ / "to", 't');
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
        WriteAnyLength(row.from + "/" + name, content);
        const platform::FileTime written = platform::FileTimeFromTimespec(kWriteTime);
        ASSERT_TRUE(platform::SetTimes(row.from + "/" + name, written, written).ok());
        ASSERT_TRUE(platform::SetPermissions(row.from + "/" + name, 0604).ok());

        EXPECT_EQ(CopyFileAnyLength(row.from + "/" + name, row.to + "/" + name, 0, ui_), 1);
        platform::ItemInfo info;
        ASSERT_TRUE(platform::GetItemInfo(row.to + "/" + name, info).ok());
        EXPECT_EQ(info.lastWrite, written);
        EXPECT_EQ(info.permissions, 0604u);
        EXPECT_TRUE(ReadAnyLength(row.to + "/" + name) == content);
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
    const std::string throughFile = DeepFolder(tmp_ / "blocker", 'w', false) + "/f.txt";
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
            Boxes boxes{{notice, kMbOk}};
            if (!quiet) {
                boxes.emplace_back(failure, sourceSide ? kMbRetryCancel : kMbOk);
            }
            EXPECT_EQ(TakeBoxes(), boxes);
            EXPECT_EQ(TakeLog(), Logged(failure));
        }
    }
    EXPECT_FALSE(::access((tmp_ / "copy.txt").c_str(), F_OK) == 0);
    EXPECT_EQ(tmp_.read("blocker"), "a file, not a folder");
    EXPECT_EQ(ui_.failures(), 4);
    EXPECT_EQ(ui_.messages.unscripted(), 0u);
}

}  // namespace
}  // namespace mirova::test
