// The desktop program driven offscreen.
#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <deque>
#include <thread>

#include "AppTesting.h"
#include "app/common/PresetDataFileIo.h"
#include "app/desktop/CMirovaApp.h"
#include "app/desktop/CMirovaDlg.h"
#include "app/desktop/GuiRunUi.h"
#include "app/desktop/KeepVersionsDlg.h"
#include "app/desktop/PresetDataCommands.h"
#include "app/desktop/ScheduleDlg.h"
#include "settings/PresetDataFile.h"
#include "settings/SettingsStore.h"
#include "ui/BitmapButton.h"
#include "ui/CJlistDlg.h"
#include "ui/CMessageBox.h"
#include "ui/CResultsDlg.h"

namespace mirova {
namespace {

using namespace ::testing;

// The next scripted answer, or `otherwise` once the script has run out.
template <typename T>
T Next(std::deque<T>& script, T otherwise) {
    if (!script.empty()) {
        otherwise = script.front();
        script.pop_front();
    }
    return otherwise;
}

// Runs `step` on the modal window that the next call opens, from the loop it runs.
template <typename Window>
void OnModal(std::function<void(Window&)> step) {
    QTimer::singleShot(0, [step] {
        auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr);
        step(*window);
    });
}

// The main window over presets and lists. Boxes are recorded and answered from answers_ (else No),
// file dialogs take the next of chosen_ (else cancelled); onBox_ acts while a box is up, mid-run.
class MainWindowTest : public Test {
protected:
    MainWindowTest() {
        app_.SetMessageBoxHookForTesting([this](const QString& prompt, int type) {
            boxes_.push_back(prompt.toStdString());
            types_.push_back(type);
            onBox_(type);
            return Next(answers_, type == kMbYesNo ? kIdNo : kIdOk);
        });
        SetPresetFileChooserForTesting(
            [this](PresetFileDialog kind, const QString& title, QWidget*) {
                fileDialogs_.push_back(std::to_string(int(kind)) + " " + title.toStdString());
                return QString::fromStdString(Next(chosen_, std::string()));
            });
        table_.presets[0] = Preset{"/data/書類", "/backup/書類", "書類\r\n毎日", 0, 1};
        table_.presets[4] = Preset{"/data/写真", "/backup/写真", "写真", 1, 1};
        table_.presets[29] = Preset{"/srv/a", "/srv/b", "", 0, 0};
        table_.currentPreset = 4;
        lists_.AddName("~$");
        lists_.AddName("/.git/");
        lists_.AddExtension("tmp");
        lists_.Save(store_);
    }
    ~MainWindowTest() override { SetPresetFileChooserForTesting(nullptr); }
    CMirovaDlg& Open() {
        SaveSettings(table_, store_);
        dialog_ = std::make_unique<CMirovaDlg>(app_, store_);
        dialog_->show();
        return *dialog_;
    }
    // The presets and lists as the window holds them now are those of the start.
    void ExpectUnchanged(CMirovaDlg& dialog) {
        EXPECT_EQ(EncodePresetData(dialog.table().presets, dialog.exclusions()),
                  EncodePresetData(table_.presets, lists_));
    }
    // The window shows preset `index` of its table, compare hidden for a merge.
    void ExpectShown(CMirovaDlg& dialog, int index, const QString& caption) {
        const Preset& preset = dialog.table().presets[static_cast<std::size_t>(index)];
        EXPECT_EQ(dialog.table().currentPreset, index);
        EXPECT_TRUE(dialog.presetButton(index)->isChecked());
        EXPECT_EQ(dialog.captionField()->toPlainText(), caption);
        EXPECT_EQ(dialog.sourceField()->text().toStdString(), preset.sourceFolder);
        EXPECT_EQ(dialog.targetField()->text().toStdString(), preset.targetFolder);
        EXPECT_EQ(dialog.mergeModeCheck()->isChecked(), preset.mergeMode == 1);
        EXPECT_EQ(dialog.useExclusionsCheck()->isChecked(), preset.useExclusions == 1);
        EXPECT_EQ(dialog.compareButton()->isHidden(), preset.mergeMode == 1);
    }
    void RunBy(QAbstractButton* button) {
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog_->runInProgress(); }, 20000));
    }
    QAction* MenuItem(const QString& text) const {
        const auto items = dialog_->menuBar()->findChildren<QAction*>();
        const auto found = std::ranges::find(items, text, &QAction::text);
        return found != items.end() ? *found : nullptr;
    }
    void Trigger(const QString& text) {
        QAction* item = MenuItem(text);
        ASSERT_TRUE(item != nullptr && item->isEnabled()) << text.toStdString();
        item->trigger();
    }
    void Save() { Trigger(QStringLiteral("プリセットデータ保存(&S)")); }
    void Load() { Trigger(QStringLiteral("プリセットデータ読込み(&R)")); }
    test::TestFolder dir_;
    CMirovaApp app_;
    PresetTable table_;
    ExclusionList lists_;
    MemorySettingsStore store_;
    std::vector<std::string> boxes_;  // the texts of the boxes shown
    std::vector<int> types_;          // and their types
    std::deque<int> answers_;
    std::function<void(int type)> onBox_ = [](int) {};
    std::vector<std::string> fileDialogs_;  // "<kind> <title>"
    std::deque<std::string> chosen_;
    std::unique_ptr<CMirovaDlg> dialog_;  // goes first: it saves to the store as it closes
};

