#include "app/console/ConsolePresetFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "AppTesting.h"
#include "ScriptedMessages.h"
#include "TempDir.h"
#include "settings/ExclusionList.h"
#include "settings/Preset.h"
#include "settings/PresetDataFile.h"
#include "settings/SettingsStore.h"

namespace mirova {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

PresetTable SampleTable() {
    PresetTable table;
    table.presets[0] = Preset{"/data/写真", "/backup/写真", "毎晩\n二行目", 0, 1};
    table.presets[12] = Preset{"/a", "/b", "", 1, 0};
    table.currentPreset = 12;
    table.windowLeft = 5;
    table.windowTop = 6;
    return table;
}

ExclusionList SampleLists() {
    ExclusionList lists;
    lists.AddName("/cache/");
    lists.AddName("");
    lists.AddExtension("tmp");
    return lists;
}

void Fill(MemorySettingsStore& store, const PresetTable& table,
          const ExclusionList& lists = ExclusionList()) {
    SaveSettings(table, store);
    lists.Save(store);
}

// The names of the items in a folder, to see that no temporary file is left behind.
std::vector<std::string> ItemsOf(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        names.push_back(item.path().filename().string());
    }
    return names;
}

class ConsolePresetFileTest : public ::testing::Test {
protected:
    test::TempDir dir_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(ConsolePresetFileTest, ImportChangesNothingUnlessTheFileIsGoodAndTheAnswerIsYes) {
    dir_.createFile("Preset.dat", EncodePresetData(SampleTable().presets, SampleLists()));
    const std::string good = EncodePresetData(SampleTable().presets, SampleLists());
    dir_.createFile("other.dat", "Hello, world: certainly no preset data");
    dir_.createFile("v13.dat", "\x19Mirova Preset Data Ver1.3");
    dir_.createFile("cut.dat", good.substr(0, good.size() / 2));
    dir_.createFolder("folder.dat");
    struct Row {
        std::string file;
        int answer;
        std::string message;  // on standard error; "" for none
        std::string commitProblem = "";
    };
    const Row rows[] = {
        {dir_ / "Preset.dat", kIdNo, ""},
        {dir_ / "missing.dat", kIdYes, (dir_ / "missing.dat") + "がオープンできません。"},
        {dir_ / "folder.dat", kIdYes, (dir_ / "folder.dat") + "がオープンできません。"},
        {dir_ / "other.dat", kIdYes, "ﾌﾟﾘｾｯﾄﾃﾞｰﾀではありません。\n"},
        {dir_ / "v13.dat", kIdYes, "ﾌﾟﾘｾｯﾄﾃﾞｰﾀではありません。\n"},
        {dir_ / "cut.dat", kIdYes, (dir_ / "cut.dat") + "は壊れたﾌﾟﾘｾｯﾄﾃﾞｰﾀです（"},
        {dir_ / "Preset.dat", kIdYes, "cannot be written", "cannot be written"},
    };
    PresetTable before;
    before.presets[0].caption = "kept";
    MemorySettingsStore untouched;
    Fill(untouched, before);
    for (const Row& row : rows) {
        MemorySettingsStore store;
        Fill(store, before);
        out_.str("");
        err_.str("");

        test::ScriptedMessages boxes;
        boxes.Answer(row.answer);
        EXPECT_EQ(ImportPresetData(
                      row.file, store, boxes, [&row] { return row.commitProblem; }, out_, err_),
                  1)
            << row.file;
        // Only a file that can be loaded is asked about.
        const bool loadable = row.file == dir_ / "Preset.dat";
        EXPECT_EQ(boxes.requests().size(), loadable ? 1u : 0u) << row.file;
        EXPECT_THAT(out_.str(), IsEmpty()) << row.file;
        if (row.message.empty()) {
            EXPECT_THAT(err_.str(), IsEmpty());
        } else {
            EXPECT_THAT(err_.str(), HasSubstr(row.message)) << row.file;
        }
        if (row.commitProblem.empty()) {
            EXPECT_EQ(store.section("Settings"), untouched.section("Settings")) << row.file;
            EXPECT_EQ(store.section("JLIST"), untouched.section("JLIST")) << row.file;
        }
    }
}

TEST_F(ConsolePresetFileTest, ExportReplacesWholeOrNotAtAll) {
    MemorySettingsStore store;
    Fill(store, SampleTable(), SampleLists());
    dir_.createFile("out/Preset.dat", "old content");
    ASSERT_EQ(::chmod((dir_ / "out/Preset.dat").c_str(), 0640), 0);

    ASSERT_EQ(ExportPresetData(dir_ / "out/Preset.dat", store, out_, err_), 0) << err_.str();
    EXPECT_EQ(dir_.read("out/Preset.dat"), EncodePresetData(SampleTable().presets, SampleLists()));
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "out/Preset.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file's permissions stay
    EXPECT_THAT(ItemsOf(dir_ / "out"), ::testing::ElementsAre("Preset.dat"));

    // A folder in the way, and a folder that does not exist: nothing is left behind.
    dir_.createFolder("out/taken.dat");
    const std::string failures[] = {dir_ / "out/taken.dat", dir_ / "nowhere/Preset.dat"};
    for (const std::string& file : failures) {
        out_.str("");
        err_.str("");
        EXPECT_EQ(ExportPresetData(file, store, out_, err_), 1);
        EXPECT_THAT(err_.str(), HasSubstr(file + "を作成できません。"));
        EXPECT_THAT(out_.str(), IsEmpty());
    }
    EXPECT_THAT(ItemsOf(dir_ / "out"), ::testing::UnorderedElementsAre("Preset.dat", "taken.dat"));
}

TEST(ConsolePresetFileEndToEndTest, ExportAndImportThroughTheSettingsFile) {
    test::TempDir dir;
    test::ScopedConfigHome config(dir);
    dir.createFile("config/TK-ORVELAN/Mirova.conf",
                   "[Settings]\nPRESETNO=3\nP1SRCFOLDER=/src\nP1TARFOLDER=/dst\n"
                   "P1CAPTION=\"夜の\\nバックアップ\"\n[ELIST]\nELIST_CNT=1\nELIST-0=bak\n");
    const std::string file = dir / "Preset.dat";
    const test::ProcessOutcome exported = test::RunMirova(dir, {"--export-presets", file});
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out, "保存終了\n");

