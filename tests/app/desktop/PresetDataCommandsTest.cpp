// The main window's menu commands for the shared data: the preset data file (save and load, with
// the file dialogs scripted) and the exclusion list editor.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>

#include "GuiTesting.h"
#include "app/desktop/PresetDataCommands.h"
#include "settings/ExclusionList.h"
#include "settings/PresetDataFile.h"
#include "ui/BitmapButton.h"
#include "ui/CJlistDlg.h"

namespace mirova {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const std::string kQuestion =
    "ﾌﾟﾘｾｯﾄﾃﾞｰﾀを読込むと、現在のﾌﾟﾘｾｯﾄﾃﾞｰﾀ全てが上書きされます。\nﾌﾟﾘｾｯﾄﾃﾞｰﾀを読込みますか？";

struct FileDialogRequest {
    PresetFileDialog kind;
    std::string title;
};

class PresetDataCommandsTest : public test::MainWindowTest {
protected:
    PresetDataCommandsTest() {
        // Each file dialog takes the next scripted path; without one it is cancelled.
        SetPresetFileChooserForTesting(
            [this](PresetFileDialog kind, const QString& title, QWidget*) {
                fileDialogs_.push_back({kind, title.toStdString()});
                if (chosen_.empty()) {
                    return QString();
                }
                const QString path = QString::fromStdString(chosen_.front());
                chosen_.pop_front();
                return path;
            });
        table_.presets[0] = Preset{"/data/書類", "/backup/書類", "書類\r\n毎日", 0, 1};
        table_.presets[4] = Preset{"/data/写真", "/backup/写真", "写真", 1, 1};
        table_.presets[29] = Preset{"/srv/a", "/srv/b", "", 0, 0};
        table_.currentPreset = 4;
        ExclusionList lists;
        lists.AddName("~$");
        lists.AddName("/.git/");
        lists.AddExtension("tmp");
        lists.Save(store_);
    }
    ~PresetDataCommandsTest() override { SetPresetFileChooserForTesting(nullptr); }

    void Trigger(const QString& text) {
        QAction* item = MenuItem(text);
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(item->isEnabled());
        item->trigger();
    }
    void Save() { Trigger(QStringLiteral("プリセットデータ保存(&S)")); }
    void Load() { Trigger(QStringLiteral("プリセットデータ読込み(&R)")); }

    // The presets and lists as the window holds them now.
    void ExpectUnchanged(CMirovaDlg& dialog) {
        EXPECT_EQ(dialog.table().presets, table_.presets);
        EXPECT_THAT(dialog.exclusions().names(), ElementsAre("~$", "/.git/"));
        EXPECT_THAT(dialog.exclusions().extensions(), ElementsAre("tmp"));
    }

