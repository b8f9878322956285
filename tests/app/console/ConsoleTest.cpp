// The console front end below the real process.
#include <sys/stat.h>

#include "AppTesting.h"
#include "ScriptedMessages.h"
#include "app/console/ConsoleCommand.h"
#include "app/console/ConsolePresetFile.h"
#include "fileops/FileOperations.h"
#include "settings/PresetDataFile.h"
#include "settings/SettingsStore.h"

namespace mirova {
namespace {

using namespace ::testing;

// A command line as one text, arguments split at blanks ('' is empty), parsed and told as text.
std::string Parse(const std::string& line) {
    std::istringstream words(line);
    std::vector<std::string> arguments{std::istream_iterator<std::string>(words), {}};
    std::ranges::replace(arguments, std::string("''"), std::string());
    const ParsedCommand parsed = ParseCommandLine(arguments);
    if (parsed.kind == ParsedCommand::Kind::Error) {
        return parsed.error.empty() ? "error without a reason" : "error";
    }
    const char* const kKinds[] = {"help", "version", "run", "list", "export", "import"};
    std::ostringstream text;
    text << kKinds[static_cast<int>(parsed.kind)];
    const RunCommand& run = parsed.run;
    if (parsed.kind == ParsedCommand::Kind::Run) {
        text << " " << static_cast<int>(run.mode) << " " << run.source << " " << run.target;
        for (const auto& [flag, items] :
             {std::pair{" -n ", &run.excludeNames}, {" -e ", &run.excludeExtensions}}) {
            for (const std::string& item : *items) {
                text << flag << item;
            }
        }
        text << " " << run.noStopOnError << run.assumeYes << run.suppressDeletion
             << run.allowMassDelete << run.listChanges << " " << run.keepVersions;
    }
    for (const int preset : parsed.presetList.presets) {
        text << " " << preset;
    }
    if (parsed.kind == ParsedCommand::Kind::PresetList) {
        text << " /D=" << parsed.presetList.suppressDeletion
             << " continue=" << parsed.presetList.noStopOnError;
    }
    text << (parsed.presetFile.empty() ? "" : " " + parsed.presetFile)
         << (parsed.assumeYes ? " yes" : "");
    return text.str();
}

TEST(ConsoleCommandTest, ParsesEveryCommandAndRejectsWrongCommandLines) {
    // Rows "command line>parsed" separated by "|"; a row without ">" is a wrong command line.
    // Folders that look like options follow "--". Without a console command, in any order, every
    // argument but "/A" and "/D" is ignored, dashes too; "/D" alone starts the desktop program.
    std::istringstream rows(
        "--compare /src /dst --exclude obj --exclude-ext tmp --exclude /cache/ --exclude-ext .BAK "
        "--no-stop-on-error --yes>run 0 /src /dst -n obj -n /cache/ -e tmp -e BAK 11000 -1|"
        "--compare -- -src /dst>run 0 -src /dst 00000 -1|"
        "--sync /s /d --suppress-deletion --allow-mass-delete --list>run 1 /s /d 00111 -1|"
        "--merge /s /d --keep-versions 0>run 2 /s /d 00000 0|"
        "--sync /s /d --keep-versions 36500>run 1 /s /d 00000 36500|--help>help|-h>help|"
        "--version>version|/A 1,3,12>list 1 3 12 /D=0 continue=1|"
        "/D /A 300 ignored>list 44 /D=1 continue=1|-A /A 1,3 --yes -x>list 1 3 /D=0 continue=1|"
        "--export-presets p.dat>export p.dat|--yes --import-presets p.dat>import p.dat yes|"
        "--import-presets p.dat>import p.dat|"
        "|/src /dst|--compare /src|--compare /a /b /c|--compare /src /dst --exclude|"
        "--compare /src /dst --exclude-ext .|--compare /src /dst --frobnicate|"
        "--sync /src /dst --keep-versions|--sync /src /dst --keep-versions -1|"
        "--sync /src /dst --keep-versions 36501|--sync /src /dst --keep-versions 7d|"
        "--export-presets p.dat --keep-versions 7|--compare '' /dst|--sync --merge /src /dst|"
        "/D|/A|/A ''|--export-presets|--export-presets ''|--export-presets p.dat --yes|"
        "--import-presets p.dat extra|--import-presets p.dat --exclude x|"
        "--import-presets p.dat --sync /s /d|--export-presets a.dat --import-presets b.dat");
    for (std::string row; std::getline(rows, row, '|');) {
        const std::size_t arrow = row.find('>');
        EXPECT_EQ(Parse(row.substr(0, arrow)),
                  arrow == std::string::npos ? "error" : row.substr(arrow + 1))
            << row;
    }
}

// Without a terminal every question has its fixed answer (after Ctrl-C, "really stop?" stands
// as Yes); on one, the typed letter answers and a closed input cancels.
TEST(ConsoleUiTest, AnswersWithoutATerminalAndAsksOnOne) {
    ConsoleEventLoop loop;
    const auto answer = [&](int style, bool interactive, bool yes, const std::string& typed,
                            const std::string& text = "text of the box") {
        std::istringstream in(typed);
        std::ostringstream err;
        ConsoleUi ui(loop, in, err, ConsoleAnswers{interactive, yes, false});
        const int answered = ui.DoMessageBox(text, style);
        EXPECT_THAT(err.str(), StartsWith(text + "\n"));
        return answered;
    };
    EXPECT_EQ(answer(kMbOk, false, false, ""), kIdOk);
    EXPECT_EQ(answer(kMbYesNo, false, false, ""), kIdNo);
    EXPECT_EQ(answer(kMbYesNo, false, true, ""), kIdYes);
    EXPECT_EQ(answer(kMbAbortRetryIgnore, false, false, ""), kIdIgnore);
    EXPECT_EQ(answer(kMbRetryCancel, false, false, ""), kIdCancel);
    EXPECT_EQ(answer(kMbYesNo, false, false, "", kReallyStopQuestion), kIdYes);
    EXPECT_EQ(answer(kMbYesNo, true, false, "what\nY\n"), kIdYes);
    EXPECT_EQ(answer(kMbAbortRetryIgnore, true, false, " r\n"), kIdRetry);
    EXPECT_EQ(answer(kMbAbortRetryIgnore, true, false, "a\n"), kIdAbort);
    EXPECT_EQ(answer(kMbRetryCancel, true, false, ""), kIdCancel);
}

// The list "/A" and the preset data file over a store of presets and lists.
class ConsolePresetTest : public ::testing::Test {
protected:
    // Runs the list "/A" over the store: the exit status, standard error in err_.
    int RunList(std::vector<std::int8_t> presets, int suppressDeletion = 0,
                std::string commitProblem = "") {
        std::istringstream in;
        err_.str("");
        return RunPresetList(
            AutoRunCommand{suppressDeletion, 1, std::move(presets)}, store_,
            [&commitProblem] { return commitProblem; }, in, err_, ConsoleAnswers{});
    }
    void Store() {
        SaveSettings(table_, store_);
        lists_.Save(store_);
    }
    test::TestFolder dir_;
    PresetTable table_;
    ExclusionList lists_;
    MemorySettingsStore store_;
    std::ostringstream out_, err_;
};

TEST_F(ConsolePresetTest, ListRunsTheListedPresetsMergingWhereSetAndKeepsTheLastAsCurrent) {
    test::MakeTree(dir_,
                   "s5/sub/a.txt=a d5/extra.txt=x s7/b.txt=b s7/skip.tmp=t d7/keep.txt=k "
                   "s9/only-source.txt=s d9/only-target.txt=t");
    table_.presets[1].sourceFolder = dir_ / "s5";  // no target folder: passed over
    test::SetTestPreset(table_, dir_, 5);
    test::SetTestPreset(table_, dir_, 7, 0, 1);
    test::SetTestPreset(table_, dir_, 9, 1);
    table_.currentPreset = 2;
    lists_.AddExtension("TMP");
    Store();
    EXPECT_EQ(RunList({2, 5, 0, 31, 9, 7}, 1), 0) << err_.str();
    EXPECT_EQ(dir_.read("d5/sub/a.txt") + dir_.read("d5/extra.txt"), "ax");  // /D: no deletion
    EXPECT_EQ(dir_.read("d7/b.txt") + dir_.read("d7/skip.tmp"), "b");  // the stored list excludes
    EXPECT_EQ(dir_.read("s9/only-target.txt") + dir_.read("d9/only-source.txt"), "ts");  // merged
    EXPECT_THAT(dir_.readLog(),
                AllOf(HasSubstr(": OptionD=ON OptionA=6 menbers=2,5,0,31,9,7\n"),
                      HasSubstr("  Mirova Preset 5 Start.\n"), Not(HasSubstr("Preset 2 Start.")),
                      HasSubstr("  Mirova Preset 7 Done.\n"),
                      HasSubstr("Preset 0: no such preset, skipped.\n"),
                      HasSubstr("Preset 31: no such preset, skipped.\n")));
    PresetTable after;
    LoadSettings(after, store_);
    EXPECT_EQ(after.currentPreset, 6);  // the last preset selected
    EXPECT_EQ(after.presets, table_.presets);
}

TEST_F(ConsolePresetTest, ADeclinedQuestionFailsTheListButAMissingSourceStopsIt) {
    // A source older than its target copy is always asked about; without a terminal: No.
    test::MakeTree(dir_, "s1/a.txt=older d1/a.txt=newer@1700000100 s3/b.txt=b d3/");
    for (const int number : {1, 2, 3}) {
        test::SetTestPreset(table_, dir_, number);  // s2 does not exist
    }
    table_.currentPreset = 5;
    Store();
    EXPECT_EQ(RunList({1, 2, 3}), 1);
    EXPECT_THAT(err_.str(), AllOf(HasSubstr("本当に同期させてよろしいですか？\n-> No"),
                                  HasSubstr("ｿｰｽﾌｫﾙﾀﾞ " + (dir_ / "s2") + " が存在しません。"),
                                  HasSubstr("stops at preset 2")));
    EXPECT_EQ(dir_.read("d1/a.txt") + dir_.read("d3/b.txt"), "newer");
    EXPECT_EQ(store_.ReadInt("Settings", "PRESETNO", -1), 1);  // saved all the same
    // Nothing to run is done, but a settings file that cannot be written is not.
    EXPECT_EQ(RunList({4, 5}) + RunList({}), 0);
    EXPECT_EQ(RunList({4}, 0, "settings not written"), 1);
    EXPECT_THAT(err_.str(), HasSubstr("settings not written\n"));
}

TEST_F(ConsolePresetTest, ImportChangesNothingUnlessTheFileIsGoodAndTheAnswerIsYes) {
    table_.presets[0].caption = "kept";
    Store();
    MemorySettingsStore before = store_;
    const std::string good = EncodePresetData(PresetArray{}, ExclusionList{});
    dir_.createFile("Preset.dat", good);
    dir_.createFile("cut.dat", good.substr(0, good.size() / 2));
    test::MakeTree(dir_, "other.dat=certainly-no-preset-data folder.dat/");
    // The file, the answer, what standard error holds ("" for nothing), the commit's problem.
    const struct {
        std::string file;
        int answer;
        std::string message, commitProblem = "";
    } rows[] = {{"Preset.dat", kIdNo, ""},
                {"folder.dat", kIdYes, dir_ / "folder.dat" + "がオープンできません。"},
                {"other.dat", kIdYes, "ﾌﾟﾘｾｯﾄﾃﾞｰﾀではありません。\n"},
                {"cut.dat", kIdYes, dir_ / "cut.dat" + "は壊れたﾌﾟﾘｾｯﾄﾃﾞｰﾀです（"},
                {"Preset.dat", kIdYes, "cannot be written", "cannot be written"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        store_ = before;
        err_.str("");
        test::ScriptedMessages boxes;
        boxes.Answer(row.answer);
        const auto commit = [&row] { return row.commitProblem; };
        EXPECT_EQ(ImportPresetData(dir_ / row.file, store_, boxes, commit, out_, err_), 1);
        // Only a file that can be loaded is asked about.
        EXPECT_EQ(boxes.requests().size(), row.file == "Preset.dat" ? 1u : 0u);
        EXPECT_EQ(out_.str(), "");
        EXPECT_THAT(err_.str(), HasSubstr(row.message));
        EXPECT_EQ(err_.str().empty(), row.message.empty());
        // Nothing changes unless the import was carried out and only its commit failed.
        EXPECT_EQ(store_.section("Settings") == before.section("Settings"),
                  row.commitProblem.empty());
    }
}

TEST_F(ConsolePresetTest, ExportReplacesWholeOrNotAtAll) {
    table_.presets[12] = Preset{"/a", "/b", "毎晩\n二行目", 1, 0};
    lists_.AddName("/cache/");
    lists_.AddExtension("tmp");
    Store();
    dir_.createFile("out/Preset.dat", "old content");
    ASSERT_EQ(::chmod((dir_ / "out/Preset.dat").c_str(), 0640), 0);
    ASSERT_EQ(ExportPresetData(dir_ / "out/Preset.dat", store_, out_, err_), 0) << err_.str();
    EXPECT_EQ(dir_.read("out/Preset.dat"), EncodePresetData(table_.presets, lists_));
    // A bare file name is written in the current folder.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_ / "out");
    EXPECT_EQ(ExportPresetData("Preset.dat", store_, out_, err_), 0) << err_.str();
    std::filesystem::current_path(previous);
    // A folder in the way, and a folder that does not exist: nothing is left behind.
    dir_.createFolder("out/taken.dat");
    for (const std::string& file : {dir_ / "out/taken.dat", dir_ / "nowhere/Preset.dat"}) {
        err_.str("");
        EXPECT_EQ(ExportPresetData(file, store_, out_, err_), 1);
        EXPECT_THAT(err_.str(), HasSubstr(file + "を作成できません。"));
    }
    EXPECT_EQ(out_.str(), "保存終了\n保存終了\n");
    const auto out = test::SnapshotTree(dir_ / "out");
    EXPECT_EQ(out.size(), 2u);                    // Preset.dat and taken.dat
    EXPECT_EQ(out.at("Preset.dat").mode, 0640u);  // the replaced file's permissions stay
}

}  // namespace
}  // namespace mirova
