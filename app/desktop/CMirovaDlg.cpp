#include "app/desktop/CMirovaDlg.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include "app/desktop/CMirovaApp.h"
#include "app/desktop/GuiRunUi.h"
#include "app/desktop/KeepVersionsDlg.h"
#include "app/desktop/ScheduleDlg.h"
#include "fileops/RunLog.h"
#include "ui/BitmapButton.h"
#include "ui/CJlistDlg.h"
#include "ui/CMessageBox.h"
#include "ui/CResultsDlg.h"
#include "ui/DialogParts.h"
#include "ui/Look.h"

namespace mirova {

namespace {

using ui::CaptionText;
using ui::FitToText;

// The template's client area in dialog units; the menu bar sits above it.
constexpr int kTemplateWidth = 295;
constexpr int kTemplateHeight = 343;

// The command-line list begins one second after the window opens, so that the user sees the
// window before the first run takes it over.
constexpr int kAutoRunDelayMs = 1000;

// The days offered when keeping versions is turned on.
constexpr int kDefaultKeepVersionDays = 30;

}  // namespace

CMirovaDlg::CMirovaDlg(CMirovaApp& app, SettingsStore& store, QWidget* parent)
    : QDialog(parent), app_(app), store_(store) {
    exclusions_.Load(store_);
    LoadSettings(table_, store_);

    // A caption with the system menu and a minimise button; a window of its own in the task bar.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Mirova"));
    setWindowIcon(QIcon(ui::ProgramIcon()));
    ui::ApplyLook(this);

    BuildMenus();
    BuildControls();

    runUi_ = std::make_unique<GuiRunUi>(app_, this);
    run_ = std::make_unique<RunController>(app_.runState(), *this, *runUi_);
    exclusionEditor_ = new ui::CJlistDlg(
        exclusions_,
        [this](const QString& text, int type) { return app_.DoMessageBox(text, type); }, this);

    // What the window shows when it opens: the current preset and the options of the command
    // line.
    SelectPreset(table_.currentPreset);
    RunState& state = app_.runState();
    noStopOnError_->setChecked(state.noStopOnError.load() != 0);
    suppressDeletion_->setChecked(state.suppressDeletion != 0);
    connect(noStopOnError_, &QCheckBox::toggled, this, &CMirovaDlg::OnNoStopOnError);

    if (state.autoRunCount > 0) {
        state.autoRunNext = 0;
        QTimer::singleShot(kAutoRunDelayMs, this, [this] { run_->ContinueAutoRun(); });
    }
}

CMirovaDlg::~CMirovaDlg() = default;

void CMirovaDlg::BuildMenus() {
    menuBar_ = ui::AddStandardMenuBar(this);

    // The commands that edit the presets or the exclusion lists, or replace them from a file,
    // are disabled while a run is in progress: the run reads them.
    const auto addEditing = [this](QMenu* menu, const QString& text,
                                   void (CMirovaDlg::*handler)()) {
        QAction* action = menu->addAction(text);
        connect(action, &QAction::triggered, this, handler);
        editingActions_.push_back(action);
    };

    QMenu* file = menuBar_->addMenu(QStringLiteral("ファイル(&F)"));
    // Saving only reads the presets in memory, which a run never changes: it stays available.
    QAction* save = file->addAction(QStringLiteral("プリセットデータ保存(&S)"));
    connect(save, &QAction::triggered, this, &CMirovaDlg::SavePresetData);
    addEditing(file, QStringLiteral("プリセットデータ読込み(&R)"), &CMirovaDlg::LoadPresetData);
    file->addSeparator();
    addEditing(file, QStringLiteral("除外リストの編集"), &CMirovaDlg::EditExclusions);
    file->addSeparator();
    exitAction_ = file->addAction(QStringLiteral("アプリケーションの終了"));
    connect(exitAction_, &QAction::triggered, this, &QDialog::reject);

    QMenu* edit = menuBar_->addMenu(QStringLiteral("編集(&E)"));
    addEditing(edit, QStringLiteral("編集モード(&E)"), &CMirovaDlg::EditPresets);
    edit->addSeparator();
    QAction* schedule = edit->addAction(QStringLiteral("スケジュール(&S)"));
    connect(schedule, &QAction::triggered, this, &CMirovaDlg::OpenScheduler);
    // A setting of every run, read when a run starts; like the presets, not changed during one.
    edit->addSeparator();
    keepVersions_ = edit->addAction(QStringLiteral("旧バージョンを保存する(&K)..."));
    keepVersions_->setCheckable(true);
    keepVersions_->setChecked(table_.keepVersions > 0);
    connect(keepVersions_, &QAction::triggered, this, &CMirovaDlg::ToggleKeepVersions);
    editingActions_.push_back(keepVersions_);

    // What the latest run did (or, for a compare, would do), and the run log itself.
    QMenu* view = menuBar_->addMenu(QStringLiteral("表示(&V)"));
    QAction* results = view->addAction(QStringLiteral("比較結果(&R)"));
    connect(results, &QAction::triggered, this, &CMirovaDlg::ShowResults);
    QAction* log = view->addAction(QStringLiteral("ログを開く(&L)"));
    connect(log, &QAction::triggered, this, &CMirovaDlg::OpenRunLog);

    QMenu* help = menuBar_->addMenu(QStringLiteral("ヘルプ(&H)"));
    QAction* about = help->addAction(QStringLiteral("Mirova のバージョン情報(&A)..."));
    connect(about, &QAction::triggered, this, &CMirovaDlg::ShowAbout);
}

void CMirovaDlg::BuildControls() {
    const ui::DialogUnits units(ui::DialogFont());
    const int menuHeight = menuBar_->sizeHint().height();
    setFixedSize(units.x(kTemplateWidth), units.y(kTemplateHeight) + menuHeight);
    menuBar_->setGeometry(0, 0, width(), menuHeight);

    // Template coordinates, moved below the menu bar.
    const auto area = [&](int left, int top, int w, int h) {
        return units.rect(left, top, w, h).translated(0, menuHeight);
    };
    const auto place = [&](QWidget* widget, int left, int top, int w, int h) {
        widget->setGeometry(area(left, top, w, h));
    };
    // Bitmap buttons take the size of their pictures; only their corner comes from the template.
    const auto placeButton = [&](QWidget* widget, int left, int top) {
        widget->move(units.x(left), units.y(top) + menuHeight);
    };

    // The group boxes come first so that the controls inside them lie above them and get the
    // clicks; they take no focus, so the tab order is that of the controls made below.
    const auto group = [&](const QString& title, int left, int top, int w, int h) {
        auto* box = new QGroupBox(title, this);
        place(box, left, top, w, h);
    };
    group(QStringLiteral("キャプション"), 12, 6, 271, 87);
    group(QStringLiteral("ソースフォルダ"), 12, 99, 271, 39);
    group(QStringLiteral("ターゲットフォルダ"), 12, 156, 271, 39);
    group(QStringLiteral("プリセット"), 12, 206, 271, 97);

    okButton_ = new ui::BitmapButton(QStringLiteral("ｱｯﾌﾟﾃﾞｰﾄ実行"), this);
    placeButton(okButton_, 174, 311);
    connect(okButton_, &QAbstractButton::clicked, this, &CMirovaDlg::OnOK);

    closeButton_ = new ui::BitmapButton(QStringLiteral("閉じる"), this);
    placeButton(closeButton_, 231, 311);
    connect(closeButton_, &QAbstractButton::clicked, this, &QDialog::reject);

    presetGroup_ = new QButtonGroup(this);
    // Return runs the current preset wherever the focus is.
    presetButtons_ = ui::AddPresetButtons(this, presetGroup_, area);
    connect(presetGroup_, &QButtonGroup::idClicked, this, &CMirovaDlg::SelectPreset);

    noStopOnError_ = new QCheckBox(QStringLiteral("エラーで停止しない"), this);
    place(noStopOnError_, 19, 320, 73, 10);

    compareButton_ = new ui::BitmapButton(QStringLiteral("コンペア"), this);
    placeButton(compareButton_, 117, 311);
    connect(compareButton_, &QAbstractButton::clicked, this, &CMirovaDlg::OnCompare);

    caption_ = new QPlainTextEdit(this);
    caption_->setReadOnly(true);
    caption_->setTabChangesFocus(true);
    place(caption_, 16, 21, 261, 53);

    suppressDeletion_ = new QCheckBox(QStringLiteral("同期削除を抑止する"), this);
    place(suppressDeletion_, 19, 307, 75, 10);

    source_ = new QLineEdit(this);
    source_->setReadOnly(true);
    place(source_, 16, 114, 261, 14);

    target_ = new QLineEdit(this);
    target_->setReadOnly(true);
    place(target_, 16, 170, 261, 14);

    // The switches only show the preset; they change in the preset editor.
    mergeMode_ = new QCheckBox(QStringLiteral("マージモード"), this);
    place(mergeMode_, 135, 78, 48, 10);
    mergeMode_->setEnabled(false);

    useExclusions_ = new QCheckBox(QStringLiteral("除外リストを有効にする"), this);
    place(useExclusions_, 199, 78, 77, 10);
    useExclusions_->setEnabled(false);

    // The template's check boxes were measured for a narrower font and a smaller box: each
    // grows to show its whole text, up to the next control or the frame of its group.
    FitToText(mergeMode_, useExclusions_->x());
    FitToText(useExclusions_, units.x(12 + 271) - units.x(2));
    FitToText(suppressDeletion_, compareButton_->x());
    FitToText(noStopOnError_, compareButton_->x());
}

RunPreset CMirovaDlg::PresetAt(int index) const {
    return RunPresetOf(table_, index);
}

void CMirovaDlg::SelectPreset(int index) {
    if (index < 0 || index >= kPresetCount) {
        return;  // the table always has a current preset; a wrong index changes nothing
    }
    table_.currentPreset = index;
    const Preset& preset = table_.presets[static_cast<std::size_t>(index)];
    caption_->setPlainText(CaptionText(preset.caption));
    source_->setText(QString::fromStdString(preset.sourceFolder));
    source_->setCursorPosition(0);
    target_->setText(QString::fromStdString(preset.targetFolder));
    target_->setCursorPosition(0);
    mergeMode_->setChecked(preset.mergeMode == 1);
    useExclusions_->setChecked(preset.useExclusions == 1);
    // A merge has no compare run of its own.
    compareButton_->setVisible(preset.mergeMode != 1);
    presetButtons_[static_cast<std::size_t>(index)]->setChecked(true);
}

void CMirovaDlg::OnOK() {
    StartRun(RunKind::Synchronise);
}

void CMirovaDlg::OnCompare() {
    StartRun(RunKind::Compare);
}

void CMirovaDlg::StartRun(RunKind kind) {
    if (run_->running()) {
        return;
    }
    RunState& state = app_.runState();
    state.noStopOnError = noStopOnError_->isChecked() ? 1 : 0;
    state.suppressDeletion = suppressDeletion_->isChecked() ? 1 : 0;
    state.deleteLimit = table_.deleteLimit;
    state.keepVersions = table_.keepVersions;
    SetRunning(true);
    // The run copies the preset: picking another one meanwhile cannot change it. A run that ends
    // at once (a missing folder) has already told RunEnded, and one started by the list from
    // there is still going; the controls follow whichever holds now.
    run_->StartRun(kind, PresetAt(table_.currentPreset), &exclusions_);
    SetRunning(run_->running());
}

void CMirovaDlg::OnNoStopOnError() {
    // The scan worker reads the flag at each use, so a run in progress follows it at once.
    app_.runState().noStopOnError = noStopOnError_->isChecked() ? 1 : 0;
}

void CMirovaDlg::EndDialog(int result) {
    done(result);
}

void CMirovaDlg::RunEnded(RunOutcome) {
    SetRunning(false);
}

bool CMirovaDlg::runInProgress() const {
    return run_ != nullptr && run_->running();
}

void CMirovaDlg::SetRunning(bool running) {
    for (QAbstractButton* button : presetButtons_) {
        button->setEnabled(!running);
    }
    okButton_->setEnabled(!running);
    compareButton_->setEnabled(!running);
    // The window stays until its run has ended (the run's scans and lists belong to it), so the
    // ways to close it are disabled with the run buttons rather than left to do nothing.
    closeButton_->setEnabled(!running);
    exitAction_->setEnabled(!running);
    for (QAction* action : editingActions_) {
        action->setEnabled(!running);
    }
}

void CMirovaDlg::ToggleKeepVersions() {
    if (table_.keepVersions > 0) {
        table_.keepVersions = 0;
    } else {
        int days = kDefaultKeepVersionDays;
        if (AskKeepVersionDays(days)) {
            table_.keepVersions = days;
        }
    }
    keepVersions_->setChecked(table_.keepVersions > 0);
}

bool CMirovaDlg::AskKeepVersionDays(int& days) {
    KeepVersionsDlg dialog(days, this);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    days = dialog.days();
    return true;
}

void CMirovaDlg::OpenScheduler() {
    ScheduleDlg schedule(table_.currentPreset + 1, QCoreApplication::applicationFilePath(), this);
    schedule.exec();
}

void CMirovaDlg::ShowResults() {
    // One window, showing the latest record each time it is asked for.
    if (results_ == nullptr) {
        results_ = new ui::CResultsDlg(std::string(), this);
    }
    results_->Load(LatestChangeRecord());
    results_->ShowModeless(this);
}

void CMirovaDlg::OpenRunLog() {
    runUi_->OpenWithShell(LogFilePath(kRunLogName));
}

void CMirovaDlg::ShowAbout() {
    ui::CAboutDlg about(this);
    about.exec();
}

void CMirovaDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Restoring from the task bar shows the window again too; only opening it goes back to the
    // stored place, so that a move made since is kept.
    if (!event->spontaneous()) {
        move(table_.windowLeft, table_.windowTop);
        saved_ = false;
    }
}

void CMirovaDlg::done(int result) {
    // The run's scans and lists belong to this window: it stays until the run has ended.
    if (runInProgress()) {
        return;
    }
    SaveSettings();
    QDialog::done(result);
}

void CMirovaDlg::SaveSettings() {
    if (saved_) {
        return;
    }
    saved_ = true;
    // The restored place of the frame's corner, as move() takes it, also when minimised.
    const QPoint frameOffset = pos() - geometry().topLeft();
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    table_.windowLeft = normal.left() + frameOffset.x();
    table_.windowTop = normal.top() + frameOffset.y();
    mirova::SaveSettings(table_, store_);
    exclusions_.Save(store_);
}

void CMirovaDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = (event->modifiers() | Qt::KeypadModifier) == Qt::KeypadModifier;
    if (!enter || !plain) {
        QDialog::keyPressEvent(event);
        return;
    }
    // A focused push button takes Return for itself, as in any dialog; the caption field keeps
    // it; anywhere else Return is the OK button.
    QWidget* focus = focusWidget();
    if (focus == closeButton_ || focus == compareButton_) {
        static_cast<QAbstractButton*>(focus)->click();
    } else if (focus != caption_) {
        OnOK();
    }
}

}  // namespace mirova