    std::vector<FileDialogRequest> fileDialogs_;
    std::deque<std::string> chosen_;
};

TEST_F(PresetDataCommandsTest, SaveThenLoadRestoresEverythingAndKeepsTheCurrentPreset) {
    CMirovaDlg& dialog = Open();
    const std::string file = dir_ / "Preset.dat";
    dir_.createFile("Preset.dat", "an older file");
    chosen_ = {file};
    Save();
    ASSERT_EQ(fileDialogs_.size(), 1u);
    EXPECT_EQ(fileDialogs_[0].kind, PresetFileDialog::Save);
    EXPECT_EQ(fileDialogs_[0].title, "ﾌﾟﾘｾｯﾄﾃﾞｰﾀ保存");
    EXPECT_THAT(BoxTexts(), ElementsAre("保存終了"));
    EXPECT_EQ(boxes_[0].type, kMbOk);
    ExclusionList stored;
    stored.Load(store_);
    EXPECT_EQ(test::ReadFileText(file), EncodePresetData(table_.presets, stored));

    // Everything changes, and another preset is shown; the load brings the saved data back
    // and shows the preset that is current then.
    dialog.table().presets[4] = Preset{"/x", "/y", "other", 0, 0};
    dialog.table().presets[0].caption = "changed";
    dialog.exclusions().Clear();
    dialog.exclusions().AddExtension("bak");
    QTest::mouseClick(dialog.presetButton(4), Qt::LeftButton);
    EXPECT_FALSE(dialog.compareButton()->isHidden());

    boxes_.clear();
    answers_ = {kIdYes};
    chosen_ = {file};
    Load();
    EXPECT_THAT(BoxTexts(), ElementsAre(kQuestion, "読込み終了"));
    EXPECT_EQ(boxes_[0].type, kMbYesNo);
    ASSERT_EQ(fileDialogs_.size(), 2u);
    EXPECT_EQ(fileDialogs_[1].kind, PresetFileDialog::Open);
    EXPECT_EQ(fileDialogs_[1].title, "ﾌﾟﾘｾｯﾄﾃﾞｰﾀ読込み");
    ExpectUnchanged(dialog);
    EXPECT_EQ(dialog.table().currentPreset, 4);
    EXPECT_EQ(dialog.captionField()->toPlainText(), QStringLiteral("写真"));
    EXPECT_EQ(dialog.sourceField()->text(), QStringLiteral("/data/写真"));
    EXPECT_TRUE(dialog.mergeModeCheck()->isChecked());
    EXPECT_TRUE(dialog.useExclusionsCheck()->isChecked());
    EXPECT_TRUE(dialog.compareButton()->isHidden());

    // The load reaches the store when the window closes, as every change does.
    dialog.closeButton()->click();
    ExclusionList reread;
    reread.Load(store_);
    EXPECT_THAT(reread.names(), ElementsAre("~$", "/.git/"));
}

TEST_F(PresetDataCommandsTest, DeclinedOrCancelledCommandsAndFilesThatCannotBeTakenChangeNothing) {
    const std::string whole = EncodePresetData(PresetArray{}, ExclusionList{});
    std::string newer = whole;
    newer[25] = '3';  // "...Ver1.3"
    dir_.createFile("damaged.dat", whole.substr(0, whole.size() - 3));
    dir_.createFile("newer.dat", newer);
    dir_.createFolder("folder.dat");
    struct Case {
        std::string file;
        std::string message;
    };
    const Case cases[] = {
        {"damaged.dat", dir_ / "damaged.dat" + "は壊れたﾌﾟﾘｾｯﾄﾃﾞｰﾀです"},
        {"newer.dat", "ﾌﾟﾘｾｯﾄﾃﾞｰﾀではありません。"},
        {"missing.dat", dir_ / "missing.dat" + "がオープンできません。"},
        {"folder.dat", dir_ / "folder.dat" + "がオープンできません。"},
    };
    CMirovaDlg& dialog = Open();
    // No at the question: no file dialog. Then cancelled file dialogs.
    Load();
    EXPECT_THAT(BoxTexts(), ElementsAre(kQuestion));
    EXPECT_THAT(fileDialogs_, IsEmpty());
    answers_ = {kIdYes};
    Load();
    Save();
    EXPECT_EQ(fileDialogs_.size(), 2u);
    EXPECT_THAT(BoxTexts(), ElementsAre(kQuestion, kQuestion));
    ExpectUnchanged(dialog);

    for (const Case& each : cases) {
        SCOPED_TRACE(each.file);
        boxes_.clear();
        answers_ = {kIdYes};
        chosen_ = {dir_ / each.file};
        Load();
        ASSERT_EQ(boxes_.size(), 2u);
        EXPECT_THAT(boxes_[1].text, HasSubstr(each.message));
        EXPECT_EQ(boxes_[1].type, kMbOk);
        ExpectUnchanged(dialog);
    }
}

TEST_F(PresetDataCommandsTest, TheRealFileDialogsCarryTheFixedSettings) {
    SetPresetFileChooserForTesting(nullptr);
    CMirovaDlg& dialog = Open();
    struct Seen {
        QString title;
        QStringList filters;
        QString suffix;
        QStringList selected;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        bool confirmsOverwrite = false;
    };
    // The dialogs are modal: each is read and answered from the loop it runs.
    const auto answer = [](Seen& seen, const std::function<void(QFileDialog&)>& finish) {
        QTimer::singleShot(0, [&seen, finish] {
            auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(files, nullptr);
            seen = {files->windowTitle(),   files->nameFilters(),
                    files->defaultSuffix(), files->selectedFiles(),
                    files->acceptMode(),    !files->testOption(QFileDialog::DontConfirmOverwrite)};
            finish(*files);
        });
    };

    // The typed name gets the default extension.
    Seen save;
    answer(save, [&](QFileDialog& files) {
        files.selectFile(QString::fromStdString(dir_ / "typed"));
        static_cast<QDialog&>(files).accept();  // public in QDialog
    });
    Save();
    EXPECT_EQ(save.title, QStringLiteral("ﾌﾟﾘｾｯﾄﾃﾞｰﾀ保存"));
    EXPECT_EQ(save.filters, (QStringList{QStringLiteral("ﾌﾟﾘｾｯﾄﾃﾞｰﾀ (*.dat)"),
                                         QStringLiteral("全てのﾌｧｲﾙ (*)")}));
    EXPECT_EQ(save.suffix, QStringLiteral("dat"));
    ASSERT_EQ(save.selected.size(), 1);
    EXPECT_TRUE(save.selected[0].endsWith(QStringLiteral("/Preset.dat")));
    EXPECT_EQ(save.mode, QFileDialog::AcceptSave);
    EXPECT_TRUE(save.confirmsOverwrite);
    EXPECT_THAT(BoxTexts(), ElementsAre("保存終了"));
    EXPECT_FALSE(test::ReadFileText(dir_ / "typed.dat").empty());

    Seen load;
    answer(load, [](QFileDialog& files) { files.reject(); });
    answers_ = {kIdYes};
    Load();
    EXPECT_EQ(load.title, QStringLiteral("ﾌﾟﾘｾｯﾄﾃﾞｰﾀ読込み"));
    EXPECT_EQ(load.filters, save.filters);
    EXPECT_EQ(load.mode, QFileDialog::AcceptOpen);
    EXPECT_THAT(BoxTexts(), ElementsAre("保存終了", kQuestion));
    ExpectUnchanged(dialog);
}

TEST_F(PresetDataCommandsTest, ASaveThatFailsSaysSoAndLeavesNothingBehind) {
    Open();
    chosen_ = {dir_ / "no such folder/Preset.dat"};
    Save();
    EXPECT_THAT(BoxTexts(), ElementsAre(dir_ / "no such folder/Preset.dat" + "を作成できません。"));

    // The data is written, but cannot take the place of a folder: the temporary file goes.
    dir_.createFolder("taken.dat");
    chosen_ = {dir_ / "taken.dat"};
    Save();
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text, dir_ / "taken.dat" + "を作成できません。");
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "taken.dat"));
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
        EXPECT_THAT(entry.path().filename().string(), Not(HasSubstr("mirova-preset-data")));
    }
}