// Run options reach the run state at once; Return syncs, the compare button compares; a run locks
// the controls; then the results window shows what it did and edited lists hold for the next run.
TEST_F(MainWindowTest, RunOptionsReachTheRunStateAtOnceAndARunLocksTheControls) {
    app_.runState().suppressDeletion = 1;  // as "/D" leaves it
    table_.currentPreset = 0;
    test::SetTestPreset(table_, dir_, 1);  // d1 is missing: a synchronisation offers to create it
    test::SetTestPreset(table_, dir_, 2, 0, 1);
    test::MakeTree(dir_, "s1/ s2/a.txt=alpha s2/sub/b.txt=beta d2/stale.txt=old@1500000000");
    CMirovaDlg& dialog = Open();
    EXPECT_TRUE(dialog.suppressDeletionCheck()->isChecked());
    for (const int on : {1, 0}) {
        QTest::mouseClick(dialog.noStopOnErrorCheck(), Qt::LeftButton);
        EXPECT_EQ(app_.runState().noStopOnError.load(), on);
    }
    QTest::mouseClick(dialog.suppressDeletionCheck(), Qt::LeftButton);  // taken as a run starts
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_THAT(boxes_,
                ElementsAre("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + (dir_ / "d1") + " は存在しません。作成しますか？"));
    EXPECT_EQ(app_.runState().suppressDeletion, 0);
    // The compare button starts the other kind: a missing target is only reported.
    QTest::mouseClick(dialog.compareButton(), Qt::LeftButton);
    EXPECT_EQ(boxes_.back(), "ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + (dir_ / "d1") + " が存在しません。");
    EXPECT_THAT(types_, ElementsAre(kMbYesNo, kMbOk));
    EXPECT_THAT(dir_.readLog(), AllOf(HasSubstr("OptionD=OFF"), HasSubstr("Mirova Preset 1 Start."),
                                      HasSubstr("Compare Preset 1 Start.")));
    // At the question: presets, OK, compare, close and exit disabled, saving enabled, a close
    // request turned down; the option ticked then is taken: no box ends the run.
    QTest::mouseClick(dialog.presetButton(1), Qt::LeftButton);
    std::vector<bool> during;
    onBox_ = [&](int type) {
        if (type == kMbYesNo) {
            dialog.noStopOnErrorCheck()->click();
            during.assign({dialog.presetButton(0)->isEnabled(), dialog.okButton()->isEnabled(),
                           dialog.compareButton()->isEnabled(), dialog.closeButton()->isEnabled(),
                           MenuItem(QStringLiteral("アプリケーションの終了"))->isEnabled(),
                           MenuItem(QStringLiteral("プリセットデータ保存(&S)"))->isEnabled()});
            dialog.closeButton()->click();
            dialog.close();
            during.push_back(dialog.isVisible());
        }
    };
    answers_ = {kIdYes};
    RunBy(dialog.okButton());
    EXPECT_THAT(boxes_.back(), HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？"));
    EXPECT_EQ(app_.runState().noStopOnError.load(), 1);
    EXPECT_THAT(dir_.readLog(), HasSubstr("ｱｯﾌﾟﾃﾞｰﾄ完了"));
    EXPECT_EQ(
        test::DescribeDifferences(test::SnapshotTree(dir_ / "s2"), test::SnapshotTree(dir_ / "d2")),
        "");
    EXPECT_THAT(during, ElementsAre(false, false, false, false, false, true, true));
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(dialog.presetButton(0)->isEnabled() && dialog.okButton()->isEnabled() &&
                dialog.compareButton()->isEnabled() && dialog.closeButton()->isEnabled());
    test::MakeTree(dir_, "s2/skip.log=noise");
    OnModal<ui::CJlistDlg>([&](ui::CJlistDlg& editor) {
        EXPECT_EQ(editor.nameView()->topLevelItemCount(), 2);  // it starts with the lists
        new QTreeWidgetItem(editor.extensionView(), {QStringLiteral("log")});
        editor.okButton()->click();
    });
    Trigger(QStringLiteral("除外リストの編集"));
    EXPECT_THAT(dialog.exclusions().extensions(), ElementsAre("tmp", "log"));
    RunBy(dialog.compareButton());
    EXPECT_THAT(dir_.readLog(), HasSubstr("ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。"));
    Trigger(QStringLiteral("比較結果(&R)"));
    ASSERT_NE(dialog.resultsWindow(), nullptr);
    EXPECT_EQ(dialog.resultsWindow()->recordPath(), dialog.run().changeRecordPath());
}

TEST_F(MainWindowTest, ScheduleKeepVersionsAndExitWorkFromTheMenusAndExitStoresTheWindow) {
    table_.currentPreset = 8;
    CMirovaDlg& dialog = Open();
    // The schedule window shows the entries of the current preset. Blanks, quotes, "%" (a line
    // break to cron, a placeholder to systemd) and "$" are quoted.
    const ScheduleEntries odd = MakeScheduleEntries(12, QStringLiteral("/opt/my apps/it's 100%$"));
    EXPECT_EQ(odd.crontabLine, QStringLiteral("0 2 * * * '/opt/my apps/it'\\''s 100\\%$' /A 12"));
    EXPECT_THAT(odd.serviceUnit.toStdString(),
                HasSubstr("\nExecStart=\"/opt/my apps/it's 100%%$$\" /A 12\n"));
    OnModal<ScheduleDlg>([](ScheduleDlg& schedule) {
        EXPECT_EQ(schedule.crontabField()->text(),
                  MakeScheduleEntries(9, QApplication::applicationFilePath()).crontabLine);
        schedule.accept();
    });
    Trigger(QStringLiteral("スケジュール(&S)"));
    // Keeping versions: on asks for the days (cancelled, it stays off), off asks nothing.
    QAction* keep = MenuItem(QStringLiteral("旧バージョンを保存する(&K)..."));
    ASSERT_TRUE(keep->isCheckable() && !keep->isChecked());
    for (const int days : {0, 45}) {
        OnModal<KeepVersionsDlg>([days](KeepVersionsDlg& ask) {
            EXPECT_EQ(ask.daysField()->value(), 30);
            ask.daysField()->setValue(days);
            days == 0 ? ask.cancelButton()->click() : ask.okButton()->click();
        });
        keep->trigger();
        EXPECT_EQ(keep->isChecked(), days > 0);
        EXPECT_EQ(dialog.table().keepVersions, days);
    }
    // Exit stores the preset and the place; the next start shows them.
    dialog.move(140, 90);
    QSignalSpy finished(&dialog, &QDialog::finished);
    Trigger(QStringLiteral("アプリケーションの終了"));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(store_.ReadInt("Settings", "KEEPVERSIONS", -1), 45);
    LoadSettings(table_, store_);  // as the window left them
    CMirovaDlg& again = Open();
    EXPECT_TRUE(again.presetButton(8)->isChecked());
    EXPECT_EQ(again.pos(), QPoint(140, 90));
}

// A preset button shows its preset; a load brings back what a save wrote and shows its preset;
// declined, cancelled or failing commands change nothing.
TEST_F(MainWindowTest, PresetButtonsShowTheirPresetAndOnlyAGoodLoadChangesThem) {
    CMirovaDlg& dialog = Open();
    ExpectShown(dialog, 4, QStringLiteral("写真"));
    QTest::mouseClick(dialog.presetButton(0), Qt::LeftButton);
    ExpectShown(dialog, 0, QStringLiteral("書類\n毎日"));
    const std::string file = dir_ / "Preset.dat";
    dir_.createFile("Preset.dat", "an older file");
    chosen_ = {file};
    Save();
    EXPECT_EQ(test::ReadFileText(file), EncodePresetData(table_.presets, lists_));
    // Everything changes, and another preset is shown.
    dialog.table().presets[4] = Preset{"/x", "/y", "other", 0, 0};
    dialog.table().presets[0].caption = "changed";
    dialog.exclusions().Clear();
    dialog.exclusions().AddExtension("bak");
    QTest::mouseClick(dialog.presetButton(4), Qt::LeftButton);
    ExpectShown(dialog, 4, QStringLiteral("other"));
    answers_ = {kIdYes};
    chosen_ = {file};
    Load();
    EXPECT_THAT(boxes_, ElementsAre("保存終了", kLoadPresetDataQuestion, "読込み終了"));
    EXPECT_THAT(types_, ElementsAre(kMbOk, kMbYesNo, kMbOk));
    EXPECT_THAT(fileDialogs_, ElementsAre("0 ﾌﾟﾘｾｯﾄﾃﾞｰﾀ保存", "1 ﾌﾟﾘｾｯﾄﾃﾞｰﾀ読込み"));
    ExpectUnchanged(dialog);
    ExpectShown(dialog, 4, QStringLiteral("写真"));
    // No at the question: no file dialog. Then cancelled file dialogs.
    Load();
    answers_ = {kIdYes};
    Load();
    Save();
    EXPECT_EQ(fileDialogs_.size(), 4u);
    EXPECT_THAT(boxes_, ElementsAre(_, _, _, kLoadPresetDataQuestion, kLoadPresetDataQuestion));
    const std::string whole = EncodePresetData(PresetArray{}, ExclusionList{});
    std::string newer = whole;
    newer[25] = '3';  // "...Ver1.3"
    dir_.createFile("damaged.dat", whole.substr(0, whole.size() - 3));
    dir_.createFile("newer.dat", newer);
    for (const auto& [name, message] : {std::pair{"damaged.dat", "は壊れたﾌﾟﾘｾｯﾄﾃﾞｰﾀです"},
                                        {"newer.dat", "ﾌﾟﾘｾｯﾄﾃﾞｰﾀではありません。"},
                                        {"missing.dat", "がオープンできません。"}}) {
        SCOPED_TRACE(name);
        answers_ = {kIdYes};
        chosen_ = {dir_ / name};
        Load();
        EXPECT_THAT(boxes_.back(), HasSubstr((name[0] == 'n' ? "" : dir_ / name) + message));
    }
    ExpectUnchanged(dialog);
    // A save that cannot create its file says so (what it leaves: the console's export test).
    dir_.createFolder("taken.dat");
    chosen_ = {dir_ / "taken.dat"};
    Save();
    EXPECT_EQ(boxes_.back(), dir_ / "taken.dat" + "を作成できません。");
    // The load reaches the store when the window closes, as every change does.
    dialog.closeButton()->click();
    EXPECT_EQ(store_.ReadText("JLIST", "JLIST-1", ""), "/.git/");
}

// Qt's own texts speak Japanese, and a second start in the process loads them only once.
TEST(DesktopStartTest, QtsTextsAreInJapaneseLoadedOnce) {
    ConfigureApplication();
    EXPECT_EQ(qApp->translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));
    ConfigureApplication();
    EXPECT_EQ(qApp->findChildren<QTranslator*>().size(), 1);
}

// Messages of a run: the own box for OK and Yes/No questions, the standard one for the others,
// over a main window that a progress window has disabled; the button pressed comes back.
TEST_F(MainWindowTest, BoxesGoToTheOwnBoxOrTheStandardOneAndReturnTheButton) {
    app_.SetMessageBoxHookForTesting(nullptr);
    QWidget mainWindow;  // disabled, as by a progress window during a file operation
    mainWindow.show();
    mainWindow.setEnabled(false);
    using B = QMessageBox;
    const int ari = B::Abort | B::Retry | B::Ignore, rc = B::Retry | B::Cancel;
    // Type, button pressed (own box: OK 0, Yes 1, No 2; standard one: the button, Esc 0), standard
    // buttons shown (0: the own box), answer. Style bits beyond the plain OK box leave the own box.
    const int rows[][4] = {{0, 0, 0, 1},          {4, 1, 0, 6},          {4, 2, 0, 7},
                           {2, B::Abort, ari, 3}, {2, B::Retry, ari, 4}, {2, 0, ari, 5},
                           {5, B::Retry, rc, 4},  {5, 0, rc, 2},         {0x30, B::Ok, B::Ok, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(Message() << "type " << row[0] << " answer " << row[3]);
        QString seen;
        OnModal<QDialog>([&](QDialog& dialog) {
            auto* own = qobject_cast<ui::CMessageBox*>(&dialog);
            auto* standard = qobject_cast<QMessageBox*>(&dialog);
            seen = QString::number(own != nullptr ? 0 : standard->standardButtons().toInt()) + " " +
                   dialog.windowTitle() + (dialog.isEnabled() ? " enabled " : " disabled ") +
                   (own != nullptr ? own->textLabel()->text() : standard->text());
            QAbstractButton* button =
                own == nullptr ? standard->button(B::StandardButton(row[1]))
                               : std::array<QAbstractButton*, 3>{own->okButton(), own->yesButton(),
                                                                 own->noButton()}[row[1]];
            button != nullptr ? button->click() : QTest::keyClick(&dialog, Qt::Key_Escape);
        });
        EXPECT_EQ(app_.DoMessageBox(QStringLiteral("フォルダ /a/b"), row[0]), row[3]);
        EXPECT_EQ(seen.toStdString(), std::to_string(row[2]) + " Mirova enabled フォルダ /a/b");
    }
}

TEST_F(MainWindowTest, AWorkersBoxAndPostedCallsRunOnTheGuiThreadWhileTheWorkerWaits) {
    GuiRunUi ui(app_, nullptr);
    const auto onGui = [] { return QThread::currentThread() == qApp->thread(); };
    std::atomic<bool> workerDone{false};
    std::vector<bool> shown;  // the worker done; on the GUI thread
    onBox_ = [&](int) { shown = {workerDone, onGui()}; };
    answers_ = {kIdYes};
    int answer = 0;
    std::thread worker([&] {
        answer = ui.DoMessageBox("続行しますか？", kMbYesNo);
        workerDone = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return workerDone.load(); }, 30000));
    worker.join();
    EXPECT_THAT(shown, ElementsAre(false, true));
    EXPECT_THAT(boxes_, ElementsAre("続行しますか？"));
    EXPECT_EQ(answer, kIdYes);
    // Posted calls run later, on the GUI thread, in order.
    std::vector<std::string> calls;
    const auto call = [&](std::string name) {
        return [&, name] { calls.push_back(name + (onGui() ? "" : "!")); };
    };
    ui.PostToRunThread(call("1"));
    EXPECT_TRUE(calls.empty());  // never inside the caller
    std::thread([&] { ui.PostToRunThread(call("2")); }).join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls.size() == 2; }, 30000));
    EXPECT_THAT(calls, ElementsAre("1", "2"));
}

}  // namespace
}  // namespace mirova