    // Another user's settings: different presets, another current one and window place.
    dir.createFile("config/TK-ORVELAN/Mirova.conf",
                   "[Settings]\nPOSX=300\nPRESETNO=8\nP1SRCFOLDER=/other\nP2CAPTION=gone\n");
    const test::ProcessOutcome declined = test::RunMirova(dir, {"--import-presets", file});
    EXPECT_EQ(declined.status, 1);
    EXPECT_THAT(declined.err, HasSubstr("ﾌﾟﾘｾｯﾄﾃﾞｰﾀを読込みますか？\n-> No"));
    EXPECT_THAT(test::ReadFileText(config.settingsFile()), HasSubstr("P1SRCFOLDER=/other"));

    const test::ProcessOutcome imported = test::RunMirova(dir, {"--import-presets", file, "--yes"});
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(imported.out, "読込み終了\n");
    const std::string settings = test::ReadFileText(config.settingsFile());
    EXPECT_THAT(settings, HasSubstr("P1SRCFOLDER=/src\n"));
    EXPECT_THAT(settings, HasSubstr("P1CAPTION=夜の\\nバックアップ\n"));
    EXPECT_THAT(settings, HasSubstr("P2CAPTION=\n"));
    EXPECT_THAT(settings, HasSubstr("PRESETNO=8\n"));
    EXPECT_THAT(settings, HasSubstr("POSX=300\n"));
    EXPECT_THAT(settings, HasSubstr("ELIST-0=bak\n"));

    const test::ProcessOutcome wrong = test::RunMirova(dir, {"--export-presets", file, "--yes"});
    EXPECT_EQ(wrong.status, 2);
}

}  // namespace
}  // namespace mirova