TEST_F(PresetDataCommandsTest, ARunAfterEditingTheExclusionsUsesTheNewLists) {
    table_.presets[0] = Preset{dir_ / "s", dir_ / "d", "", 0, 1};
    table_.currentPreset = 0;
    dir_.createFile("s/a.txt", "alpha", 1'600'000'000);
    dir_.createFile("s/skip.log", "noise", 1'600'000'000);
    dir_.createFile("d/a.txt", "alpha", 1'600'000'000);
    CMirovaDlg& dialog = Open();

    dialog.compareButton()->click();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_THAT(boxes_[0].text, HasSubstr("ﾀｰｹﾞｯﾄに 1 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ"));

    // The editor is modal: it is driven from the loop it runs. Its rows start as the lists.
    std::vector<std::string> shownNames;
    bool added = false;
    QTimer::singleShot(0, [&] {
        auto* editor = qobject_cast<ui::CJlistDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(editor, nullptr);
        for (int row = 0; row < editor->nameView()->topLevelItemCount(); ++row) {
            shownNames.push_back(editor->nameView()->topLevelItem(row)->text(0).toStdString());
        }
        QTreeWidget* extensions = editor->extensionView();
        QTest::mouseDClick(extensions->viewport(), Qt::LeftButton, Qt::NoModifier,
                           QPoint(20, extensions->viewport()->height() - 4));
        auto* field = qobject_cast<QLineEdit*>(extensions->indexWidget(extensions->currentIndex()));
        ASSERT_NE(field, nullptr);
        QTest::keyClicks(field, QStringLiteral("log"));
        QTest::keyClick(field, Qt::Key_Return);
        added = QTest::qWaitFor([&] {
            return extensions->topLevelItemCount() == 2 &&
                   extensions->topLevelItem(1)->text(0) == QStringLiteral("log");
        });
        editor->okButton()->click();
    });
    Trigger(QStringLiteral("除外リストの編集"));
    EXPECT_TRUE(added);
    EXPECT_THAT(shownNames, ElementsAre("~$", "/.git/"));
    EXPECT_THAT(dialog.exclusions().extensions(), ElementsAre("tmp", "log"));

    dialog.compareButton()->click();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text, "ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。");
}

}  // namespace
}  // namespace mirova
