// The menu commands of the main window that edit the shared data: the exclusion list editor and
// the preset data file.
#include <QFile>
#include <QFileDialog>
#include <QStringList>

#include "app/common/PresetDataFileIo.h"
#include "app/desktop/CMirovaApp.h"
#include "app/desktop/CMirovaDlg.h"
#include "app/desktop/PresetDataCommands.h"
#include "fileops/MessageBox.h"
#include "settings/PresetDataFile.h"
#include "ui/CJlistDlg.h"

namespace mirova {
namespace {

PresetFileChooser& ChooserForTesting() {
    static PresetFileChooser chooser;
    return chooser;
}

// The system's file dialog with the fixed filters, default name and extension; saving asks
// before it replaces an existing file. Opening accepts a name that does not exist, which the
// load then reports as a file it cannot open.
QString ShowFileDialog(PresetFileDialog kind, const QString& title, QWidget* owner) {
    QFileDialog dialog(owner, title);
    PreparePresetFileDialog(dialog, kind);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return QString();
    }
    return dialog.selectedFiles().constFirst();
}

}  // namespace

void PreparePresetFileDialog(QFileDialog& dialog, PresetFileDialog kind) {
    dialog.setAcceptMode(kind == PresetFileDialog::Save ? QFileDialog::AcceptSave
                                                        : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("ﾌﾟﾘｾｯﾄﾃﾞｰﾀ (*.dat)"), QStringLiteral("全てのﾌｧｲﾙ (*)")});
    dialog.setDefaultSuffix(QStringLiteral("dat"));
    dialog.selectFile(QStringLiteral("Preset.dat"));
}

namespace {

QString ChooseFile(PresetFileDialog kind, const QString& title, QWidget* owner) {
    if (const PresetFileChooser& chooser = ChooserForTesting()) {
        return chooser(kind, title, owner);
    }
    return ShowFileDialog(kind, title, owner);
}

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

void SetPresetFileChooserForTesting(PresetFileChooser chooser) {
    ChooserForTesting() = std::move(chooser);
}

void CMirovaDlg::EditExclusions() {
    // The scan of a run reads the lists: they change only between runs.
    if (runInProgress()) {
        return;
    }
    exclusionEditor_->exec();
}

void CMirovaDlg::SavePresetData() {
    const QString chosen =
        ChooseFile(PresetFileDialog::Save, QStringLiteral("ﾌﾟﾘｾｯﾄﾃﾞｰﾀ保存"), this);
    if (chosen.isEmpty()) {
        return;
    }
    // The file appears whole or not at all: an existing file stays as it was when the save
    // fails half-way.
    const platform::SysStatus status =
        ReplaceFileContents(LocalPath(chosen), EncodePresetData(table_.presets, exclusions_));
    if (!status.ok()) {
        app_.DoMessageBox(QStringLiteral("%1を作成できません。").arg(chosen), kMbOk);
        return;
    }
    app_.DoMessageBox(QStringLiteral("保存終了"), kMbOk);
}

void CMirovaDlg::LoadPresetData() {
    if (runInProgress()) {
        return;
    }
    if (app_.DoMessageBox(QString::fromUtf8(kLoadPresetDataQuestion), kMbYesNo) != kIdYes) {
        return;
    }
    const QString chosen =
        ChooseFile(PresetFileDialog::Open, QStringLiteral("ﾌﾟﾘｾｯﾄﾃﾞｰﾀ読込み"), this);
    if (chosen.isEmpty()) {
        return;
    }
    std::string bytes;
    if (!ReadPresetDataBytes(LocalPath(chosen), bytes).empty()) {
        app_.DoMessageBox(QStringLiteral("%1がオープンできません。").arg(chosen), kMbOk);
        return;
    }
    // The whole file is decoded before anything is replaced, so a damaged file changes nothing.
    const DecodedPresetData loaded = DecodePresetData(bytes);
    switch (loaded.status) {
        case DecodedPresetData::Status::NotPresetData:
            app_.DoMessageBox(QStringLiteral("ﾌﾟﾘｾｯﾄﾃﾞｰﾀではありません。"), kMbOk);
            return;
        case DecodedPresetData::Status::Damaged:
            app_.DoMessageBox(
                QString::fromStdString(DamagedPresetDataText(chosen.toStdString(), loaded.problem)),
                kMbOk);
            return;
        case DecodedPresetData::Status::Ok:
            break;
    }
    table_.presets = loaded.presets;
    // The lists keep their own text encoding; only the entries are replaced.
    exclusions_.Clear();
    for (const std::string& name : loaded.exclusions.names()) {
        exclusions_.AddName(name);
    }
    for (const std::string& extension : loaded.exclusions.extensions()) {
        exclusions_.AddExtension(extension);
    }
    SelectPreset(table_.currentPreset);
    app_.DoMessageBox(QStringLiteral("読込み終了"), kMbOk);
}

}  // namespace mirova
