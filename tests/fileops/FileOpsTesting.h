#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ScriptedFileOpsUi.h"
#include "TempDir.h"
#include "TreeSnapshot.h"
#include "fileops/FileOperations.h"
#include "fileops/Format.h"
#include "fileops/SafeCopy.h"
#include "platform/Clock.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"

namespace mirova::test {

constexpr std::int64_t kOldTime = 1600000000, kSourceTime = 1700000000;

// The names of a list operation: owns the texts and hands out the pointers the operations take.
class Names {
public:
    Names(std::vector<std::string> names) : texts_(std::move(names)) {
        for (const std::string& text : texts_) {
            pointers_.push_back(text.c_str());
        }
    }
    Names(std::initializer_list<std::string> names) : Names(std::vector<std::string>(names)) {}
    operator NameList() const { return pointers_; }

private:
    std::vector<std::string> texts_;
    std::vector<const char*> pointers_;
};

// The message boxes the user met: text and style.
using Boxes = std::vector<std::pair<std::string, int>>;
inline Boxes BoxesOf(const ScriptedFileOpsUi& ui) {
    Boxes boxes;
    for (const auto& request : ui.messages.requests()) {
        boxes.emplace_back(request.text, request.style);
    }
    return boxes;
}
// A failure that ends the run: shown in an OK box unless noStopOnError (quiet) forbids boxes.
inline Boxes ShownUnless(int quiet, const std::string& text) {
    return quiet ? Boxes{} : Boxes{{text, kMbOk}};
}
// A log line as a stamped WriteLog writes it at the fixed time of FileOpsTest.
inline std::string Logged(const std::string& text) {
    return "240102-030405: " + text + "\n";
}

// The texts of the file operations, written out here rather than taken from the code.
inline std::string CannotCreateText(int site, const std::string& path) {
    return Format(".\\FileCtrl:%d - %s が作成できません。", site, path.c_str());
}
inline std::string CannotOpenText(const std::string& path) {
    return ".\\FileCtrl:316 - " + path + " が開けません。";
}
inline std::string CannotReadText(const std::string& path) {
    return path + " が読めません。";
}
inline std::string CannotDeleteText(const std::string& path, int error) {
    return path + " が削除できません。(" + std::strerror(error) + ")";
}
inline std::string CannotEnterText(const std::string& path, const std::string& component,
                                   const std::string& folder) {
    return path + "\n" + component + " に移動できません。\n現在はのカレントは" + folder + "です。";
}

// The window of a list that was worked through: a status line and a look for Cancel per item, a
// bar of barSteps steps of 1 (the items unless given), then closed.
inline void ExpectWholeWindow(const ScriptedFileOpsUi::Window& window, int items,
                              int barSteps = -1) {
    barSteps = barSteps < 0 ? items : barSteps;
    EXPECT_EQ(std::tuple(window.statusTexts.size(), window.cancelChecks, window.rangeLow,
                         window.rangeHigh, window.step, window.stepBarCalls, window.destroyed),
              std::tuple(std::size_t(items), items, 0, barSteps, 1, barSteps, true));
}

// Every item in a test's folder but its run log, by relative name: compared before and after an
// operation it shows any item changed, lost or left behind (an unfinished copy among them).
using Items = std::map<std::string, ItemSnapshot>;
inline Items ItemsOf(const TempDir& dir) {
    Items items = SnapshotTree(dir.path());
    std::erase_if(items, [](const auto& item) { return item.first.starts_with("log"); });
    return items;
}
// The attributes of an item itself (a link is not followed); all zero when it is missing.
inline struct stat StatOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st : decltype(st){};
}
inline bool IsLink(const std::string& path) {
    return S_ISLNK(StatOf(path).st_mode);
}
// Names of unfinished copies left in a folder of any length.
inline std::vector<std::string> PartialCopiesIn(const std::string& folder) {
    std::vector<std::string> found;
    platform::FolderReader reader;
    EXPECT_TRUE(reader.Open(folder).ok()) << folder.substr(0, 80);
    platform::FolderItem item;
    platform::SysStatus error;
    while (reader.Next(item, error) == platform::FolderReader::Step::Item) {
        if (std::string_view(item.name, item.nameLength).starts_with(kPartialCopyPrefix)) {
            found.emplace_back(item.name, item.nameLength);
        }
    }
    return found;
}
inline std::string Pattern(std::size_t size) {  // distinct bytes of the given length
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    }
    return bytes;
}
// Nested folders of 200-byte names below base until the path is longer than PATH_MAX, created
// (base too) unless create is false; returns the deepest.
inline std::string DeepFolder(const std::string& base, char letter, bool create = true) {
    std::string path = base;
    if (create) {
        std::filesystem::create_directories(base);
    }
    while (path.size() <= PATH_MAX) {
        path += "/" + std::string(200, letter);
        EXPECT_TRUE(!create || platform::CreateFolder(path).ok()) << path.size();
    }
    return path;
}
// Write and read a file at a path of any length.
inline void WriteAnyLength(const std::string& path, const std::string& content) {
    platform::UniqueFd fd;
    ASSERT_TRUE(platform::CreateFileForWriting(path, platform::CreateMode::Replace, 0644, fd).ok());
    ASSERT_TRUE(platform::WriteAll(fd.get(), content.data(), content.size()).ok());
}
inline std::string ReadAnyLength(const std::string& path) {
    platform::UniqueFd fd;
    std::string content(1 << 20, '\0');
    std::size_t got = 0;
    const bool read = platform::OpenFileForReading(path, fd).ok() &&
                      platform::ReadFull(fd.get(), content.data(), content.size(), got).ok();
    return read ? content.substr(0, got) : "<unreadable>";
}

struct ScopedCurrentFolder {  // makes another folder the current one while it lives
    explicit ScopedCurrentFolder(const std::string& to) { std::filesystem::current_path(to); }
    ~ScopedCurrentFolder() { std::filesystem::current_path(previous); }
    std::filesystem::path previous = std::filesystem::current_path();
};

// A fresh folder, a scripted front end and a fixed clock, so that log lines are known exactly; a
// test's fault put into every copy goes at the end.
class FileOpsTest : public ::testing::Test {
protected:
    FileOpsTest() { platform::SetClock(&clock_); }
    ~FileOpsTest() override {
        platform::SetClock(nullptr);
        platform::ClearFaultsForTesting();
        SetCopyStartHookForTesting(nullptr);
    }
    std::string src(const std::string& name) const { return tmp_ / ("src/" + name); }
    std::string dst(const std::string& name) const { return tmp_ / ("dst/" + name); }
    // The log lines written and the message boxes requested since the last call.
    std::string TakeLog() {
        const std::string all = tmp_.readLog();
        return all.substr(std::exchange(logSeen_, all.size()));
    }
    Boxes TakeBoxes() {
        const Boxes all = BoxesOf(ui_);
        return Boxes(all.begin() + static_cast<long>(std::exchange(boxesSeen_, all.size())),
                     all.end());
    }

    TempDir tmp_;
    ScriptedFileOpsUi ui_;

private:
    platform::FixedClock clock_{{2024, 1, 2, 3, 4, 5}};
    std::size_t logSeen_ = 0;
    std::size_t boxesSeen_ = 0;
};

}  // namespace mirova::test
