#pragma once

#include <QDialog>
#include <QPointer>
#include <array>
#include <memory>

#include "engine/Run.h"
#include "settings/ExclusionList.h"
#include "settings/Preset.h"

class QAbstractButton;
class QAction;
class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QMenuBar;
class QPlainTextEdit;

namespace mirova {

class CMirovaApp;
class GuiRunUi;
class SettingsStore;

namespace ui {
class BitmapButton;
class CJlistDlg;
class CResultsDlg;
}  // namespace ui

// The main window: shows the current preset of the 30, starts compare and synchronisation runs
// for it, carries the two run options, and runs the command-line list by itself. The presets,
// the current preset and the window position are loaded from the store when it is made and
// saved whenever it closes; the exclusion lists likewise.
class CMirovaDlg : public QDialog, public RunHost {
    Q_OBJECT
public:
    CMirovaDlg(CMirovaApp& app, SettingsStore& store, QWidget* parent = nullptr);
    ~CMirovaDlg() override;

    // RunHost
    RunPreset PresetAt(int index) const override;
    void SelectPreset(int index) override;
    void OnOK() override;
    void EndDialog(int result) override;
    void RunEnded(RunOutcome outcome) override;

    void OnCompare();
    void OnNoStopOnError();
    void OpenScheduler();
    // The editing commands of the menus.
    void EditPresets();     // "編集モード(&E)": the preset editor
    void EditExclusions();  // "除外リストの編集": the exclusion list editor
    void SavePresetData();  // "プリセットデータ保存(&S)"
    void LoadPresetData();  // "プリセットデータ読込み(&R)"
    void ShowAbout();
    void ShowResults();  // "比較結果": the latest run's change record as a table
    void OpenRunLog();   // "ログを開く"
    // "旧バージョンを保存する(&K)...": on asks for the days, off keeps nothing from then on.
    void ToggleKeepVersions();
    QAction* keepVersionsAction() const { return keepVersions_; }
    ui::CResultsDlg* resultsWindow() const { return results_; }

    PresetTable& table() { return table_; }
    ExclusionList& exclusions() { return exclusions_; }
    RunController& run() { return *run_; }
    bool runInProgress() const;

    // Controls, for tests and screenshots.
    QAbstractButton* presetButton(int index) const { return presetButtons_[index]; }
    ui::BitmapButton* okButton() const { return okButton_; }
    ui::BitmapButton* compareButton() const { return compareButton_; }
    ui::BitmapButton* closeButton() const { return closeButton_; }
    QCheckBox* noStopOnErrorCheck() const { return noStopOnError_; }
    QCheckBox* suppressDeletionCheck() const { return suppressDeletion_; }
    QPlainTextEdit* captionField() const { return caption_; }
    QLineEdit* sourceField() const { return source_; }
    QLineEdit* targetField() const { return target_; }
    QCheckBox* mergeModeCheck() const { return mergeMode_; }
    QCheckBox* useExclusionsCheck() const { return useExclusions_; }
    QMenuBar* menuBar() const { return menuBar_; }

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;  // every way of closing passes here: saves the settings
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void StartRun(RunKind kind);
    void SetRunning(bool running);
    void SaveSettings();
    // Asks for the days; false when the user cancelled.
    bool AskKeepVersionDays(int& days);

    CMirovaApp& app_;
    SettingsStore& store_;
    PresetTable table_;
    ExclusionList exclusions_;
    std::unique_ptr<GuiRunUi> runUi_;
    std::unique_ptr<RunController> run_;
    bool saved_ = false;

    QMenuBar* menuBar_ = nullptr;
    std::array<QAbstractButton*, kPresetCount> presetButtons_{};
    QButtonGroup* presetGroup_ = nullptr;
    QPlainTextEdit* caption_ = nullptr;
    QLineEdit* source_ = nullptr;
    QLineEdit* target_ = nullptr;
    QCheckBox* mergeMode_ = nullptr;
    QCheckBox* useExclusions_ = nullptr;
    QCheckBox* noStopOnError_ = nullptr;
    QCheckBox* suppressDeletion_ = nullptr;
    ui::BitmapButton* okButton_ = nullptr;
    ui::BitmapButton* closeButton_ = nullptr;
    QAction* exitAction_ = nullptr;
    ui::BitmapButton* compareButton_ = nullptr;
    QAction* keepVersions_ = nullptr;
    std::vector<QAction*> editingActions_;  // disabled while a run is in progress
    // Edits exclusions_ in place; one editor from start to exit, a child of this window.
    ui::CJlistDlg* exclusionEditor_ = nullptr;
    ui::CResultsDlg* results_ = nullptr;  // made when first asked for, a child of this window
};

}  // namespace mirova
