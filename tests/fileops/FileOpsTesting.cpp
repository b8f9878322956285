#include "FileOpsTesting.h"

#include <sys/stat.h>

#include <climits>
#include <cstring>

#include "fileops/Format.h"
#include "platform/FileSystem.h"

namespace mirova::test {

Names::Names(std::vector<std::string> names) : texts_(std::move(names)) {
    pointers_.reserve(texts_.size());
    for (const std::string& text : texts_) {
        pointers_.push_back(text.c_str());
    }
}

std::string FileOpsTest::TakeLog() {
    const std::string all = tmp_.readLog();
    const std::string fresh = all.substr(std::min(logSeen_, all.size()));
    logSeen_ = all.size();
    return fresh;
}

Boxes FileOpsTest::TakeBoxes() {
    const Boxes all = BoxesOf(ui_);
    Boxes fresh(all.begin() + boxesSeen_, all.end());
    boxesSeen_ = all.size();
    return fresh;
}

Boxes BoxesOf(const ScriptedFileOpsUi& ui) {
    Boxes boxes;
    for (const auto& request : ui.messages.requests()) {
        boxes.emplace_back(request.text, request.style);
    }
    return boxes;
}

Boxes ShownUnless(int quiet, const std::string& text) {
    return quiet ? Boxes{} : Boxes{{text, kMbOk}};
}

void ExpectWholeWindow(const ScriptedFileOpsUi::Window& window, int items, int barSteps) {
    barSteps = barSteps < 0 ? items : barSteps;
    EXPECT_EQ(window.statusTexts.size(), static_cast<std::size_t>(items));
    EXPECT_EQ(window.cancelChecks, items);
    EXPECT_EQ(window.rangeLow, 0);
    EXPECT_EQ(window.rangeHigh, barSteps);
    EXPECT_EQ(window.step, 1);
    EXPECT_EQ(window.stepBarCalls, barSteps);
    EXPECT_TRUE(window.destroyed);
}

std::vector<std::string> Statuses(std::initializer_list<const char*> names, const char* action) {
    std::vector<std::string> texts;
    for (const char* name : names) {
        texts.push_back(std::string(name) + action);
    }
    return texts;
}

void AnswerInOrder(ScriptedFileOpsUi& ui, const std::vector<int>& answers) {
    for (const int answer : answers) {
        ui.messages.Answer(answer);
    }
}

std::string Logged(const std::string& text) {
    return "240102-030405: " + text + "\n";
}

std::string CannotCreateText(int site, const std::string& path) {
    return Format(".\\FileCtrl:%d - %s が作成できません。", site, path.c_str());
}

std::string CannotOpenText(const std::string& path) {
    return Format(".\\FileCtrl:316 - %s が開けません。", path.c_str());
}

std::string CannotReadText(const std::string& path) {
    return path + " が読めません。";
}

std::string CannotDeleteText(const std::string& path, int error) {
    return Format("%s が削除できません。(%s)", path.c_str(), std::strerror(error));
}

std::string CannotEnterText(const std::string& path, const std::string& component,
                            const std::string& folder) {
    return path + "\n" + component + " に移動できません。\n現在はのカレントは" + folder + "です。";
}

Items ItemsOf(const TempDir& dir) {
    Items items = SnapshotTree(dir.path());
    std::erase_if(items, [](const auto& item) {
        return item.first == "log" || item.first.starts_with("log/");
    });
    return items;
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        st = {};
    }
    return st;
}

std::vector<std::string> PartialCopiesIn(const std::string& folder) {
    std::vector<std::string> found;
    platform::FolderReader reader;
    EXPECT_TRUE(reader.Open(folder).ok()) << folder.substr(0, 80);
    platform::FolderItem item;
    platform::SysStatus error;
    while (reader.Next(item, error) == platform::FolderReader::Step::Item) {
        if (std::strncmp(item.name, kPartialCopyPrefix, std::strlen(kPartialCopyPrefix)) == 0) {
            found.emplace_back(item.name, item.nameLength);
        }
    }
    return found;
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    }
    return bytes;
}

std::string DeepFolder(const std::string& base, char letter, bool create) {
    std::string path = base;
    if (create) {
        ::mkdir(base.c_str(), 0777);  // may exist
    }
    while (path.size() <= PATH_MAX) {
        path += "/" + std::string(200, letter);
        if (create) {
            EXPECT_TRUE(platform::CreateFolder(path).ok()) << path.size();
        }
    }
    return path;
}

void WriteAnyLength(const std::string& path, const std::string& content) {
    platform::UniqueFd fd;
    ASSERT_TRUE(platform::CreateFileForWriting(path, platform::CreateMode::Replace, 0644, fd).ok())
        << path.size();
    ASSERT_TRUE(platform::WriteAll(fd.get(), content.data(), content.size()).ok());
}

std::string ReadAnyLength(const std::string& path) {
    platform::UniqueFd fd;
    if (!platform::OpenFileForReading(path, fd).ok()) {
        return "<cannot be opened>";
    }
    std::string content(1 << 20, '\0');
    std::size_t got = 0;
    EXPECT_TRUE(platform::ReadFull(fd.get(), content.data(), content.size(), got).ok());
    content.resize(got);
    return content;
}

}  // namespace mirova::test
