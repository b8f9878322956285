#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ScriptedFileOpsUi.h"
#include "TempDir.h"
#include "TreeSnapshot.h"
#include "fileops/FileOperations.h"
#include "platform/Clock.h"

namespace mirova::test {

// The names of a list operation: owns the texts and hands out the pointers the operations take.
class Names {
public:
    Names(std::initializer_list<std::string> names) : Names(std::vector<std::string>(names)) {}
    explicit Names(std::vector<std::string> names);
    Names(const Names&) = delete;
    Names& operator=(const Names&) = delete;

    operator NameList() const { return pointers_; }

private:
    std::vector<std::string> texts_;
    std::vector<const char*> pointers_;
};

// A message box as the user met it: its text and its style.
using Boxes = std::vector<std::pair<std::string, int>>;
Boxes BoxesOf(const ScriptedFileOpsUi& ui);
// A failure that ends the run: shown in an OK box unless noStopOnError (quiet) forbids boxes.
Boxes ShownUnless(int quiet, const std::string& text);
// The window of a list that was worked through: a status line and a look for Cancel per item, a
// bar of barSteps steps of 1 (the items unless given), then closed.
void ExpectWholeWindow(const ScriptedFileOpsUi::Window& window, int items, int barSteps = -1);
// The status lines of a list operation: each name followed by the action.
std::vector<std::string> Statuses(std::initializer_list<const char*> names, const char* action);
// Scripts the answers to the coming message boxes, in order.
void AnswerInOrder(ScriptedFileOpsUi& ui, const std::vector<int>& answers);

// A log line as a stamped WriteLog writes it at the fixed time of FileOpsTest.
std::string Logged(const std::string& text);

// A fresh folder, a scripted front end and a fixed clock, so that log lines are known exactly.
class FileOpsTest : public ::testing::Test {
protected:
    FileOpsTest() { platform::SetClock(&clock_); }
    ~FileOpsTest() override { platform::SetClock(nullptr); }

    // The log lines written since the last call.
    std::string TakeLog();
    // The message boxes requested since the last call.
    Boxes TakeBoxes();

    TempDir tmp_;
    ScriptedFileOpsUi ui_;

private:
    platform::FixedClock clock_{{2024, 1, 2, 3, 4, 5}};
    std::size_t logSeen_ = 0;
    std::size_t boxesSeen_ = 0;
};

// The texts of the file operations, written out here rather than taken from the code.
std::string CannotCreateText(int site, const std::string& path);
std::string CannotOpenText(const std::string& path);
std::string CannotReadText(const std::string& path);
std::string CannotDeleteText(const std::string& path, int error);
std::string CannotEnterText(const std::string& path, const std::string& component,
                            const std::string& folder);

// Every item in a test's folder but its run log, by relative name: compared before and after an
// operation it shows any item changed, lost or left behind (an unfinished copy among them).
using Items = std::map<std::string, ItemSnapshot>;
Items ItemsOf(const TempDir& dir);

// The attributes of an item itself (a link is not followed); all zero when it is missing.
struct stat StatOf(const std::string& path);
// Names of unfinished copies left in a folder of any length.
std::vector<std::string> PartialCopiesIn(const std::string& folder);
// Distinct bytes of the given length.
std::string Pattern(std::size_t size);
// Nested folders of 200-byte names below base until the path is longer than PATH_MAX, created
// (base too) unless create is false; returns the deepest.
std::string DeepFolder(const std::string& base, char letter, bool create = true);
// Writes and reads a file at a path of any length.
void WriteAnyLength(const std::string& path, const std::string& content);
std::string ReadAnyLength(const std::string& path);

// Makes another folder the current one while it lives.
class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const std::string& folder)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~ScopedCurrentFolder() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

}  // namespace mirova::test
