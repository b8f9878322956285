#include "app/console/ConsolePresetFile.h"

#include <ostream>

#include "app/common/PresetDataFileIo.h"
#include "fileops/MessageBox.h"
#include "settings/ExclusionList.h"
#include "settings/Preset.h"
#include "settings/PresetDataFile.h"

namespace mirova {

int ExportPresetData(const std::string& file, SettingsStore& store, std::ostream& out,
                     std::ostream& err) {
    PresetTable table;
    LoadSettings(table, store);
    ExclusionList exclusions;
    exclusions.Load(store);
    const platform::SysStatus status =
        ReplaceFileContents(file, EncodePresetData(table.presets, exclusions));
    if (!status.ok()) {
        err << file << "を作成できません。 (" << status.describe() << ")\n";
        return 1;
    }
    out << "保存終了\n";
    return 0;
}

int ImportPresetData(const std::string& file, SettingsStore& store, MessageBoxHandler& boxes,
                     const std::function<std::string()>& commit, std::ostream& out,
                     std::ostream& err) {
    // The file is read and checked before the question: a file that cannot be loaded is
    // reported at once instead of after a Yes that could not be carried out.
    std::string bytes;
    const std::string problem = ReadPresetDataBytes(file, bytes);
    if (!problem.empty()) {
        err << file << "がオープンできません。 (" << problem << ")\n";
        return 1;
    }
    const DecodedPresetData data = DecodePresetData(bytes);
    switch (data.status) {
        case DecodedPresetData::Status::NotPresetData:
            err << "ﾌﾟﾘｾｯﾄﾃﾞｰﾀではありません。\n";
            return 1;
        case DecodedPresetData::Status::Damaged:
            err << DamagedPresetDataText(file, data.problem) << "\n";
            return 1;
        case DecodedPresetData::Status::Ok:
            break;
    }
    if (boxes.DoMessageBox(kLoadPresetDataQuestion, kMbYesNo) != kIdYes) {
        return 1;
    }
    // The current preset and the window position are not part of the file.
    PresetTable table;
    LoadSettings(table, store);
    table.presets = data.presets;
    SaveSettings(table, store);
    data.exclusions.Save(store);
    if (const std::string unsaved = commit(); !unsaved.empty()) {
        err << unsaved << "\n";
        return 1;
    }
    out << "読込み終了\n";
    return 0;
}

}  // namespace mirova
